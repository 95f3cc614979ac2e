// The engine's RSA method. Private-key operations run on the token; public-key operations
// run on the token when it holds the matching public key and in OpenSSL's software RSA
// otherwise. Padding is added and removed in software, outside the engine lock, because the
// padding functions may call back into the engine's digests and random generator.
#include "e_zorvel_rsa.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstring>

zorvel_rsa_op_fn rsa_pub_enc = nullptr;
zorvel_rsa_op_fn rsa_pub_dec = nullptr;
zorvel_rsa_op_fn rsa_priv_enc = nullptr;
zorvel_rsa_op_fn rsa_priv_dec = nullptr;

namespace {

RSA_METHOD *zorvel_rsa = nullptr;
int zorvel_rsa_binds = 0;

CK_MECHANISM rsa_x509_mechanism = {CKM_RSA_X_509, nullptr, 0};
CK_MECHANISM rsa_pkcs_mechanism = {CKM_RSA_PKCS, nullptr, 0};

// A zeroed k-byte working block, wiped when released.
struct rsa_block {
    unsigned char *data = nullptr;
    int len = 0;
    ~rsa_block() { OPENSSL_clear_free(data, static_cast<size_t>(len)); }
    bool alloc(int k)
    {
        data = static_cast<unsigned char *>(OPENSSL_zalloc(static_cast<size_t>(k)));
        len = data != nullptr ? k : 0;
        return data != nullptr;
    }
};

constexpr unsigned padding_bit(int padding)
{
    return 1u << padding;
}

// What the four operations share: their name in log lines, their error function code and
// the paddings they serve. SSLv23 padding is gone from OpenSSL 3 and served by none.
struct rsa_op {
    const char *name;
    int function;
    unsigned paddings;
};

const rsa_op kPrivDec = {"RSA private decrypt", ZORVEL_F_RSA_PRIVATE_DECRYPT,
                         padding_bit(RSA_PKCS1_PADDING) | padding_bit(RSA_NO_PADDING) |
                             padding_bit(RSA_PKCS1_OAEP_PADDING)};
// No padding: the raw operation that OpenSSL's own PSS signing asks for.
const rsa_op kPrivEnc = {"RSA private encrypt", ZORVEL_F_RSA_PRIVATE_ENCRYPT,
                         padding_bit(RSA_PKCS1_PADDING) | padding_bit(RSA_NO_PADDING)};
const rsa_op kPubEnc = {"RSA public encrypt", ZORVEL_F_RSA_PUBLIC_ENCRYPT,
                        padding_bit(RSA_PKCS1_PADDING) | padding_bit(RSA_NO_PADDING) |
                            padding_bit(RSA_PKCS1_OAEP_PADDING)};
// No padding: the raw result that OpenSSL's own PSS verification asks for.
const rsa_op kPubDec = {"RSA public decrypt", ZORVEL_F_RSA_PUBLIC_DECRYPT,
                        padding_bit(RSA_PKCS1_PADDING) | padding_bit(RSA_NO_PADDING)};

struct rsa_call {
    zorvel_ctx *ctx = nullptr;
    int k = 0;
};

int unsupported_padding(const rsa_op &op)
{
    ZORVEL_REPORT(op.function, ZORVEL_R_UNSUPPORTED_PADDING);
    return -1;
}

// True when the operation serves the padding on the token; reports it otherwise.
bool serves_padding(const rsa_op &op, int padding)
{
    if (padding >= 0 && padding <= 31 && (op.paddings & padding_bit(padding)) != 0)
        return true;
    unsupported_padding(op);
    return false;
}

// The common start of every operation: the context and the input checked against k.
bool begin_op(const rsa_op &op, int flen, RSA *rsa, int padding, rsa_call *call)
{
    zorvel_log(LOG_DEBUG, "%s, padding %i", op.name, padding);
    call->ctx = zorvel_get_ctx();
    if (call->ctx == nullptr)
        return false;
    call->k = zorvel_rsa_modulus_len(rsa);
    zorvel_log(LOG_DEBUG, "%s, modulus len %i input len %i", op.name, call->k, flen);
    if (call->k == 0 || flen < 0 || flen > call->k) {
        ZORVEL_REPORT(op.function, ZORVEL_R_INVALID_VALUE);
        zorvel_log(LOG_ERR, "%s, modulus len %i input len %i", op.name, call->k, flen);
        return false;
    }
    return true;
}

CK_OBJECT_HANDLE lookup(const rsa_op &op, const rsa_call &call, RSA *rsa, int which)
{
    CK_OBJECT_HANDLE handle = zorvel_rsa_fetch_handle(call.ctx, rsa, which);
    zorvel_log(LOG_DEBUG, "%s, object handle %i", op.name, static_cast<int>(handle));
    return handle;
}

// Names of a token operation's two calls and the log lines of their failures.
struct token_texts {
    const char *initData;
    const char *initLog;
    const char *opData;
    const char *opLog;
};

// Runs the Init/operation pair; on failure reports it under the operation's function code.
bool run_on_token(const rsa_op &op, const token_texts &texts, zorvel_token_op_kind kind, const rsa_call &call,
                  CK_MECHANISM *mechanism, CK_OBJECT_HANDLE key, const unsigned char *in, int inLen, unsigned char *out,
                  CK_ULONG *outLen)
{
    zorvel_token_op_step failed = ZORVEL_STEP_NONE;
    CK_RV rv = zorvel_token_op(kind, call.ctx->session, mechanism, key, in, static_cast<CK_ULONG>(inLen), out, outLen,
                               &failed);
    if (rv == CKR_OK)
        return true;
    const bool init = failed == ZORVEL_STEP_INIT;
    ZORVEL_REPORT_VALUE(op.function, ZORVEL_R_PKCS11_ERROR, init ? texts.initData : texts.opData, rv);
    zorvel_log(LOG_ERR, init ? texts.initLog : texts.opLog, static_cast<unsigned>(rv));
    return false;
}

int out_of_memory(const rsa_op &op)
{
    ZORVEL_REPORT(op.function, ZORVEL_R_OUT_OF_MEMORY);
    zorvel_log(LOG_ERR, "%s, out of mem", op.name);
    return -1;
}

// A public-key operation without a token object runs in OpenSSL's software RSA.
int software_fallback(const rsa_op &op, zorvel_rsa_op_fn fn, int flen, const unsigned char *from, unsigned char *to,
                      RSA *rsa, int padding)
{
    zorvel_log(LOG_NOTICE, "%s, object handle invalid. SW fallback", op.name);
    return fn != nullptr ? fn(flen, from, to, rsa, padding) : -1;
}

// The start both public-key operations share: the context, the input checked against k and
// the token object, a padding served on the token, and a k-byte block to work in. Without a
// token object the operation runs in software, whatever its padding: OpenSSL decides what
// it serves there. False when the operation ends here, with its result in *result.
bool begin_public_op(const rsa_op &op, zorvel_rsa_op_fn software, int flen, const unsigned char *from,
                     unsigned char *to, RSA *rsa, int padding, rsa_call *call, CK_OBJECT_HANDLE *handle,
                     rsa_block *block, int *result)
{
    *result = -1;
    if (!begin_op(op, flen, rsa, padding, call))
        return false;
    *handle = lookup(op, *call, rsa, 0);
    if (*handle == 0) {
        *result = software_fallback(op, software, flen, from, to, rsa, padding);
        return false;
    }
    if (!serves_padding(op, padding))
        return false;
    if (!block->alloc(call->k)) {
        *result = out_of_memory(op);
        return false;
    }
    return true;
}

} // namespace

int zorvel_rsa_modulus_len(const RSA *rsa)
{
    const BIGNUM *n = nullptr;
    RSA_get0_key(rsa, &n, nullptr, nullptr);
    return n != nullptr ? (BN_num_bits(n) + 7) / 8 : 0;
}

int zorvel_rsa_priv_dec(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding)
{
    const rsa_op &op = kPrivDec;
    rsa_call call;
    if (!begin_op(op, flen, rsa, padding, &call) || !serves_padding(op, padding))
        return -1;
    CK_OBJECT_HANDLE handle = lookup(op, call, rsa, 1);
    if (handle == 0) {
        ZORVEL_REPORT(op.function, ZORVEL_R_KEY_HANDLE_NOT_FOUND);
        zorvel_log(LOG_ERR, "RSA private decrypt, invalid object handle %i", 0);
        return -1;
    }
    rsa_block block;
    if (!block.alloc(call.k))
        return out_of_memory(op);
    CK_ULONG len = static_cast<CK_ULONG>(call.k);
    static const token_texts texts = {"C_DecryptInit=0x", "RSA private decrypt, init error: 0x%08X",
                                      "C_Decrypt(RSA)=0x", "RSA private decrypt error: 0x%08X"};
    if (!run_on_token(op, texts, ZORVEL_TOKEN_DECRYPT, call, &rsa_x509_mechanism, handle, from, flen, block.data, &len))
        return -1;

    const int blockLen = static_cast<int>(len);
    int result = -1;
    switch (padding) {
    case RSA_PKCS1_PADDING:
        result = RSA_padding_check_PKCS1_type_2(to, call.k, block.data, blockLen, call.k);
        break;
    case RSA_NO_PADDING:
        result = RSA_padding_check_none(to, call.k, block.data, blockLen, call.k);
        break;
    default:
        result = RSA_padding_check_PKCS1_OAEP(to, call.k, block.data, blockLen, call.k, nullptr, 0);
        break;
    }
    if (result < 0) {
        ZORVEL_REPORT(op.function, ZORVEL_R_UNSUPPORTED_PADDING);
        zorvel_log(LOG_ERR, "RSA private decrypt, pad check error: %i", result);
        return -1;
    }
    return result;
}

int zorvel_rsa_priv_enc(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding)
{
    const rsa_op &op = kPrivEnc;
    rsa_call call;
    if (!begin_op(op, flen, rsa, padding, &call) || !serves_padding(op, padding))
        return -1;

    // The input is checked before the token sees anything. PKCS#1 v1.5 goes to the token
    // unpadded (it adds block type 1 itself); a raw operation gets the k-byte block.
    rsa_block block;
    if (!block.alloc(call.k))
        return out_of_memory(op);
    const int padded = padding == RSA_PKCS1_PADDING ? RSA_padding_add_PKCS1_type_1(block.data, call.k, from, flen)
                                                    : RSA_padding_add_none(block.data, call.k, from, flen);
    if (padded < 1) {
        ZORVEL_REPORT(op.function, ZORVEL_R_UNSUPPORTED_PADDING);
        zorvel_log(LOG_ERR, "RSA private encrypt, pad check error: %i", padded);
        return -1;
    }

    CK_OBJECT_HANDLE handle = lookup(op, call, rsa, 1);
    if (handle == 0) {
        ZORVEL_REPORT(op.function, ZORVEL_R_KEY_HANDLE_NOT_FOUND);
        zorvel_log(LOG_DEBUG, "RSA private encrypt, invalid object handle %i", 0);
        return -1;
    }

    static const token_texts signTexts = {"C_SignInit=0x", "RSA private sign, init error: 0x%08X", "C_Sign=0x",
                                          "RSA private sign error: 0x%08X"};
    static const token_texts encryptTexts = {"C_EncryptInit=0x", "RSA private encrypt, init error: 0x%08X",
                                             "C_Encrypt=0x", "RSA private encrypt error: 0x%08X"};
    CK_ULONG len = static_cast<CK_ULONG>(call.k);
    bool ok;
    if (padding == RSA_NO_PADDING)
        ok = run_on_token(op, signTexts, ZORVEL_TOKEN_SIGN, call, &rsa_x509_mechanism, handle, block.data, call.k, to,
                          &len);
    else if (zorvel_config.enableSSLv3)
        ok = run_on_token(op, signTexts, ZORVEL_TOKEN_SIGN, call, &rsa_pkcs_mechanism, handle, from, flen, to, &len);
    else
        ok = run_on_token(op, encryptTexts, ZORVEL_TOKEN_ENCRYPT, call, &rsa_pkcs_mechanism, handle, from, flen, to,
                          &len);
    return ok ? static_cast<int>(len) : -1;
}

int zorvel_rsa_pub_enc(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding)
{
    const rsa_op &op = kPubEnc;
    rsa_call call;
    CK_OBJECT_HANDLE handle = 0;
    rsa_block block;
    int result = -1;
    if (!begin_public_op(op, rsa_pub_enc, flen, from, to, rsa, padding, &call, &handle, &block, &result))
        return result;

    int padded = 1;
    switch (padding) {
    case RSA_PKCS1_PADDING:
        padded = RSA_padding_add_PKCS1_type_2(block.data, call.k, from, flen);
        break;
    case RSA_NO_PADDING:
        // The input is placed at the start of the block; the rest stays zero.
        memcpy(block.data, from, static_cast<size_t>(flen));
        break;
    default:
        padded = RSA_padding_add_PKCS1_OAEP(block.data, call.k, from, flen, nullptr, 0);
        break;
    }
    if (padded <= 0)
        return unsupported_padding(op);

    static const token_texts texts = {"C_EncryptInit(RSA)=0x", "RSA public encrypt, init error: 0x%08X",
                                      "C_Encrypt(RSA)=0x", "RSA public encrypt error: 0x%08X"};
    CK_ULONG len = static_cast<CK_ULONG>(call.k);
    if (!run_on_token(op, texts, ZORVEL_TOKEN_ENCRYPT, call, &rsa_x509_mechanism, handle, block.data, call.k, to, &len))
        return -1;
    return static_cast<int>(len);
}

int zorvel_rsa_pub_dec(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding)
{
    const rsa_op &op = kPubDec;
    rsa_call call;
    CK_OBJECT_HANDLE handle = 0;
    rsa_block block;
    int result = -1;
    if (!begin_public_op(op, rsa_pub_dec, flen, from, to, rsa, padding, &call, &handle, &block, &result))
        return result;

    static const token_texts texts = {"C_DecryptInit(RSA)=0x", "RSA public decrypt, init error: 0x%08X",
                                      "C_Decrypt(RSA)=0x", "RSA public decrypt error: 0x%08X"};
    CK_ULONG len = static_cast<CK_ULONG>(call.k);
    if (!run_on_token(op, texts, ZORVEL_TOKEN_DECRYPT, call, &rsa_x509_mechanism, handle, from, flen, block.data, &len))
        return -1;
    const int blockLen = static_cast<int>(len);

    if (padding == RSA_NO_PADDING) {
        result = RSA_padding_check_none(to, call.k, block.data, blockLen, call.k);
        return result < 0 ? unsupported_padding(op) : result;
    }

    int start = 0;
    while (start < blockLen && block.data[start] == 0)
        ++start;
    if (start == blockLen) {
        ZORVEL_REPORT(op.function, ZORVEL_R_UNSUPPORTED_PADDING);
        zorvel_log(LOG_ERR, "RSA public decrypt, no PKCS1 padding in an all-zero block");
        return -1;
    }
    if (block.data[start] != 0x01) {
        ZORVEL_REPORT(op.function, ZORVEL_R_UNSUPPORTED_PADDING);
        zorvel_log(LOG_ERR, "RSA public decrypt, invalid PKCS1 pad value '%c'", block.data[start]);
        return -1;
    }
    result = RSA_padding_check_PKCS1_type_1(to, call.k, block.data + start, blockLen - start, call.k);
    if (result < 0) {
        ZORVEL_REPORT(op.function, ZORVEL_R_UNSUPPORTED_PADDING);
        zorvel_log(LOG_ERR, "RSA public decrypt, pad check error: %i", result);
        return -1;
    }
    return result;
}

int zorvel_bind_rsa(ENGINE *e)
{
    if (zorvel_rsa == nullptr) {
        const RSA_METHOD *software = RSA_PKCS1_OpenSSL();
        zorvel_rsa = RSA_meth_new("Zorvel RSA method", 0);
        if (zorvel_rsa == nullptr)
            return 0;
        if (!RSA_meth_set_pub_enc(zorvel_rsa, zorvel_rsa_pub_enc) ||
            !RSA_meth_set_pub_dec(zorvel_rsa, zorvel_rsa_pub_dec) ||
            !RSA_meth_set_priv_enc(zorvel_rsa, zorvel_rsa_priv_enc) ||
            !RSA_meth_set_priv_dec(zorvel_rsa, zorvel_rsa_priv_dec) ||
            !RSA_meth_set_mod_exp(zorvel_rsa, RSA_meth_get_mod_exp(software)) ||
            !RSA_meth_set_bn_mod_exp(zorvel_rsa, RSA_meth_get_bn_mod_exp(software)) ||
            !RSA_meth_set_keygen(zorvel_rsa, zorvel_rsa_key_gen)) {
            RSA_meth_free(zorvel_rsa);
            zorvel_rsa = nullptr;
            return 0;
        }
        rsa_pub_enc = RSA_meth_get_pub_enc(software);
        rsa_pub_dec = RSA_meth_get_pub_dec(software);
        rsa_priv_enc = RSA_meth_get_priv_enc(software);
        rsa_priv_dec = RSA_meth_get_priv_dec(software);
    }
    RSA_meth_set_flags(zorvel_rsa, 0);
    if (!ENGINE_set_RSA(e, zorvel_rsa))
        return 0;
    ++zorvel_rsa_binds;
    if (zorvel_rsa_ex == -1)
        zorvel_rsa_ex = RSA_get_ex_new_index(0, const_cast<char *>("Zorvel RSA Key"), nullptr, nullptr, nullptr);
    if (zorvel_rsa_pub_ex == -1)
        zorvel_rsa_pub_ex =
            RSA_get_ex_new_index(0, const_cast<char *>("Zorvel RSA public key"), nullptr, nullptr, nullptr);
    return 1;
}

void zorvel_unbind_rsa(void)
{
    // Engines bound from the same library share the method; the last one frees it.
    if (zorvel_rsa_binds > 0 && --zorvel_rsa_binds == 0) {
        RSA_meth_free(zorvel_rsa);
        zorvel_rsa = nullptr;
    }
}
