// Signing, verification, encryption, decryption and key generation of the RSA key
// method on the token.
#include "e_zorvel_pkey_ops.h"

#include <cstring>

#include <openssl/err.h>
#include <openssl/rsa.h>

#include "e_zorvel_buffer.h"
#include "e_zorvel_pkey_mech.h"
#include "e_zorvel_pkey_params.h"
#include "e_zorvel_pkey_soft.h"
#include "e_zorvel_rsa.h"

extern "C" {
thread_local unsigned char *zorvel_dsig_data = nullptr;
thread_local int zorvel_dsig_data_len = -1;
}

namespace {

// OpenSSL's RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY, reported under the engine's library.
constexpr int kDigestTooBigForKey = 112;

// The DigestInfo encoding's failures are reported as OpenSSL's own RSA_sign reports them:
// under ERR_LIB_RSA with function RSA_F_RSA_SIGN (117 in OpenSSL 1; OpenSSL 3 keeps
// function names only, and records this one).
const char kRsaSign[] = "RSA_sign";

// The RSA key of the context and its parameters, mirrored for the length of one
// operation. The key is taken first: for a provider key OpenSSL may create and free a
// context of this method on the way, which must not disturb the mirror.
class operation {
public:
    explicit operation(EVP_PKEY_CTX *ctx)
        : rsa_(EVP_PKEY_get1_RSA(EVP_PKEY_CTX_get0_pkey(ctx))),
          params_(static_cast<const zorvel_rsa_pkey_params *>(EVP_PKEY_CTX_get_data(ctx)))
    {
        if (rsa_ != nullptr && params_ != nullptr)
            zorvel_rsa_pkey_params_mirror(params_, RSA_bits(rsa_));
    }
    operation(const operation &) = delete;
    operation &operator=(const operation &) = delete;
    ~operation()
    {
        zorvel_rsa_pkey_params_mirror_clear();
        RSA_free(rsa_);
    }

    bool ok() const { return rsa_ != nullptr && params_ != nullptr; }
    RSA *rsa() const { return rsa_; }
    const zorvel_rsa_pkey_params *params() const { return params_; }
    size_t k() const { return static_cast<size_t>(RSA_size(rsa_)); }

private:
    RSA *rsa_;
    const zorvel_rsa_pkey_params *params_;
};

// A built mechanism, released with the scope.
class mechanism {
public:
    mechanism(int function, const char *what) : m_(zorvel_mechanism_from_rsa_pkey(function))
    {
        if (m_ == nullptr)
            zorvel_log(LOG_ERR, "%s, no valid mechanism located", what);
    }
    mechanism(const mechanism &) = delete;
    mechanism &operator=(const mechanism &) = delete;
    ~mechanism() { zorvel_mechanism_free_rsa_pkey(m_); }
    CK_MECHANISM *get() const { return m_; }

private:
    CK_MECHANISM *m_;
};

// The two calls of a token operation and the log lines of their failures.
struct token_texts {
    const char *initData;
    const char *initLog;
    const char *opData;
    const char *opLog;
};

const token_texts kSignTexts = {"C_SignInit=0x", "RSA pkey sign, init error: 0x%08X", "C_Sign=0x",
                                "RSA pkey sign error: 0x%08X"};
const token_texts kDigestInfoSignTexts = {"C_SignInit=0x", "RSA pkey op with DigestInfo, sign init error: 0x%08X",
                                          "C_Sign=0x", "RSA pkey op with DigestInfo, sign error: 0x%08X"};
const token_texts kVerifyTexts = {"C_VerifyInit=0x", "RSA pkey verify, init error: 0x%08X", "C_Verify=0x",
                                  "RSA pkey verify error: 0x%08X"};
const token_texts kDigestInfoVerifyTexts = {"C_VerifyInit=0x",
                                            "RSA pkey op with DigestInfo, verify init error: 0x%08X", "C_Verify=0x",
                                            "RSA pkey op with DigestInfo, verify error: 0x%08X"};
const token_texts kEncryptTexts = {"C_EncryptInit=0x", "RSA pkey encrypt, init error: 0x%08X", "C_Encrypt=0x",
                                   "RSA pkey encrypt error: 0x%08X"};
const token_texts kDecryptTexts = {"C_DecryptInit=0x", "RSA pkey decrypt, init error: 0x%08X", "C_Decrypt=0x",
                                   "RSA pkey decrypt error: 0x%08X"};

bool report_token_failure(int function, const token_texts &texts, CK_RV rv, zorvel_token_op_step failed)
{
    const bool init = failed == ZORVEL_STEP_INIT;
    ZORVEL_REPORT_VALUE(function, ZORVEL_R_PKCS11_ERROR, init ? texts.initData : texts.opData, rv);
    zorvel_log(LOG_ERR, init ? texts.initLog : texts.opLog, static_cast<unsigned>(rv));
    return false;
}

// Runs an Init and the call that completes it; *outLen is the capacity of out on entry
// and the output length on return.
bool run_on_token(int function, const token_texts &texts, zorvel_token_op_kind kind, zorvel_ctx *ctx,
                  CK_MECHANISM *m, CK_OBJECT_HANDLE key, const unsigned char *in, size_t inLen, unsigned char *out,
                  size_t *outLen)
{
    zorvel_token_op_step failed = ZORVEL_STEP_NONE;
    CK_ULONG len = *outLen;
    CK_RV rv = zorvel_token_op(kind, ctx->session, m, key, in, inLen, out, &len, &failed);
    if (rv != CKR_OK)
        return report_token_failure(function, texts, rv, failed);
    *outLen = len;
    return true;
}

// C_VerifyInit and C_Verify in one hold of the engine lock, like every other pair on
// the shared session.
bool verify_on_token(int function, const token_texts &texts, zorvel_ctx *ctx, CK_MECHANISM *m, CK_OBJECT_HANDLE key,
                     const unsigned char *data, size_t dataLen, const unsigned char *sig, size_t sigLen)
{
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    if (f == nullptr)
        return report_token_failure(function, texts, CKR_GENERAL_ERROR, ZORVEL_STEP_INIT);
    zorvel_enter_mutex();
    zorvel_token_op_step failed = ZORVEL_STEP_INIT;
    zorvel_token_enter();
    CK_RV rv = f->C_VerifyInit(ctx->session, m, key);
    if (rv == CKR_OK) {
        failed = ZORVEL_STEP_OPERATION;
        rv = f->C_Verify(ctx->session, const_cast<CK_BYTE_PTR>(data), dataLen, const_cast<CK_BYTE_PTR>(sig), sigLen);
    }
    zorvel_token_leave();
    zorvel_leave_mutex();
    return rv == CKR_OK || report_token_failure(function, texts, rv, failed);
}

void clear_input_copy()
{
    zorvel_log(LOG_DEBUG, "clear cached input data");
    OPENSSL_free(zorvel_dsig_data);
    zorvel_dsig_data = nullptr;
    zorvel_dsig_data_len = -1;
}

int operation_check(EVP_PKEY_CTX *ctx, int function, const char *line)
{
    zorvel_log(LOG_DEBUG, "%s", line);
    zorvel_log(LOG_DEBUG, "RSA pkey check");
    if (ctx == nullptr) {
        ZORVEL_REPORT(function, ZORVEL_R_INVALID_VALUE);
        zorvel_log(LOG_ERR, "RSA pkey check, NULL EVP_PKEY context");
        return 0;
    }
    EVP_PKEY *pkey = EVP_PKEY_CTX_get0_pkey(ctx);
    if (pkey == nullptr || EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) {
        ZORVEL_REPORT(function, ZORVEL_R_INVALID_VALUE);
        zorvel_log(LOG_ERR, "RSA pkey check, NULL RSA key in EVP_PKEY context");
        return 0;
    }
    return 1;
}

// The operation's key and parameters could not be had (no memory for the key copy).
int no_key(int function, const char *what)
{
    ZORVEL_REPORT(function, ZORVEL_R_OUT_OF_MEMORY);
    zorvel_log(LOG_ERR, "%s, out of mem", what);
    return 0;
}

// An output buffer smaller than the modulus: refused before the token is called.
int output_too_small(int function, const char *what, size_t capacity, size_t k)
{
    ZORVEL_REPORT(function, ZORVEL_R_INVALID_VALUE);
    zorvel_log(LOG_ERR, "%s, output buffer of %zu bytes, %zu needed", what, capacity, k);
    return 0;
}

// Input longer than the modulus: refused before any token call.
int input_too_long(int function, const char *what, size_t k, size_t len)
{
    ZORVEL_REPORT(function, ZORVEL_R_INVALID_VALUE);
    zorvel_log(LOG_ERR, "%s, modulusLen %zu dataLen %zu", what, k, len);
    return 0;
}

// The token object of the key (private: op 1), logged under the operation's name.
CK_OBJECT_HANDLE token_object(zorvel_ctx *ctx, RSA *rsa, int op, const char *what)
{
    CK_OBJECT_HANDLE handle = zorvel_rsa_fetch_handle(ctx, rsa, op);
    zorvel_log(LOG_DEBUG, "%s, object handle %lu", what, handle);
    return handle;
}

// The public-key object of the key; 0 when the token holds none, and then the lookup's
// error entries are dropped again, since the operation goes on in software.
CK_OBJECT_HANDLE public_token_object(zorvel_ctx *ctx, RSA *rsa, const char *what)
{
    ERR_set_mark();
    CK_OBJECT_HANDLE handle = token_object(ctx, rsa, 0, what);
    if (handle == 0) {
        ERR_pop_to_mark();
        zorvel_log(LOG_NOTICE, "%s, object handle invalid. SW fallback", what);
    } else {
        ERR_clear_last_mark();
    }
    return handle;
}

int no_token_object(int function, const char *what)
{
    ZORVEL_REPORT(function, ZORVEL_R_KEY_HANDLE_NOT_FOUND);
    zorvel_log(LOG_ERR, "%s, invalid object handle 0", what);
    return 0;
}

// The DigestInfo of the digest, signed into p or verified against q with CKM_RSA_PKCS.
bool digest_info_on_token(zorvel_ctx *ctx, int op, RSA *rsa, CK_OBJECT_HANDLE handle, unsigned char *p,
                          size_t *plen, const unsigned char *digest, size_t digestLen, const unsigned char *q,
                          size_t qlen)
{
    const int F = ZORVEL_F_RSA_PRIVATE_SIGN;
    const size_t k = static_cast<size_t>(RSA_size(rsa));
    mechanism mech(F, "RSA pkey op with DigestInfo");
    if (mech.get() == nullptr)
        return false;

    unsigned char *der = nullptr;
    size_t derLen = 0;
    switch (zorvel_digest_info_encode(zorvel_rsa_hashType, digest, digestLen, &der, &derLen)) {
    case ZORVEL_DIGEST_INFO_OK:
        break;
    case ZORVEL_DIGEST_INFO_UNKNOWN_ALGORITHM:
        zorvel_put_library_error(ERR_LIB_RSA, kRsaSign, RSA_R_UNKNOWN_ALGORITHM_TYPE, __LINE__);
        zorvel_log(LOG_ERR, "RSA pkey op with DigestInfo, unknown algorithm type");
        return false;
    case ZORVEL_DIGEST_INFO_UNKNOWN_OID:
        zorvel_put_library_error(ERR_LIB_RSA, kRsaSign, RSA_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD,
                                 __LINE__);
        zorvel_log(LOG_ERR, "RSA pkey op with DigestInfo, unknown Alg. OID");
        return false;
    case ZORVEL_DIGEST_INFO_NO_MEMORY:
        ZORVEL_REPORT(F, ERR_R_MALLOC_FAILURE);
        zorvel_log(LOG_ERR, "RSA pkey op with DigestInfo, out of mem");
        return false;
    }
    zorvel_buffer encoding(der, derLen);
    OPENSSL_clear_free(der, derLen);
    if (!encoding.ok()) {
        ZORVEL_REPORT(F, ERR_R_MALLOC_FAILURE);
        zorvel_log(LOG_ERR, "RSA pkey op with DigestInfo, out of mem");
        return false;
    }
    // PKCS#1 v1.5 block type 1 needs 11 bytes beside the encoding.
    if (encoding.size() + 10 >= k) {
        ZORVEL_REPORT(F, kDigestTooBigForKey);
        zorvel_log(LOG_ERR, "RSA pkey op with DigestInfo, digest too large for this key");
        return false;
    }

    mech.get()->mechanism = CKM_RSA_PKCS;
    if (op)
        return run_on_token(F, kDigestInfoSignTexts, ZORVEL_TOKEN_SIGN, ctx, mech.get(), handle, encoding.get(),
                            encoding.size(), p, plen);
    return verify_on_token(F, kDigestInfoVerifyTexts, ctx, mech.get(), handle, encoding.get(), encoding.size(), q,
                           qlen);
}

const int kGoOn = -1;

// The opening encryption and decryption share: the key, the input's length against the
// modulus and the size query. kGoOn, or the operation's result.
int crypt_opening(int function, const char *what, const operation &op, const unsigned char *out, size_t *outlen,
                  size_t inlen)
{
    if (!op.ok())
        return no_key(function, what);
    const size_t k = op.k();
    if (inlen > k)
        return input_too_long(function, what, k, inlen);
    if (out == nullptr) {
        *outlen = k;
        return 1;
    }
    return kGoOn;
}

} // namespace

int zorvel_rsa_pkey_op_with_digest_info(zorvel_ctx *ctx, int op, RSA *rsa, unsigned char *p, size_t *plen,
                                        const unsigned char *q, size_t qlen)
{
    const int F = ZORVEL_F_RSA_PRIVATE_SIGN;
    const size_t k = static_cast<size_t>(RSA_size(rsa));
    zorvel_log(LOG_DEBUG, "RSA pkey op with DigestInfo");
    zorvel_log(LOG_DEBUG, "RSA pkey op with DigestInfo, modulusLen %zu dataLen %zu", k, qlen);
    if (qlen > k)
        return input_too_long(F, "RSA pkey op with DigestInfo", k, qlen);
    const unsigned char *digest = op ? q : p;
    size_t digestLen = op ? qlen : *plen;
    if (!zorvel_check_data_len_for_hash(static_cast<int>(digestLen))) {
        ZORVEL_REPORT(F, ZORVEL_R_INVALID_HASH_LENGTH);
        zorvel_log(LOG_DEBUG, "RSA pkey op with DigestInfo, invalid data length %zu", digestLen);
        return 0;
    }
    if (op && p == nullptr) {
        *plen = k;
        return 1;
    }
    CK_OBJECT_HANDLE handle = token_object(ctx, rsa, op ? 1 : 0, "RSA pkey op with DigestInfo");
    if (handle == 0)
        return no_token_object(F, "RSA pkey op with DigestInfo");
    if (!digest_info_on_token(ctx, op, rsa, handle, p, plen, digest, digestLen, q, qlen))
        return 0;
    // The encoding and the mechanism are released by now.
    clear_input_copy();
    return 1;
}

int zorvel_rsa_pkey_sign_init(EVP_PKEY_CTX *ctx)
{
    return operation_check(ctx, ZORVEL_F_RSA_PRIVATE_SIGN, "RSA pkey sign init");
}

int zorvel_rsa_pkey_verify_init(EVP_PKEY_CTX *ctx)
{
    return operation_check(ctx, ZORVEL_F_RSA_PUBLIC_VERIFY, "RSA pkey verify init");
}

int zorvel_rsa_pkey_encrypt_init(EVP_PKEY_CTX *ctx)
{
    return operation_check(ctx, ZORVEL_F_RSA_PUBLIC_ENCRYPT, "RSA pkey encrypt init");
}

int zorvel_rsa_pkey_decrypt_init(EVP_PKEY_CTX *ctx)
{
    return operation_check(ctx, ZORVEL_F_RSA_PRIVATE_DECRYPT, "RSA pkey decrypt init");
}

int zorvel_rsa_pkey_sign(EVP_PKEY_CTX *pctx, unsigned char *sig, size_t *siglen, const unsigned char *tbs,
                         size_t tbslen)
{
    const int F = ZORVEL_F_RSA_PRIVATE_SIGN;
    zorvel_log(LOG_DEBUG, "RSA pkey sign, tbs len %zu", tbslen);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    operation op(pctx);
    if (!op.ok())
        return no_key(F, "RSA pkey sign");
    const size_t k = op.k();
    zorvel_log(LOG_DEBUG, "RSA pkey sign, modulusLen %zu dataLen %zu", k, tbslen);
    if (tbslen > k)
        return input_too_long(F, "RSA pkey sign", k, tbslen);
    if (!zorvel_check_data_len_for_hash(static_cast<int>(tbslen))) {
        ZORVEL_REPORT(F, ZORVEL_R_INVALID_HASH_LENGTH);
        zorvel_log(LOG_ERR, "RSA pkey sign, invalid data length (%zu) for hash type", tbslen);
        return 0;
    }
    if (sig == nullptr) {
        *siglen = k;
        return 1;
    }
    if (*siglen < k)
        return output_too_small(F, "RSA pkey sign", *siglen, k);

    CK_OBJECT_HANDLE handle = token_object(ctx, op.rsa(), 1, "RSA pkey sign");
    if (handle == 0)
        return no_token_object(F, "RSA pkey sign");
    {
        mechanism mech(F, "RSA pkey sign");
        if (mech.get() == nullptr)
            return 0;
        if (!zorvel_rsa_is_digest_info_mechanism(mech.get()->mechanism)) {
            zorvel_log(LOG_DEBUG, "RSA pkey do not use DigestInfo");
            zorvel_log(LOG_DEBUG, "cache input data len %zu", tbslen);
            clear_input_copy();
            zorvel_dsig_data = static_cast<unsigned char *>(OPENSSL_memdup(tbs, tbslen ? tbslen : 1));
            if (zorvel_dsig_data == nullptr) {
                ZORVEL_REPORT(F, ZORVEL_R_OUT_OF_MEMORY);
                return 0;
            }
            zorvel_dsig_data_len = static_cast<int>(tbslen);

            bool signedOk = run_on_token(F, kSignTexts, ZORVEL_TOKEN_SIGN, ctx, mech.get(), handle, zorvel_dsig_data,
                                         tbslen, sig, siglen);
            clear_input_copy();
            return signedOk ? 1 : 0;
        }
        zorvel_log(LOG_DEBUG, "RSA pkey must use DigestInfo");
    }
    return zorvel_rsa_pkey_op_with_digest_info(ctx, 1, op.rsa(), sig, siglen, tbs, tbslen);
}

int zorvel_rsa_pkey_verify(EVP_PKEY_CTX *pctx, const unsigned char *sig, size_t siglen, const unsigned char *tbs,
                           size_t tbslen)
{
    const int F = ZORVEL_F_RSA_PUBLIC_VERIFY;
    zorvel_log(LOG_DEBUG, "RSA pkey verify, siglen %zu tbslen %zu", siglen, tbslen);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    operation op(pctx);
    if (!op.ok())
        return no_key(F, "RSA pkey verify");
    CK_OBJECT_HANDLE handle = public_token_object(ctx, op.rsa(), "RSA pkey verify");
    if (!zorvel_check_data_len_for_hash(static_cast<int>(tbslen))) {
        ZORVEL_REPORT(F, ZORVEL_R_INVALID_HASH_LENGTH);
        zorvel_log(LOG_ERR, "RSA pkey verify, invalid data length (%zu) for hash type", tbslen);
        return 0;
    }
    if (handle == 0) {
        // Public-key operation: without a token object, OpenSSL's software verifies.
        return zorvel_rsa_soft_verify(op.rsa(), op.params()->sLen == RSA_PSS_SALTLEN_AUTO ? RSA_PSS_SALTLEN_AUTO
                                                                                           : static_cast<int>(zorvel_rsa_sLen),
                                      sig, siglen, tbs, tbslen);
    }
    {
        mechanism mech(F, "RSA pkey verify");
        if (mech.get() == nullptr)
            return 0;
        if (!zorvel_rsa_is_digest_info_mechanism(mech.get()->mechanism)) {
            zorvel_log(LOG_DEBUG, "RSA pkey do not use DigestInfo");
            return verify_on_token(F, kVerifyTexts, ctx, mech.get(), handle, tbs, tbslen, sig, siglen) ? 1 : 0;
        }
        zorvel_log(LOG_DEBUG, "RSA pkey must use DigestInfo");
    }
    return zorvel_rsa_pkey_op_with_digest_info(ctx, 0, op.rsa(), const_cast<unsigned char *>(tbs), &tbslen, sig, siglen);
}

int zorvel_rsa_pkey_encrypt(EVP_PKEY_CTX *pctx, unsigned char *out, size_t *outlen, const unsigned char *in,
                            size_t inlen)
{
    const int F = ZORVEL_F_RSA_PUBLIC_ENCRYPT;
    zorvel_log(LOG_DEBUG, "RSA pkey encrypt, datalen %zu", inlen);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    operation op(pctx);
    const int opening = crypt_opening(F, "RSA pkey encrypt", op, out, outlen, inlen);
    if (opening != kGoOn)
        return opening;
    const size_t k = op.k();
    if (*outlen < k)
        return output_too_small(F, "RSA pkey encrypt", *outlen, k);

    CK_OBJECT_HANDLE handle = public_token_object(ctx, op.rsa(), "RSA pkey encrypt");
    if (handle == 0) {
        if (zorvel_rsa_soft_encrypt(op.rsa(), out, outlen, in, inlen))
            return 1;
        ZORVEL_REPORT(F, ZORVEL_R_UNSUPPORTED_PADDING);
        zorvel_log(LOG_ERR, "RSA pkey encrypt, software encryption failed");
        return 0;
    }
    mechanism mech(F, "RSA pkey encrypt");
    if (mech.get() == nullptr)
        return 0;
    // Raw RSA encrypts one k-byte block holding the input at its start.
    const bool raw = mech.get()->mechanism == CKM_RSA_X_509;
    zorvel_buffer data(raw ? k : inlen);
    if (!data.ok()) {
        ZORVEL_REPORT(F, ZORVEL_R_OUT_OF_MEMORY);
        zorvel_log(LOG_ERR, "RSA pkey encrypt, out of mem");
        return 0;
    }
    if (inlen > 0)
        std::memcpy(data.get(), in, inlen);
    return run_on_token(F, kEncryptTexts, ZORVEL_TOKEN_ENCRYPT, ctx, mech.get(), handle, data.get(), data.size(), out,
                        outlen)
               ? 1
               : 0;
}

int zorvel_rsa_pkey_decrypt(EVP_PKEY_CTX *pctx, unsigned char *out, size_t *outlen, const unsigned char *in,
                            size_t inlen)
{
    const int F = ZORVEL_F_RSA_PRIVATE_DECRYPT;
    zorvel_log(LOG_DEBUG, "RSA pkey decrypt, datalen %zu", inlen);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    operation op(pctx);
    const int opening = crypt_opening(F, "RSA pkey decrypt", op, out, outlen, inlen);
    if (opening != kGoOn)
        return opening;
    const size_t k = op.k();
    CK_OBJECT_HANDLE handle = token_object(ctx, op.rsa(), 1, "RSA pkey decrypt");
    if (handle == 0)
        return no_token_object(F, "RSA pkey decrypt");
    mechanism mech(F, "RSA pkey decrypt");
    if (mech.get() == nullptr)
        return 0;
    zorvel_buffer data(in, inlen);
    // The plaintext has at most k bytes: a smaller output buffer gets it through a k-byte
    // scratch block, so that the token is never short of room.
    const bool useScratch = *outlen < k;
    zorvel_buffer scratch(useScratch ? k : 0);
    if (!data.ok() || !scratch.ok()) {
        ZORVEL_REPORT(F, ZORVEL_R_OUT_OF_MEMORY);
        zorvel_log(LOG_ERR, "RSA pkey decrypt, out of mem");
        return 0;
    }
    size_t len = useScratch ? k : *outlen;
    if (!run_on_token(F, kDecryptTexts, ZORVEL_TOKEN_DECRYPT, ctx, mech.get(), handle, data.get(), inlen,
                      useScratch ? scratch.get() : out, &len))
        return 0;
    if (useScratch) {
        if (len > *outlen)
            return output_too_small(F, "RSA pkey decrypt", *outlen, len);
        std::memcpy(out, scratch.get(), len);
    }
    *outlen = len;
    return 1;
}

int zorvel_rsa_pkey_keygen(EVP_PKEY_CTX *pctx, EVP_PKEY *pkey)
{
    const int F = ZORVEL_F_GEN_RSA;
    zorvel_log(LOG_DEBUG, "RSA pkey keygen");
    zorvel_log(LOG_DEBUG, "RSA new key");
    auto *p = static_cast<zorvel_rsa_pkey_params *>(EVP_PKEY_CTX_get_data(pctx));
    if (p == nullptr)
        return 0;
    if (p->pubExp == nullptr && BN_dec2bn(&p->pubExp, "65537") == 0) {
        ZORVEL_REPORT(F, ZORVEL_R_OUT_OF_MEMORY);
        zorvel_log(LOG_ERR, "RSA pkey keygen, out of mem");
        return 0;
    }
    RSA *rsa = RSA_new();
    if (rsa == nullptr) {
        ZORVEL_REPORT(F, ZORVEL_R_OUT_OF_MEMORY);
        zorvel_log(LOG_ERR, "RSA pkey keygen, out of mem");
        return 0;
    }
    if (!zorvel_rsa_key_gen(rsa, p->keyLenBits, p->pubExp, nullptr)) {
        RSA_free(rsa);
        return 0;
    }
    RSA_set_flags(rsa, RSA_FLAG_EXT_PKEY);
    if (!EVP_PKEY_assign_RSA(pkey, rsa)) {
        RSA_free(rsa);
        return 0;
    }
    return 1;
}
