#include "rsa_token_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/engine.h>
#include <openssl/param_build.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

EVP_PKEY *make_software_rsa(int bits)
{
    return EVP_RSA_gen(static_cast<unsigned int>(bits));
}

std::vector<unsigned char> key_param(const EVP_PKEY *key, const char *name)
{
    BIGNUM *bn = nullptr;
    std::vector<unsigned char> bytes;
    if (EVP_PKEY_get_bn_param(key, name, &bn) == 1) {
        bytes.resize(static_cast<size_t>(BN_num_bytes(bn)));
        BN_bn2bin(bn, bytes.data());
    }
    BN_clear_free(bn);
    return bytes;
}

namespace {

BIGNUM *param_bn(const EVP_PKEY *key, const char *name)
{
    BIGNUM *bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    return bn;
}

} // namespace

RSA *engine_rsa_copy(ENGINE *engine, const EVP_PKEY *key, bool publicOnly)
{
    RSA *rsa = RSA_new_method(engine);
    if (rsa == nullptr)
        return nullptr;
    BIGNUM *d = publicOnly ? nullptr : param_bn(key, OSSL_PKEY_PARAM_RSA_D);
    if (!RSA_set0_key(rsa, param_bn(key, OSSL_PKEY_PARAM_RSA_N), param_bn(key, OSSL_PKEY_PARAM_RSA_E), d)) {
        RSA_free(rsa);
        return nullptr;
    }
    if (!publicOnly) {
        RSA_set0_factors(rsa, param_bn(key, OSSL_PKEY_PARAM_RSA_FACTOR1), param_bn(key, OSSL_PKEY_PARAM_RSA_FACTOR2));
        RSA_set0_crt_params(rsa, param_bn(key, OSSL_PKEY_PARAM_RSA_EXPONENT1),
                            param_bn(key, OSSL_PKEY_PARAM_RSA_EXPONENT2),
                            param_bn(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1));
    }
    return rsa;
}

EVP_PKEY *engine_pkey_copy(ENGINE *engine, const EVP_PKEY *key, bool publicOnly)
{
    RSA *rsa = engine_rsa_copy(engine, key, publicOnly);
    EVP_PKEY *pkey = rsa != nullptr ? EVP_PKEY_new() : nullptr;
    if (pkey == nullptr || !EVP_PKEY_assign_RSA(pkey, rsa)) {
        EVP_PKEY_free(pkey);
        RSA_free(rsa);
        return nullptr;
    }
    return pkey;
}

TokenKeys::~TokenKeys()
{
    if (f_ != nullptr && session_ != 0)
        f_->C_CloseSession(session_);
    if (library_ != nullptr)
        dlclose(library_);
}

bool TokenKeys::open(const std::string &libraryPath)
{
    library_ = dlopen(libraryPath.c_str(), RTLD_NOW);
    if (library_ == nullptr)
        return false;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library_, "C_GetFunctionList"));
    if (getList == nullptr || getList(&f_) != CKR_OK)
        return false;
    CK_RV rv = f_->C_Initialize(nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return false;
    if (f_->C_OpenSession(0, CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr, nullptr, &session_) != CKR_OK)
        return false;
    const char *pin = getenv("ZORVEL_TEST_USER_PIN");
    if (pin == nullptr)
        return false;
    rv = f_->C_Login(session_, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char *>(pin)), strlen(pin));
    return rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN;
}

CK_OBJECT_HANDLE TokenKeys::create(std::vector<CK_ATTRIBUTE> attrs, const std::vector<CK_ATTRIBUTE> &extra)
{
    /* A later entry of the same type replaces the earlier one. */
    for (const CK_ATTRIBUTE &override : extra) {
        bool replaced = false;
        for (CK_ATTRIBUTE &attr : attrs)
            if (attr.type == override.type) {
                attr = override;
                replaced = true;
            }
        if (!replaced)
            attrs.push_back(override);
    }
    CK_OBJECT_HANDLE object = 0;
    if (f_->C_CreateObject(session_, attrs.data(), attrs.size(), &object) != CKR_OK)
        return 0;
    return object;
}

namespace {

CK_BBOOL kTrue = CK_TRUE;
CK_KEY_TYPE kRsa = CKK_RSA;
CK_OBJECT_CLASS kPublic = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS kPrivate = CKO_PRIVATE_KEY;

CK_ATTRIBUTE bytes_attr(CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &value)
{
    return {type, value.data(), value.size()};
}

/* A key component: its attribute and the key parameter it comes from. */
struct KeyPart {
    CK_ATTRIBUTE_TYPE type;
    const char *param;
};

const std::vector<KeyPart> kPublicParts = {{CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N},
                                           {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E}};
const std::vector<KeyPart> kPrivateParts = {
    {CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N},
    {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E},
    {CKA_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D},
    {CKA_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1},
    {CKA_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2},
    {CKA_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1},
    {CKA_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2},
    {CKA_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1},
};

} // namespace

CK_OBJECT_HANDLE TokenKeys::import(const EVP_PKEY *key, std::vector<CK_ATTRIBUTE> attrs, bool isPrivate,
                                   const std::vector<CK_ATTRIBUTE> &extra)
{
    const std::vector<KeyPart> &parts = isPrivate ? kPrivateParts : kPublicParts;
    std::vector<std::vector<unsigned char>> values;
    values.reserve(parts.size());
    for (const KeyPart &part : parts) {
        values.push_back(key_param(key, part.param));
        attrs.push_back(bytes_attr(part.type, values.back()));
    }
    return create(attrs, extra);
}

CK_OBJECT_HANDLE TokenKeys::import_public(const EVP_PKEY *key, const std::vector<CK_ATTRIBUTE> &extra)
{
    return import(key,
                  {{CKA_CLASS, &kPublic, sizeof kPublic},
                   {CKA_KEY_TYPE, &kRsa, sizeof kRsa},
                   {CKA_TOKEN, &kTrue, 1},
                   {CKA_ENCRYPT, &kTrue, 1},
                   {CKA_VERIFY, &kTrue, 1}},
                  false, extra);
}

CK_OBJECT_HANDLE TokenKeys::import_private(const EVP_PKEY *key, const std::vector<CK_ATTRIBUTE> &extra)
{
    return import(key,
                  {{CKA_CLASS, &kPrivate, sizeof kPrivate},
                   {CKA_KEY_TYPE, &kRsa, sizeof kRsa},
                   {CKA_TOKEN, &kTrue, 1},
                   {CKA_PRIVATE, &kTrue, 1},
                   {CKA_SENSITIVE, &kTrue, 1},
                   {CKA_DECRYPT, &kTrue, 1},
                   {CKA_SIGN, &kTrue, 1}},
                  true, extra);
}

bool TokenKeys::import_pair(const EVP_PKEY *key)
{
    return import_public(key) != 0 && import_private(key) != 0;
}

std::vector<unsigned char> TokenKeys::modulus(CK_OBJECT_HANDLE object)
{
    CK_ATTRIBUTE attr = {CKA_MODULUS, nullptr, 0};
    std::vector<unsigned char> value;
    if (f_->C_GetAttributeValue(session_, object, &attr, 1) != CKR_OK || attr.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return value;
    value.resize(attr.ulValueLen);
    attr.pValue = value.data();
    if (f_->C_GetAttributeValue(session_, object, &attr, 1) != CKR_OK)
        value.clear();
    return value;
}

CK_ULONG TokenKeys::count(const EVP_PKEY *key, CK_OBJECT_CLASS keyClass, const std::vector<CK_ATTRIBUTE> &extra)
{
    std::vector<unsigned char> n = key_param(key, OSSL_PKEY_PARAM_RSA_N);
    std::vector<CK_ATTRIBUTE> tmpl = {{CKA_CLASS, &keyClass, sizeof keyClass}, bytes_attr(CKA_MODULUS, n)};
    tmpl.insert(tmpl.end(), extra.begin(), extra.end());
    CK_ULONG total = 0;
    if (f_->C_FindObjectsInit(session_, tmpl.data(), static_cast<CK_ULONG>(tmpl.size())) != CKR_OK)
        return 0;
    CK_OBJECT_HANDLE handles[16];
    CK_ULONG found = 0;
    while (f_->C_FindObjects(session_, handles, 16, &found) == CKR_OK && found > 0)
        total += found;
    f_->C_FindObjectsFinal(session_);
    return total;
}

EVP_PKEY *software_public_key(const BIGNUM *n, const BIGNUM *e)
{
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY *key = nullptr;
    if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return key;
}
