#include "e_zorvel_pkey_mech.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "e_zorvel_hash_table.h"
#include "e_zorvel_internal.h"
#include "e_zorvel_pkey_params.h"

namespace {

template <typename T>
T *zalloc_one()
{
    return static_cast<T *>(OPENSSL_zalloc(sizeof(T)));
}

template <typename Params>
int attach(CK_MECHANISM *m, CK_MECHANISM_TYPE type, Params *params)
{
    m->mechanism = type;
    m->pParameter = params;
    m->ulParameterLen = sizeof(*params);
    return 0;
}

int set_pkcs1(CK_MECHANISM *m)
{
    if (zorvel_rsa_hashType == 0) {
        m->mechanism = CKM_RSA_PKCS;
        return 0;
    }
    const zorvel_hash_info *h = zorvel_hash_by_nid(zorvel_rsa_hashType);
    if (h == nullptr)
        return ZORVEL_R_INVALID_HASH_LENGTH;
    m->mechanism = h->pkcs1Sign;
    return 0;
}

int set_oaep(CK_MECHANISM *m)
{
    auto *params = zalloc_one<CK_RSA_PKCS_OAEP_PARAMS>();
    if (params == nullptr)
        return ZORVEL_R_OUT_OF_MEMORY;
    params->hashAlg = zorvel_rsa_hMAC;
    params->mgf = zorvel_rsa_mFG;
    if (zorvel_rsa_seed != nullptr && zorvel_rsa_seedLen > 0) {
        params->pSourceData = OPENSSL_memdup(zorvel_rsa_seed, zorvel_rsa_seedLen);
        if (params->pSourceData == nullptr) {
            OPENSSL_free(params);
            return ZORVEL_R_OUT_OF_MEMORY;
        }
        params->source = CKZ_DATA_SPECIFIED;
        params->ulSourceDataLen = zorvel_rsa_seedLen;
    }
    return attach(m, CKM_RSA_PKCS_OAEP, params);
}

int set_pss(CK_MECHANISM *m)
{
    CK_MECHANISM_TYPE hashAlg = zorvel_rsa_hMAC;
    if (zorvel_rsa_hashType != 0) {
        const zorvel_hash_info *h = zorvel_hash_by_nid(zorvel_rsa_hashType);
        if (h == nullptr || h->nid == NID_md5)
            return ZORVEL_R_INVALID_HASH_LENGTH;
        hashAlg = h->digest;
    }
    auto *params = zalloc_one<CK_RSA_PKCS_PSS_PARAMS>();
    if (params == nullptr)
        return ZORVEL_R_OUT_OF_MEMORY;
    params->hashAlg = hashAlg;
    params->mgf = zorvel_rsa_mFG;
    params->sLen = zorvel_rsa_sLen;
    return attach(m, CKM_RSA_PKCS_PSS, params);
}

} // namespace

int zorvel_rsa_build_mechanism(CK_MECHANISM **out)
{
    *out = nullptr;
    auto *m = zalloc_one<CK_MECHANISM>();
    if (m == nullptr)
        return ZORVEL_R_OUT_OF_MEMORY;
    int reason;
    switch (zorvel_rsa_mechanismType) {
    case RSA_PKCS1_PADDING:
        reason = set_pkcs1(m);
        break;
    case RSA_PKCS1_OAEP_PADDING:
        reason = set_oaep(m);
        break;
    case RSA_PKCS1_PSS_PADDING:
        reason = set_pss(m);
        break;
    case RSA_NO_PADDING:
        m->mechanism = CKM_RSA_X_509;
        reason = 0;
        break;
    default:
        reason = ZORVEL_R_UNSUPPORTED_MECHANISM;
        break;
    }
    if (reason != 0) {
        OPENSSL_free(m);
        return reason;
    }
    *out = m;
    return 0;
}

void zorvel_rsa_release_mechanism(CK_MECHANISM *m)
{
    if (m == nullptr)
        return;
    if (m->mechanism == CKM_RSA_PKCS_OAEP && m->pParameter != nullptr)
        OPENSSL_free(static_cast<CK_RSA_PKCS_OAEP_PARAMS *>(m->pParameter)->pSourceData);
    OPENSSL_free(m->pParameter);
    OPENSSL_free(m);
}

int zorvel_rsa_digest_length_ok(int hashType, long len)
{
    const zorvel_hash_info *h = zorvel_hash_by_nid(hashType);
    return h == nullptr || len == static_cast<long>(h->size);
}

int zorvel_rsa_is_digest_info_mechanism(CK_MECHANISM_TYPE type)
{
    return zorvel_hash_by_pkcs1_sign(type) != nullptr;
}

zorvel_digest_info_status zorvel_digest_info_encode(int nid, const unsigned char *digest, size_t digestLen,
                                                    unsigned char **der, size_t *derLen)
{
    *der = nullptr;
    *derLen = 0;
    ASN1_OBJECT *oid = OBJ_nid2obj(nid);
    if (oid == nullptr)
        return ZORVEL_DIGEST_INFO_UNKNOWN_ALGORITHM;
    if (OBJ_length(oid) == 0)
        return ZORVEL_DIGEST_INFO_UNKNOWN_OID;

    zorvel_digest_info_status status = ZORVEL_DIGEST_INFO_NO_MEMORY;
    X509_SIG *sig = X509_SIG_new();
    X509_ALGOR *algorithm = nullptr;
    ASN1_OCTET_STRING *octets = nullptr;
    if (sig != nullptr) {
        X509_SIG_getm(sig, &algorithm, &octets);
        unsigned char *buffer = nullptr;
        int length;
        if (X509_ALGOR_set0(algorithm, oid, V_ASN1_NULL, nullptr)
            && ASN1_OCTET_STRING_set(octets, digest, static_cast<int>(digestLen))
            && (length = i2d_X509_SIG(sig, &buffer)) > 0) {
            *der = buffer;
            *derLen = static_cast<size_t>(length);
            status = ZORVEL_DIGEST_INFO_OK;
        }
    }
    X509_SIG_free(sig);
    return status;
}
