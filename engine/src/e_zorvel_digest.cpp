// Message digests on the token. Digests run on a session of their own beside the process
// context's: a digest stays active on its session from init to final, and a token may
// refuse every other operation on a session with an active one (SoftHSM2 answers
// CKR_OPERATION_ACTIVE to C_SignInit and C_FindObjectsInit). One digest runs at a time in
// the process: each digest context carries an owner id, and the owner of the running
// digest is kept under the engine lock. A context that does not own the running digest
// fails cleanly without a token call.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <openssl/obj_mac.h>

#include "e_zorvel_hash_table.h"
#include "e_zorvel_internal.h"
#include "e_zorvel_pkey.h"

namespace {

// What the engine keeps in the context data that OpenSSL allocates for the digest.
struct digest_state {
    uint64_t owner; // 0 until the first init
};

struct digest_def {
    int nid;
    int pkeyType;
    int blockSize;
    int ctxSize;
    int (*init)(EVP_MD_CTX *);
};

// Guarded by the engine lock: the context owning the running digest and its session.
uint64_t active_owner = 0;
CK_SESSION_HANDLE active_session = 0;

// Guarded by the engine lock: the digest session and the process context it was opened
// beside; a new process context (after finish, or in a child after fork) gets a new one.
CK_SESSION_HANDLE digest_session = 0;
const zorvel_ctx *digest_session_ctx = nullptr;
CK_SESSION_HANDLE digest_session_main = 0;

bool stale_session(CK_RV rv)
{
    return rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED || rv == CKR_CRYPTOKI_NOT_INITIALIZED;
}

// C_DigestInit on the digest session, opening it first when the process context is not
// the one it was opened beside or the token no longer knows it. Caller holds the lock.
CK_RV start_digest(CK_FUNCTION_LIST_PTR f, zorvel_ctx *ctx, CK_MECHANISM *mechanism)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (digest_session == 0 || digest_session_ctx != ctx || digest_session_main != ctx->session) {
            digest_session = 0;
            CK_RV rv = f->C_OpenSession(ctx->slot, CKF_SERIAL_SESSION, nullptr, nullptr, &digest_session);
            if (rv != CKR_OK) {
                digest_session = 0;
                return rv;
            }
            digest_session_ctx = ctx;
            digest_session_main = ctx->session;
        }
        CK_RV rv = f->C_DigestInit(digest_session, mechanism);
        if (!stale_session(rv))
            return rv;
        digest_session = 0;
    }
    return CKR_SESSION_HANDLE_INVALID;
}
std::atomic<uint64_t> next_owner{1};

EVP_MD *digests[6] = {};
const int DIGEST_NIDS[] = {NID_md5, NID_sha1, NID_sha224, NID_sha256, NID_sha384, NID_sha512};

enum class digest_failure { none, busy, not_owner, token, wrong_length };

digest_state *state_of(EVP_MD_CTX *ctx)
{
    return static_cast<digest_state *>(EVP_MD_CTX_get0_md_data(ctx));
}

// Completes the digest running on the session into a scratch buffer, so that nothing
// stays active. PKCS#11 has no other way to end a digest. Caller holds the lock.
void end_running_digest(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session)
{
    CK_ULONG len = 0;
    if (f->C_DigestFinal(session, nullptr, &len) == CKR_OK) {
        unsigned char local[EVP_MAX_MD_SIZE];
        unsigned char *out = len <= sizeof(local) ? local : static_cast<unsigned char *>(OPENSSL_malloc(len));
        if (out != nullptr)
            f->C_DigestFinal(session, out, &len);
        if (out != local)
            OPENSSL_free(out);
    }
    active_owner = 0;
    active_session = 0;
}

void report(int function, digest_failure failure, const char *call, CK_RV rv, const char *logPrefix)
{
    switch (failure) {
    case digest_failure::none:
        return;
    case digest_failure::busy:
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_PKCS11_ERROR, "digest already running for another context");
        zorvel_log(LOG_ERR, "%s another digest is running", logPrefix);
        return;
    case digest_failure::not_owner:
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_PKCS11_ERROR, "context does not own the running digest");
        zorvel_log(LOG_ERR, "%s context does not own the running digest", logPrefix);
        return;
    case digest_failure::token:
        ZORVEL_REPORT_VALUE(function, ZORVEL_R_PKCS11_ERROR, call, rv);
        zorvel_log(LOG_ERR, "%s0x%08X", logPrefix, static_cast<unsigned>(rv));
        return;
    case digest_failure::wrong_length:
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_INVALID_VALUE, "C_DigestFinal, unexpected digest length");
        zorvel_log(LOG_ERR, "%s unexpected digest length", logPrefix);
        return;
    }
}

// The process context and the digest context's state; false when either is missing.
bool prepare(EVP_MD_CTX *ctx, zorvel_ctx **zctx, digest_state **state)
{
    *zctx = zorvel_get_ctx();
    *state = *zctx != nullptr ? state_of(ctx) : nullptr;
    return *state != nullptr;
}

int digest_init(EVP_MD_CTX *ctx, int nid)
{
    const zorvel_hash_info *h = zorvel_hash_by_nid(nid);
    zorvel_log(LOG_DEBUG, "%s, init", h->name);
    zorvel_ctx *zctx = nullptr;
    digest_state *state = nullptr;
    if (!prepare(ctx, &zctx, &state))
        return 0;
    if (state->owner == 0)
        state->owner = next_owner.fetch_add(1);

    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    CK_MECHANISM mechanism = {h->digest, nullptr, 0};
    CK_RV rv = CKR_OK;
    digest_failure failure = digest_failure::none;
    zorvel_enter_mutex();
    if (active_owner != 0 && (digest_session_ctx != zctx || digest_session_main != zctx->session)) {
        // The running digest lived on a session of an earlier process context (the
        // parent's, in a child after fork): it is gone with that context.
        active_owner = 0;
        active_session = 0;
    }
    if (active_owner != 0 && active_owner != state->owner) {
        failure = digest_failure::busy;
    } else {
        if (active_owner == state->owner) // initialised again while running: start afresh
            end_running_digest(f, active_session);
        rv = start_digest(f, zctx, &mechanism);
        if (rv == CKR_OK) {
            active_owner = state->owner;
            active_session = digest_session;
        } else {
            failure = digest_failure::token;
        }
    }
    zorvel_leave_mutex();

    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "%s, init error: ", h->name);
    report(ZORVEL_F_INIT_HASH, failure, "C_DigestInit=0x", rv, prefix);
    return failure == digest_failure::none;
}

int zorvel_md5_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_md5); }
int zorvel_sha1_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha1); }
int zorvel_sha224_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha224); }
int zorvel_sha256_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha256); }
int zorvel_sha384_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha384); }
int zorvel_sha512_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha512); }

int zorvel_digest_update(EVP_MD_CTX *ctx, const void *data, size_t count)
{
    zorvel_log(LOG_DEBUG, "digest update, size: %zu", count);
    zorvel_ctx *zctx = nullptr;
    digest_state *state = nullptr;
    if (!prepare(ctx, &zctx, &state))
        return 0;

    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    CK_RV rv = CKR_OK;
    digest_failure failure = digest_failure::none;
    zorvel_enter_mutex();
    if (state->owner == 0 || active_owner != state->owner) {
        failure = digest_failure::not_owner;
    } else if (count > 0) { // nothing to add; the token refuses an empty part
        rv = f->C_DigestUpdate(active_session, static_cast<CK_BYTE_PTR>(const_cast<void *>(data)), count);
        if (rv != CKR_OK) { // a failing update ends the digest on the token
            failure = digest_failure::token;
            active_owner = 0;
            active_session = 0;
        }
    }
    zorvel_leave_mutex();
    report(ZORVEL_F_HASH, failure, "C_DigestUpdate=0x", rv, "digest update, error: ");
    return failure == digest_failure::none;
}

int zorvel_digest_final(EVP_MD_CTX *ctx, unsigned char *md)
{
    zorvel_log(LOG_DEBUG, "digest final");
    zorvel_ctx *zctx = nullptr;
    digest_state *state = nullptr;
    if (!prepare(ctx, &zctx, &state))
        return 0;
    const CK_ULONG expected = static_cast<CK_ULONG>(EVP_MD_get_size(EVP_MD_CTX_get0_md(ctx)));

    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    unsigned char local[EVP_MAX_MD_SIZE];
    CK_ULONG len = 0;
    CK_RV rv = CKR_OK;
    digest_failure failure = digest_failure::none;
    zorvel_enter_mutex();
    if (state->owner == 0 || active_owner != state->owner) {
        failure = digest_failure::not_owner;
    } else if ((rv = f->C_DigestFinal(active_session, nullptr, &len)) != CKR_OK) {
        failure = digest_failure::token;
        active_owner = 0;
        active_session = 0;
    } else if (len != expected) {
        failure = digest_failure::wrong_length;
        end_running_digest(f, active_session);
    } else {
        len = sizeof(local);
        rv = f->C_DigestFinal(active_session, local, &len);
        active_owner = 0;
        active_session = 0;
        if (rv != CKR_OK)
            failure = digest_failure::token;
        else if (len != expected)
            failure = digest_failure::wrong_length;
    }
    zorvel_leave_mutex();
    if (failure == digest_failure::none)
        std::memcpy(md, local, expected);
    OPENSSL_cleanse(local, sizeof(local));
    report(ZORVEL_F_FINISH_HASH, failure, "C_DigestFinal=0x", rv, "digest final, error: ");
    return failure == digest_failure::none;
}

// A context freed or reset without final ends its digest, so that nothing stays active.
int zorvel_digest_cleanup(EVP_MD_CTX *ctx)
{
    digest_state *state = state_of(ctx);
    if (state == nullptr || state->owner == 0)
        return 1;
    zorvel_enter_mutex();
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    if (active_owner == state->owner) {
        zorvel_log(LOG_DEBUG, "digest cleanup, ending the running digest");
        if (f != nullptr)
            end_running_digest(f, active_session);
        active_owner = 0;
        active_session = 0;
    }
    zorvel_leave_mutex();
    return 1;
}

const digest_def kDigestDefs[] = {
    {NID_md5, NID_md5WithRSAEncryption, 64, 92, zorvel_md5_init},
    {NID_sha1, NID_sha1WithRSAEncryption, 64, 96, zorvel_sha1_init},
    {NID_sha224, NID_sha224WithRSAEncryption, 64, 112, zorvel_sha224_init},
    {NID_sha256, NID_sha256WithRSAEncryption, 64, 112, zorvel_sha256_init},
    {NID_sha384, NID_sha384WithRSAEncryption, 128, 216, zorvel_sha384_init},
    {NID_sha512, NID_sha512WithRSAEncryption, 128, 216, zorvel_sha512_init},
};

EVP_MD *new_digest(const digest_def &d)
{
    EVP_MD *md = EVP_MD_meth_new(d.nid, d.pkeyType);
    if (md == nullptr)
        return nullptr;
    static_assert(sizeof(digest_state) <= 92, "the owner id fits every context size");
    if (EVP_MD_meth_set_result_size(md, static_cast<int>(zorvel_hash_by_nid(d.nid)->size))
        && EVP_MD_meth_set_input_blocksize(md, d.blockSize) && EVP_MD_meth_set_app_datasize(md, d.ctxSize)
        && EVP_MD_meth_set_flags(md, 0) && EVP_MD_meth_set_init(md, d.init)
        && EVP_MD_meth_set_update(md, zorvel_digest_update) && EVP_MD_meth_set_final(md, zorvel_digest_final)
        && EVP_MD_meth_set_cleanup(md, zorvel_digest_cleanup))
        return md;
    EVP_MD_meth_free(md);
    return nullptr;
}

} // namespace

namespace {

void free_digests()
{
    for (EVP_MD *&md : digests) {
        EVP_MD_meth_free(md);
        md = nullptr;
    }
}

} // namespace

int zorvel_bind_digests(ENGINE *e)
{
    static_assert(sizeof(kDigestDefs) / sizeof(kDigestDefs[0]) == sizeof(digests) / sizeof(digests[0]),
                  "one record per digest");
    for (size_t i = 0; i < sizeof(digests) / sizeof(digests[0]); ++i) {
        if (digests[i] == nullptr && (digests[i] = new_digest(kDigestDefs[i])) == nullptr) {
            free_digests();
            return 0;
        }
    }
    return ENGINE_set_digests(e, zorvel_digests);
}

void zorvel_unbind_digests(void)
{
    free_digests();
}

int zorvel_digests(ENGINE *, const EVP_MD **digest, const int **nids, int nid)
{
    zorvel_log(LOG_DEBUG, "digests");
    if (digest == nullptr) {
        *nids = DIGEST_NIDS;
        return static_cast<int>(sizeof(DIGEST_NIDS) / sizeof(DIGEST_NIDS[0]));
    }
    zorvel_log(LOG_DEBUG, "digests, requested id: %i", nid);
    *digest = nullptr;
    for (size_t i = 0; i < sizeof(DIGEST_NIDS) / sizeof(DIGEST_NIDS[0]); ++i)
        if (DIGEST_NIDS[i] == nid)
            *digest = digests[i];
    return 1;
}
