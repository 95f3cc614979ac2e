// RSA key-pair generation on the token.
#include "e_zorvel_rsa.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

namespace {

CK_BBOOL kTrue = CK_TRUE;
CK_BBOOL kFalse = CK_FALSE;
CK_OBJECT_CLASS kPrivateClass = CKO_PRIVATE_KEY;
CK_OBJECT_CLASS kPublicClass = CKO_PUBLIC_KEY;
CK_KEY_TYPE kRsaKeyType = CKK_RSA;

CK_ATTRIBUTE private_template[] = {
    {CKA_CLASS, &kPrivateClass, sizeof kPrivateClass},
    {CKA_KEY_TYPE, &kRsaKeyType, sizeof kRsaKeyType},
    {CKA_TOKEN, &kTrue, sizeof kTrue},
    {CKA_DERIVE, &kFalse, sizeof kFalse},
    {CKA_DECRYPT, &kTrue, sizeof kTrue},
    {CKA_SIGN, &kTrue, sizeof kTrue},
    {CKA_SIGN_RECOVER, &kTrue, sizeof kTrue},
    {CKA_UNWRAP, &kTrue, sizeof kTrue},
    {CKA_EXTRACTABLE, &kFalse, sizeof kFalse},
    {CKA_MODIFIABLE, &kTrue, sizeof kTrue},
    {CKA_PRIVATE, &kTrue, sizeof kTrue},
};

int keygen_out_of_memory()
{
    ZORVEL_REPORT(ZORVEL_F_GEN_RSA, ZORVEL_R_OUT_OF_MEMORY);
    zorvel_log(LOG_ERR, "RSA keygen, out of mem");
    return 0;
}

// A BIGNUM of value 1: the private components stay on the token.
BIGNUM *placeholder()
{
    BIGNUM *bn = BN_new();
    if (bn != nullptr && !BN_one(bn)) {
        BN_free(bn);
        bn = nullptr;
    }
    return bn;
}

// Reads CKA_MODULUS of the public object in two calls: CKR_OK with the modulus, CKR_OK
// without one when the token has no usable value, or the failing call's value. A buffer
// that cannot be allocated sets *outOfMemory instead.
CK_RV read_modulus(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, BIGNUM **modulus,
                   bool *outOfMemory)
{
    zorvel_log(LOG_DEBUG, "RSA get attributes with allocation");
    CK_ATTRIBUTE attr = {CKA_MODULUS, nullptr, 0};
    zorvel_token_enter();
    CK_RV rv = f->C_GetAttributeValue(session, key, &attr, 1);
    zorvel_token_leave();
    const CK_ULONG len = attr.ulValueLen;
    if (rv == CKR_OK && len != 0 && len != CK_UNAVAILABLE_INFORMATION) {
        attr.pValue = OPENSSL_malloc(len);
        if (attr.pValue == nullptr) {
            *outOfMemory = true;
            return CKR_OK;
        }
        zorvel_token_enter();
        rv = f->C_GetAttributeValue(session, key, &attr, 1);
        zorvel_token_leave();
        if (rv == CKR_OK && attr.ulValueLen > 0 && attr.ulValueLen <= len) {
            *modulus = BN_bin2bn(static_cast<unsigned char *>(attr.pValue), static_cast<int>(attr.ulValueLen), nullptr);
            if (*modulus == nullptr)
                *outOfMemory = true;
            else if (BN_is_zero(*modulus)) {
                BN_free(*modulus);
                *modulus = nullptr;
            }
        }
    }
    zorvel_log(LOG_DEBUG, "RSA free allocated attributes");
    OPENSSL_free(attr.pValue);
    return rv;
}

// Gives `rsa` the token's modulus, the exponent and placeholder private components.
bool fill_key(RSA *rsa, BIGNUM *n, const BIGNUM *e)
{
    BIGNUM *pub = BN_dup(e);
    BIGNUM *parts[6];
    bool ok = pub != nullptr;
    for (BIGNUM *&part : parts) {
        part = placeholder();
        ok = ok && part != nullptr;
    }
    if (ok && RSA_set0_key(rsa, n, pub, parts[0])) {
        n = nullptr;
        pub = nullptr;
        parts[0] = nullptr;
        if (RSA_set0_factors(rsa, parts[1], parts[2])) {
            parts[1] = parts[2] = nullptr;
            if (RSA_set0_crt_params(rsa, parts[3], parts[4], parts[5])) {
                parts[3] = parts[4] = parts[5] = nullptr;
                RSA_set_flags(rsa, RSA_FLAG_EXT_PKEY);
                return true;
            }
        }
    }
    BN_free(n);
    BN_free(pub);
    for (BIGNUM *part : parts)
        BN_free(part);
    return false;
}

} // namespace

int zorvel_rsa_key_gen(RSA *rsa, int bits, BIGNUM *e, BN_GENCB *)
{
    zorvel_log(LOG_DEBUG, "RSA keygen, bits %i", bits);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    if (e == nullptr || bits < 0 || f == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_F_GEN_RSA, ZORVEL_R_INVALID_VALUE,
                           f == nullptr ? "C_GenerateKeyPair, no function pointers loaded"
                                        : "C_GenerateKeyPair, no public exponent or negative size");
        zorvel_log(LOG_ERR, "RSA keygen, invalid arguments");
        return 0;
    }

    const int exponentLen = BN_num_bytes(e);
    unsigned char *exponent = static_cast<unsigned char *>(OPENSSL_malloc(exponentLen > 0 ? exponentLen : 1));
    if (exponent == nullptr)
        return keygen_out_of_memory();
    BN_bn2bin(e, exponent);

    CK_ULONG modulusBits = static_cast<CK_ULONG>(bits);
    CK_ATTRIBUTE public_template[] = {
        {CKA_CLASS, &kPublicClass, sizeof kPublicClass},
        {CKA_KEY_TYPE, &kRsaKeyType, sizeof kRsaKeyType},
        {CKA_TOKEN, &kTrue, sizeof kTrue},
        {CKA_DERIVE, &kFalse, sizeof kFalse},
        {CKA_ENCRYPT, &kTrue, sizeof kTrue},
        {CKA_VERIFY, &kTrue, sizeof kTrue},
        {CKA_VERIFY_RECOVER, &kTrue, sizeof kTrue},
        {CKA_WRAP, &kTrue, sizeof kTrue},
        {CKA_MODIFIABLE, &kTrue, sizeof kTrue},
        {CKA_PRIVATE, &kTrue, sizeof kTrue},
        {CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits},
        {CKA_PUBLIC_EXPONENT, exponent, static_cast<CK_ULONG>(exponentLen)},
    };
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE hPublic = 0;
    CK_OBJECT_HANDLE hPrivate = 0;
    zorvel_token_enter();
    CK_RV rv =
        f->C_GenerateKeyPair(ctx->session, &mechanism, public_template, 12, private_template, 11, &hPublic, &hPrivate);
    zorvel_token_leave();
    OPENSSL_free(exponent);
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_F_GEN_RSA, ZORVEL_R_PKCS11_ERROR, "C_GenerateKeyPair=0x", rv);
        zorvel_log(LOG_ERR, "RSA keygen error: 0x%08X", static_cast<unsigned>(rv));
        return 0;
    }

    BIGNUM *n = nullptr;
    bool outOfMemory = false;
    rv = read_modulus(f, ctx->session, hPublic, &n, &outOfMemory);
    if (outOfMemory)
        return keygen_out_of_memory();
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_F_GEN_RSA, ZORVEL_R_PKCS11_ERROR, "zorvel_getAttributeValuesWithAllocation=0x", rv);
        zorvel_log(LOG_ERR, "RSA keygen retrieve attributes error: 0x%08X", static_cast<unsigned>(rv));
        return 0;
    }
    if (n == nullptr) {
        // A key with n = 0 would look valid to OpenSSL and fail every operation.
        ZORVEL_REPORT_TEXT(ZORVEL_F_GEN_RSA, ZORVEL_R_INVALID_VALUE,
                           "C_GetAttributeValue, CKA_MODULUS empty or unavailable");
        zorvel_log(LOG_ERR, "RSA keygen, modulus empty or unavailable");
        return 0;
    }
    if (!fill_key(rsa, n, e))
        return keygen_out_of_memory();
    return 1;
}
