#include "e_zorvel_pkey_params.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include "e_zorvel_hash_table.h"

extern "C" {
thread_local int zorvel_rsa_mechanismType = RSA_PKCS1_PADDING;
thread_local int zorvel_rsa_hashType = 0;
thread_local CK_ULONG zorvel_rsa_hMAC = CKM_SHA_1_HMAC;
thread_local CK_ULONG zorvel_rsa_mFG = CKG_MGF1_SHA1;
thread_local CK_ULONG zorvel_rsa_sLen = 64;
thread_local unsigned char *zorvel_rsa_seed = nullptr;
thread_local CK_ULONG zorvel_rsa_seedLen = 0;
thread_local int zorvel_rsa_keyLenBits = 0;
thread_local BIGNUM *zorvel_rsa_pubExp = nullptr;
}

zorvel_rsa_pkey_params *zorvel_rsa_pkey_params_new()
{
    auto *p = static_cast<zorvel_rsa_pkey_params *>(OPENSSL_zalloc(sizeof(zorvel_rsa_pkey_params)));
    if (p == nullptr)
        return nullptr;
    p->mechanismType = RSA_PKCS1_PADDING;
    p->hashType = 0;
    p->hMAC = CKM_SHA_1_HMAC;
    p->mFG = CKG_MGF1_SHA1;
    p->mFGExplicit = 0;
    p->sLen = 64;
    p->keyLenBits = 0;
    return p;
}

zorvel_rsa_pkey_params *zorvel_rsa_pkey_params_dup(const zorvel_rsa_pkey_params *src)
{
    auto *p = static_cast<zorvel_rsa_pkey_params *>(OPENSSL_memdup(src, sizeof(*src)));
    if (p == nullptr)
        return nullptr;
    p->seed = nullptr;
    p->pubExp = nullptr;
    if (src->seed != nullptr && (p->seed = static_cast<unsigned char *>(OPENSSL_memdup(src->seed, src->seedLen))) == nullptr) {
        zorvel_rsa_pkey_params_free(p);
        return nullptr;
    }
    if (src->pubExp != nullptr && (p->pubExp = BN_dup(src->pubExp)) == nullptr) {
        zorvel_rsa_pkey_params_free(p);
        return nullptr;
    }
    return p;
}

void zorvel_rsa_pkey_params_free(zorvel_rsa_pkey_params *p)
{
    if (p == nullptr)
        return;
    OPENSSL_free(p->seed);
    BN_free(p->pubExp);
    OPENSSL_free(p);
}

namespace {

// The MGF1 hash that goes with the operation's digest when none was named; the stored
// generator when PKCS#11 has no MGF1 for that digest.
CK_RSA_PKCS_MGF_TYPE mgf1_of(const zorvel_rsa_pkey_params *p)
{
    if (p->mFGExplicit)
        return p->mFG;
    // OAEP hashes with hMAC's digest; PSS with the digest set, else hMAC's.
    int nid = zorvel_rsa_pss_digest_nid(p->mechanismType == RSA_PKCS1_PSS_PADDING ? p->hashType : 0, p->hMAC);
    const zorvel_hash_info *h = zorvel_hash_by_nid(nid);
    return h != nullptr && h->mgf1 != 0 ? h->mgf1 : p->mFG;
}

} // namespace

int zorvel_rsa_pkey_params_ctrl(zorvel_rsa_pkey_params *p, int type, int p1, void *p2)
{
    switch (type) {
    case EVP_PKEY_CTRL_MD:
        if (p2 == nullptr)
            return 0;
        p->hashType = EVP_MD_get_type(static_cast<const EVP_MD *>(p2));
        return 1;
    case EVP_PKEY_CTRL_DIGESTINIT:
        return 1;
    case EVP_PKEY_CTRL_RSA_PADDING:
        p->mechanismType = p1;
        return 1;
    case EVP_PKEY_CTRL_RSA_PSS_SALTLEN:
        // Below RSA_PSS_SALTLEN_MAX there is no meaning, and the value would reach the
        // token as an enormous unsigned length.
        if (p1 < RSA_PSS_SALTLEN_MAX)
            return 0;
        p->sLen = p1;
        return 1;
    case EVP_PKEY_CTRL_RSA_KEYGEN_BITS:
        p->keyLenBits = p1;
        return 1;
    case EVP_PKEY_CTRL_RSA_KEYGEN_PUBEXP:
        if (p2 == nullptr)
            return 0;
        BN_free(p->pubExp);
        p->pubExp = static_cast<BIGNUM *>(p2);
        return 1;
    case EVP_PKEY_CTRL_GET_RSA_PADDING:
        if (p2 == nullptr)
            return 0;
        *static_cast<int *>(p2) = p->mechanismType;
        return 1;
    // The settings that OpenSSL reads back to describe a PSS signature (X.509 signing)
    // and sets from one (X.509 verification).
    case EVP_PKEY_CTRL_GET_MD:
        if (p2 == nullptr)
            return 0;
        *static_cast<const EVP_MD **>(p2) = p->hashType != 0 ? EVP_get_digestbynid(p->hashType) : nullptr;
        return 1;
    case EVP_PKEY_CTRL_GET_RSA_PSS_SALTLEN:
        if (p2 == nullptr)
            return 0;
        *static_cast<int *>(p2) = p->sLen;
        return 1;
    case EVP_PKEY_CTRL_GET_RSA_MGF1_MD: {
        if (p2 == nullptr)
            return 0;
        const zorvel_hash_info *h = zorvel_hash_by_mgf1(mgf1_of(p));
        *static_cast<const EVP_MD **>(p2) = h != nullptr ? EVP_get_digestbynid(h->nid) : nullptr;
        return 1;
    }
    case EVP_PKEY_CTRL_RSA_MGF1_MD: {
        const zorvel_hash_info *h =
            p2 != nullptr ? zorvel_hash_by_nid(EVP_MD_get_type(static_cast<const EVP_MD *>(p2))) : nullptr;
        if (h == nullptr || h->mgf1 == 0)
            return 0;
        p->mFG = h->mgf1;
        p->mFGExplicit = 1;
        return 1;
    }
    default:
        return 0;
    }
}

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

int zorvel_rsa_pkey_params_set_hexseed(zorvel_rsa_pkey_params *p, const char *hex)
{
    if (hex == nullptr)
        return 0;
    size_t textLen = std::strlen(hex);
    if (textLen % 2 != 0)
        return 0;
    for (size_t i = 0; i < textLen; ++i)
        if (hex_digit(hex[i]) < 0)
            return 0;

    unsigned char *label = nullptr;
    size_t labelLen = textLen / 2;
    if (labelLen > 0) {
        label = static_cast<unsigned char *>(OPENSSL_malloc(labelLen));
        if (label == nullptr)
            return 0;
        for (size_t i = 0; i < labelLen; ++i)
            label[i] = static_cast<unsigned char>(hex_digit(hex[2 * i]) * 16 + hex_digit(hex[2 * i + 1]));
    }
    OPENSSL_free(p->seed);
    p->seed = label;
    p->seedLen = labelLen;
    return 1;
}

int zorvel_parse_pss_saltlen(const char *text, int *saltLen)
{
    if (text == nullptr || *text == '\0')
        return 0;
    if (std::strcmp(text, "digest") == 0) {
        *saltLen = RSA_PSS_SALTLEN_DIGEST;
        return 1;
    }
    if (std::strcmp(text, "max") == 0) {
        *saltLen = RSA_PSS_SALTLEN_MAX;
        return 1;
    }
    if (std::strcmp(text, "auto") == 0) {
        *saltLen = RSA_PSS_SALTLEN_AUTO;
        return 1;
    }
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < RSA_PSS_SALTLEN_MAX || value > INT_MAX)
        return 0;
    *saltLen = static_cast<int>(value);
    return 1;
}

int zorvel_rsa_pss_digest_nid(int hashType, CK_MECHANISM_TYPE hMAC)
{
    if (hashType != 0)
        return hashType;
    const zorvel_hash_info *h = zorvel_hash_by_hmac(hMAC);
    return h != nullptr ? h->nid : 0;
}

namespace {

CK_ULONG resolve_salt_length(const zorvel_rsa_pkey_params *p, int modulusBits)
{
    if (p->sLen >= 0)
        return static_cast<CK_ULONG>(p->sLen);
    const zorvel_hash_info *h = zorvel_hash_by_nid(zorvel_rsa_pss_digest_nid(p->hashType, p->hMAC));
    long hashLen = h != nullptr ? static_cast<long>(h->size) : 0;
    if (p->sLen == RSA_PSS_SALTLEN_DIGEST)
        return static_cast<CK_ULONG>(hashLen);
    // Maximum: the encoded message has ceil((modBits - 1) / 8) bytes, of which the hash
    // and two more bytes are not salt.
    long emLen = (static_cast<long>(modulusBits) - 1 + 7) / 8;
    long maxSalt = emLen - hashLen - 2;
    return maxSalt > 0 ? static_cast<CK_ULONG>(maxSalt) : 0;
}

} // namespace

void zorvel_rsa_pkey_params_mirror(const zorvel_rsa_pkey_params *p, int modulusBits)
{
    zorvel_rsa_mechanismType = p->mechanismType;
    zorvel_rsa_hashType = p->hashType;
    zorvel_rsa_hMAC = p->hMAC;
    zorvel_rsa_mFG = mgf1_of(p);
    zorvel_rsa_sLen = resolve_salt_length(p, modulusBits);
    zorvel_rsa_seed = p->seed;
    zorvel_rsa_seedLen = p->seedLen;
    zorvel_rsa_keyLenBits = p->keyLenBits;
    zorvel_rsa_pubExp = p->pubExp;
}

void zorvel_rsa_pkey_params_mirror_clear()
{
    zorvel_rsa_seed = nullptr;
    zorvel_rsa_seedLen = 0;
    zorvel_rsa_pubExp = nullptr;
}
