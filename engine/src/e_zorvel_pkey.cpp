// The RSA key method record, its selector, the per-context parameter records and the
// controls that set them.
#include "e_zorvel_pkey.h"

#include <cstdlib>
#include <cstring>

#include <openssl/rsa.h>

#include "e_zorvel_hash_table.h"
#include "e_zorvel_internal.h"
#include "e_zorvel_pkey_mech.h"
#include "e_zorvel_pkey_ops.h"
#include "e_zorvel_pkey_params.h"

namespace {

EVP_PKEY_METHOD *zorvel_rsa_pkey_method = nullptr;
const int PKEY_NIDS[] = {EVP_PKEY_RSA, 0};

zorvel_rsa_pkey_params *params_of(const EVP_PKEY_CTX *ctx)
{
    return static_cast<zorvel_rsa_pkey_params *>(EVP_PKEY_CTX_get_data(ctx));
}

struct padding_name {
    const char *name;
    int mode;
};

const padding_name kPaddingNames[] = {
    {"pkcs1", RSA_PKCS1_PADDING},
    {"oaep", RSA_PKCS1_OAEP_PADDING},
    {"raw", RSA_NO_PADDING},
    {"pss", RSA_PKCS1_PSS_PADDING},
};

int padding_from_name(const char *name)
{
    for (const padding_name &p : kPaddingNames)
        if (std::strcmp(p.name, name) == 0)
            return p.mode;
    return 0;
}

int rsa_ctrl(EVP_PKEY_CTX *ctx, int optype, int command, int p1, void *p2)
{
    return EVP_PKEY_CTX_ctrl(ctx, EVP_PKEY_RSA, optype, command, p1, p2);
}

} // namespace

int zorvel_rsa_pkey_init(EVP_PKEY_CTX *ctx)
{
    zorvel_log(LOG_DEBUG, "RSA pkey init");
    zorvel_rsa_pkey_params *p = zorvel_rsa_pkey_params_new();
    if (p == nullptr)
        return 0;
    EVP_PKEY_CTX_set_data(ctx, p);
    return 1;
}

int zorvel_rsa_pkey_copy(EVP_PKEY_CTX *dst, const EVP_PKEY_CTX *src)
{
    zorvel_log(LOG_DEBUG, "RSA pkey copy");
    const zorvel_rsa_pkey_params *from = params_of(src);
    if (from == nullptr)
        return 1;
    zorvel_rsa_pkey_params *p = zorvel_rsa_pkey_params_dup(from);
    if (p == nullptr)
        return 0;
    zorvel_rsa_pkey_params_free(params_of(dst));
    EVP_PKEY_CTX_set_data(dst, p);
    return 1;
}

void zorvel_rsa_pkey_cleanup(EVP_PKEY_CTX *ctx)
{
    zorvel_log(LOG_DEBUG, "RSA pkey cleanup");
    zorvel_rsa_pkey_params *p = params_of(ctx);
    if (p == nullptr)
        return;
    if (p->pubExp != nullptr)
        zorvel_log(LOG_DEBUG, "RSA pkey cleanup, freed pub exp");
    if (p->seed != nullptr)
        zorvel_log(LOG_DEBUG, "RSA pkey cleanup, freed seed");
    zorvel_rsa_pkey_params_free(p);
    EVP_PKEY_CTX_set_data(ctx, nullptr);
}

int zorvel_rsa_pkey_paramgen_init(EVP_PKEY_CTX *)
{
    zorvel_log(LOG_DEBUG, "RSA pkey parameter gen init");
    return 1;
}

int zorvel_rsa_pkey_paramgen(EVP_PKEY_CTX *, EVP_PKEY *)
{
    zorvel_log(LOG_DEBUG, "RSA pkey parameter gen");
    return 1;
}

int zorvel_rsa_pkey_keygen_init(EVP_PKEY_CTX *)
{
    zorvel_log(LOG_DEBUG, "RSA pkey keygen init");
    return 1;
}

int zorvel_rsa_pkey_ctrl(EVP_PKEY_CTX *ctx, int type, int p1, void *p2)
{
    zorvel_log(LOG_DEBUG, "RSA pkey ctrl, type %i", type);
    zorvel_rsa_pkey_params *p = params_of(ctx);
    return p != nullptr ? zorvel_rsa_pkey_params_ctrl(p, type, p1, p2) : 0;
}

int zorvel_rsa_pkey_ctrl_str(EVP_PKEY_CTX *ctx, const char *type, const char *value)
{
    if (type == nullptr || value == nullptr)
        return 0;
    zorvel_log(LOG_DEBUG, "RSA pkey ctrl str, type %s value %s", type, value);
    zorvel_rsa_pkey_params *p = params_of(ctx);
    if (p == nullptr)
        return 0;

    if (std::strcmp(type, "rsa_keygen_bits") == 0)
        return rsa_ctrl(ctx, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_RSA_KEYGEN_BITS,
                        static_cast<int>(std::strtol(value, nullptr, 10)), nullptr);
    if (std::strcmp(type, "rsa_keygen_pubexp") == 0) {
        BIGNUM *exponent = nullptr;
        if (BN_dec2bn(&exponent, value) == 0)
            return 0;
        int rc = rsa_ctrl(ctx, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_RSA_KEYGEN_PUBEXP, 0, exponent);
        if (rc <= 0)
            BN_free(exponent);
        return rc;
    }
    if (std::strcmp(type, "rsa_padding_mode") == 0) {
        int mode = padding_from_name(value);
        return mode != 0 ? rsa_ctrl(ctx, -1, EVP_PKEY_CTRL_RSA_PADDING, mode, nullptr) : 0;
    }
    if (std::strcmp(type, "rsa_oaep_md") == 0 || std::strcmp(type, "rsa_pss_md") == 0) {
        const zorvel_hash_info *h = zorvel_hash_by_name(value);
        if (h == nullptr)
            return 0;
        p->hMAC = h->hmac;
        return 1;
    }
    if (std::strcmp(type, "rsa_mgf1_md") == 0) {
        const zorvel_hash_info *h = zorvel_hash_by_name(value);
        if (h == nullptr || h->mgf1 == 0)
            return 0;
        p->mFG = h->mgf1;
        p->mFGExplicit = 1;
        return 1;
    }
    if (std::strcmp(type, "rsa_pss_saltlen") == 0) {
        int saltLen;
        if (!zorvel_parse_pss_saltlen(value, &saltLen))
            return 0;
        return rsa_ctrl(ctx, EVP_PKEY_OP_SIGN | EVP_PKEY_OP_VERIFY, EVP_PKEY_CTRL_RSA_PSS_SALTLEN, saltLen, nullptr);
    }
    if (std::strcmp(type, "hexseed") == 0)
        return zorvel_rsa_pkey_params_set_hexseed(p, value);
    return 0;
}

namespace {

EVP_PKEY_METHOD *new_rsa_pkey_method()
{
    EVP_PKEY_METHOD *m = EVP_PKEY_meth_new(EVP_PKEY_RSA, 0);
    if (m == nullptr)
        return nullptr;
    EVP_PKEY_meth_set_init(m, zorvel_rsa_pkey_init);
    EVP_PKEY_meth_set_copy(m, zorvel_rsa_pkey_copy);
    EVP_PKEY_meth_set_cleanup(m, zorvel_rsa_pkey_cleanup);
    EVP_PKEY_meth_set_paramgen(m, zorvel_rsa_pkey_paramgen_init, zorvel_rsa_pkey_paramgen);
    EVP_PKEY_meth_set_keygen(m, zorvel_rsa_pkey_keygen_init, zorvel_rsa_pkey_keygen);
    EVP_PKEY_meth_set_sign(m, zorvel_rsa_pkey_sign_init, zorvel_rsa_pkey_sign);
    EVP_PKEY_meth_set_verify(m, zorvel_rsa_pkey_verify_init, zorvel_rsa_pkey_verify);
    EVP_PKEY_meth_set_encrypt(m, zorvel_rsa_pkey_encrypt_init, zorvel_rsa_pkey_encrypt);
    EVP_PKEY_meth_set_decrypt(m, zorvel_rsa_pkey_decrypt_init, zorvel_rsa_pkey_decrypt);
    EVP_PKEY_meth_set_ctrl(m, zorvel_rsa_pkey_ctrl, zorvel_rsa_pkey_ctrl_str);
    return m;
}

} // namespace

int zorvel_bind_pkey_methods(ENGINE *e)
{
    if (zorvel_rsa_pkey_method == nullptr && (zorvel_rsa_pkey_method = new_rsa_pkey_method()) == nullptr)
        return 0;
    return ENGINE_set_pkey_meths(e, zorvel_pkey_methods);
}

// OpenSSL frees the key method with the ENGINE (through the selector), before destroy.
void zorvel_unbind_pkey_methods(void)
{
    zorvel_rsa_pkey_method = nullptr;
}

int zorvel_pkey_methods(ENGINE *, EVP_PKEY_METHOD **pmeth, const int **nids, int nid)
{
    zorvel_log(LOG_DEBUG, "pkey methods");
    if (pmeth == nullptr) {
        *nids = PKEY_NIDS;
        return 1;
    }
    zorvel_log(LOG_DEBUG, "pkey methods, request id: %i", nid);
    *pmeth = nid == EVP_PKEY_RSA ? zorvel_rsa_pkey_method : nullptr;
    return 1;
}

int zorvel_check_data_len_for_hash(int len)
{
    zorvel_log(LOG_DEBUG, "check hash for data len %i", len);
    const zorvel_hash_info *h = zorvel_hash_by_nid(zorvel_rsa_hashType);
    if (h == nullptr)
        return 1;
    zorvel_log(LOG_DEBUG, "check hash for data len, %s", h->name);
    return zorvel_rsa_digest_length_ok(zorvel_rsa_hashType, len);
}

CK_MECHANISM *zorvel_mechanism_from_rsa_pkey(int function)
{
    static const char *const kModeLines[] = {
        nullptr,
        "check mech for RSA pkey, RSA_PKCS1_PADDING",
        nullptr,
        "check mech for RSA pkey, RSA_NO_PADDING",
        "check mech for RSA pkey, RSA_PKCS1_OAEP_PADDING",
        nullptr,
        "check mech for RSA pkey, RSA_PKCS1_PSS_PADDING",
    };
    zorvel_log(LOG_DEBUG, "check mech for RSA pkey");
    int mode = zorvel_rsa_mechanismType;
    if (mode >= 0 && mode < static_cast<int>(sizeof(kModeLines) / sizeof(kModeLines[0])) && kModeLines[mode] != nullptr)
        zorvel_log(LOG_DEBUG, "%s", kModeLines[mode]);

    CK_MECHANISM *m = nullptr;
    int reason = zorvel_rsa_build_mechanism(&m);
    if (reason == 0)
        return m;
    ERR_ZORVEL_error(function, reason, __LINE__);
    if (reason == ZORVEL_R_OUT_OF_MEMORY)
        zorvel_log(LOG_ERR, "check mech for RSA pkey, out of mem");
    else if (reason == ZORVEL_R_UNSUPPORTED_MECHANISM)
        zorvel_log(LOG_ERR, "check mech for RSA pkey, invalid mechanism %i", mode);
    return nullptr;
}

void zorvel_mechanism_free_rsa_pkey(CK_MECHANISM *m)
{
    zorvel_log(LOG_DEBUG, "free RSA pkey mechanism");
    zorvel_rsa_release_mechanism(m);
}
