#include "e_zorvel_hash_table.h"

#include <cstring>

#include <openssl/obj_mac.h>

namespace {

const zorvel_hash_info kHashes[] = {
    {NID_md5, "md5", 16, CKM_MD5, CKM_MD5_HMAC, 0, CKM_MD5_RSA_PKCS},
    {NID_sha1, "sha1", 20, CKM_SHA_1, CKM_SHA_1_HMAC, CKG_MGF1_SHA1, CKM_SHA1_RSA_PKCS},
    {NID_sha224, "sha224", 28, CKM_SHA224, CKM_SHA224_HMAC, CKG_MGF1_SHA224, CKM_SHA224_RSA_PKCS},
    {NID_sha256, "sha256", 32, CKM_SHA256, CKM_SHA256_HMAC, CKG_MGF1_SHA256, CKM_SHA256_RSA_PKCS},
    {NID_sha384, "sha384", 48, CKM_SHA384, CKM_SHA384_HMAC, CKG_MGF1_SHA384, CKM_SHA384_RSA_PKCS},
    {NID_sha512, "sha512", 64, CKM_SHA512, CKM_SHA512_HMAC, CKG_MGF1_SHA512, CKM_SHA512_RSA_PKCS},
};

template <typename Match>
const zorvel_hash_info *find(Match match)
{
    for (const zorvel_hash_info &h : kHashes)
        if (match(h))
            return &h;
    return nullptr;
}

} // namespace

const zorvel_hash_info *zorvel_hash_by_nid(int nid)
{
    return find([nid](const zorvel_hash_info &h) { return h.nid == nid; });
}

const zorvel_hash_info *zorvel_hash_by_name(const char *name)
{
    if (name == nullptr)
        return nullptr;
    return find([name](const zorvel_hash_info &h) { return std::strcmp(h.name, name) == 0; });
}

const zorvel_hash_info *zorvel_hash_by_hmac(CK_MECHANISM_TYPE hmac)
{
    return find([hmac](const zorvel_hash_info &h) { return h.hmac == hmac; });
}

const zorvel_hash_info *zorvel_hash_by_mgf1(CK_RSA_PKCS_MGF_TYPE mgf1)
{
    return find([mgf1](const zorvel_hash_info &h) { return mgf1 != 0 && h.mgf1 == mgf1; });
}

const zorvel_hash_info *zorvel_hash_by_pkcs1_sign(CK_MECHANISM_TYPE mechanism)
{
    return find([mechanism](const zorvel_hash_info &h) { return h.pkcs1Sign == mechanism; });
}
