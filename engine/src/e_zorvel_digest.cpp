// Message digests on the token. Every digest context that is running holds a read-only
// token session of its own, taken from a small pool at init and given back at final or
// cleanup, so that any number of digests can run at once, in one thread or many (a TLS
// handshake keeps its transcript digest running while it signs and derives). The
// sessions belong to the process context they were opened beside: finish closes the
// idle ones and a forked child forgets its parent's.
//
// A context copied mid-digest becomes an independent digest on a session of its own:
// the token's operation state is carried over where the token offers it, and otherwise
// the copy replays the bytes the original has been fed, which each running context
// keeps up to a cap. The same replay moves a child's inherited digest onto a session of
// the child's.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <openssl/obj_mac.h>

#include "e_zorvel_fed_bytes.h"
#include "e_zorvel_hash_table.h"
#include "e_zorvel_internal.h"
#include "e_zorvel_pkey.h"

namespace {

// Bytes a running context keeps for a copy to replay; a context fed more cannot be copied
// on a token without C_GetOperationState.
const size_t kReplayCap = 1024 * 1024;

// Idle digest sessions kept open for the next digest; more are closed when returned.
const size_t kIdleSessions = 16;

// What the engine keeps in the context data that OpenSSL allocates for the digest
// (copied byte for byte by EVP_MD_CTX_copy_ex before zorvel_digest_copy runs).
struct digest_run {
    CK_SESSION_HANDLE session;   // 0 while no digest runs
    unsigned long generation;    // of the session pool the session came from
    CK_MECHANISM_TYPE mechanism; // of the last init
    zorvel_fed_bytes fed;        // bytes fed since init (up to kReplayCap), for a copy to replay
};

struct digest_def {
    int nid;
    int pkeyType;
    int blockSize;
    int ctxSize;
    int (*init)(EVP_MD_CTX *);
    EVP_MD **record;
};

// The pool, guarded by the engine lock. The generation changes whenever the sessions of
// the pool stop being usable (finish, a child after fork); a context holding a session
// of an earlier generation never calls the token with it.
CK_SESSION_HANDLE idle_sessions[kIdleSessions];
size_t idle_count = 0;
std::atomic<unsigned long> pool_generation{1};

// Set once the token answered CKR_FUNCTION_NOT_SUPPORTED to C_GetOperationState.
std::atomic<bool> no_operation_state{false};

enum class digest_failure { none, not_running, token, wrong_length, beyond_cap, out_of_memory };

digest_run *run_of(EVP_MD_CTX *ctx)
{
    return static_cast<digest_run *>(EVP_MD_CTX_get0_md_data(ctx));
}

bool current(const digest_run *run)
{
    return run->session != 0 && run->generation == pool_generation.load();
}

CK_RV close_session(CK_SESSION_HANDLE session)
{
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pFunctionList->C_CloseSession(session);
    zorvel_token_leave();
    return rv;
}

// A session for a new digest, from the pool or opened on the context's slot.
CK_RV acquire_session(const zorvel_ctx *zctx, digest_run *run)
{
    CK_RV rv = CKR_OK;
    zorvel_enter_mutex();
    run->generation = pool_generation.load();
    if (idle_count > 0) {
        run->session = idle_sessions[--idle_count];
    } else {
        zorvel_token_enter();
        rv = zorvel_p11.pFunctionList->C_OpenSession(zctx->slot, CKF_SERIAL_SESSION, nullptr, nullptr,
                                                     &run->session);
        zorvel_token_leave();
        if (rv != CKR_OK)
            run->session = 0;
    }
    zorvel_leave_mutex();
    return rv;
}

// Gives the session back (no digest may be running on it). A session of an earlier
// generation is not the pool's any more and is only forgotten.
void release_session(digest_run *run, bool usable)
{
    if (run->session == 0)
        return;
    zorvel_enter_mutex();
    if (run->generation == pool_generation.load()) {
        if (usable && idle_count < kIdleSessions)
            idle_sessions[idle_count++] = run->session;
        else
            close_session(run->session);
    }
    zorvel_leave_mutex();
    run->session = 0;
}

// Ends the digest running on the context's session: PKCS#11 has no other way than to
// complete it, into a scratch buffer. False when the digest may still be running (the
// token named a length beyond any digest): the session must then be closed, not reused.
bool end_running_digest(digest_run *run)
{
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    CK_ULONG len = 0;
    unsigned char scratch[EVP_MAX_MD_SIZE];
    zorvel_token_enter();
    CK_RV rv = f->C_DigestFinal(run->session, nullptr, &len);
    bool ended = rv != CKR_OK || len <= sizeof(scratch); // a failing call ends the digest
    if (rv == CKR_OK && ended)
        f->C_DigestFinal(run->session, scratch, &len);
    zorvel_token_leave();
    return ended;
}

// C_DigestInit and the replay of the fed bytes on the context's (new) session.
CK_RV start_and_replay(digest_run *run)
{
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    CK_MECHANISM mechanism = {run->mechanism, nullptr, 0};
    zorvel_token_enter();
    CK_RV rv = f->C_DigestInit(run->session, &mechanism);
    for (zorvel_fed_block *block = run->fed.first; rv == CKR_OK && block != nullptr; block = block->next)
        rv = f->C_DigestUpdate(run->session, block->bytes(), block->used);
    zorvel_token_leave();
    return rv;
}

// Moves a digest whose session belongs to an earlier generation (inherited by a child
// after fork) onto a session of this one, by replay.
digest_failure move_to_current(const zorvel_ctx *zctx, digest_run *run, CK_RV *rv)
{
    run->session = 0;
    if (run->fed.beyondCap)
        return digest_failure::beyond_cap;
    if ((*rv = acquire_session(zctx, run)) != CKR_OK)
        return digest_failure::token;
    if ((*rv = start_and_replay(run)) != CKR_OK) {
        release_session(run, true);
        return digest_failure::token;
    }
    return digest_failure::none;
}

void report(int function, digest_failure failure, const char *call, CK_RV rv, const char *logPrefix)
{
    switch (failure) {
    case digest_failure::none:
        return;
    case digest_failure::not_running:
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_PKCS11_ERROR, "no digest running in this context");
        zorvel_log(LOG_ERR, "%s no digest running in this context", logPrefix);
        return;
    case digest_failure::token:
        ZORVEL_REPORT_VALUE(function, ZORVEL_R_PKCS11_ERROR, call, rv);
        zorvel_log(LOG_ERR, "%s0x%08X", logPrefix, ZORVEL_HEX32(rv));
        return;
    case digest_failure::wrong_length:
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_INVALID_VALUE, "C_DigestFinal, unexpected digest length");
        zorvel_log(LOG_ERR, "%s unexpected digest length", logPrefix);
        return;
    case digest_failure::beyond_cap:
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_INVALID_VALUE,
                           "digest copy, more than 1 MiB fed and no C_GetOperationState");
        zorvel_log(LOG_ERR, "%s more than 1 MiB fed and no C_GetOperationState", logPrefix);
        return;
    case digest_failure::out_of_memory:
        ZORVEL_REPORT(function, ZORVEL_R_OUT_OF_MEMORY);
        zorvel_log(LOG_ERR, "%s out of mem", logPrefix);
        return;
    }
}

// The process context and the digest context's data; false when either is missing.
bool prepare(EVP_MD_CTX *ctx, zorvel_ctx **zctx, digest_run **run)
{
    *zctx = zorvel_get_ctx();
    *run = *zctx != nullptr ? run_of(ctx) : nullptr;
    return *run != nullptr;
}

int digest_init(EVP_MD_CTX *ctx, int nid)
{
    const zorvel_hash_info *h = zorvel_hash_by_nid(nid);
    zorvel_log(LOG_DEBUG, "%s, init", h->name);
    zorvel_ctx *zctx = nullptr;
    digest_run *run = nullptr;
    if (!prepare(ctx, &zctx, &run))
        return 0;

    // Initialised again while running: the session is kept and its digest ended.
    if (!current(run))
        run->session = 0;
    else if (!end_running_digest(run))
        release_session(run, false);
    zorvel_fed_forget(&run->fed);
    run->mechanism = h->digest;

    CK_RV rv = CKR_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (run->session == 0 && (rv = acquire_session(zctx, run)) != CKR_OK)
            break;
        CK_MECHANISM mechanism = {h->digest, nullptr, 0};
        zorvel_token_enter();
        rv = zorvel_p11.pFunctionList->C_DigestInit(run->session, &mechanism);
        zorvel_token_leave();
        if (rv == CKR_OK)
            return 1;
        // A session the token no longer knows is dropped and one fresh session tried.
        bool stale = rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED;
        if (!stale) {
            release_session(run, rv != CKR_OPERATION_ACTIVE);
            break;
        }
        run->session = 0;
    }
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "%s, init error: ", h->name);
    report(ZORVEL_F_INIT_HASH, digest_failure::token, "C_DigestInit=0x", rv, prefix);
    return 0;
}

int zorvel_md5_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_md5); }
int zorvel_sha1_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha1); }
int zorvel_sha224_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha224); }
int zorvel_sha256_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha256); }
int zorvel_sha384_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha384); }
int zorvel_sha512_init(EVP_MD_CTX *ctx) { return digest_init(ctx, NID_sha512); }

// The context's digest on a session of the current generation.
digest_failure running_digest(const zorvel_ctx *zctx, digest_run *run, CK_RV *rv)
{
    if (run->session == 0)
        return digest_failure::not_running;
    if (run->generation != pool_generation.load())
        return move_to_current(zctx, run, rv);
    return digest_failure::none;
}

int zorvel_digest_update(EVP_MD_CTX *ctx, const void *data, size_t count)
{
    zorvel_log(LOG_DEBUG, "digest update, size: %zu", count);
    zorvel_ctx *zctx = nullptr;
    digest_run *run = nullptr;
    if (!prepare(ctx, &zctx, &run))
        return 0;

    CK_RV rv = CKR_OK;
    digest_failure failure = running_digest(zctx, run, &rv);
    if (failure == digest_failure::none && count > 0) { // the token refuses an empty part
        if (!zorvel_fed_keep(&run->fed, data, count, kReplayCap)) {
            failure = digest_failure::out_of_memory;
        } else {
            zorvel_token_enter();
            rv = zorvel_p11.pFunctionList->C_DigestUpdate(run->session,
                                                          static_cast<CK_BYTE_PTR>(const_cast<void *>(data)), count);
            zorvel_token_leave();
            if (rv != CKR_OK) { // a failing update ends the digest on the token
                failure = digest_failure::token;
                release_session(run, true);
            }
        }
    }
    report(ZORVEL_F_HASH, failure, "C_DigestUpdate=0x", rv, "digest update, error: ");
    return failure == digest_failure::none;
}

int zorvel_digest_final(EVP_MD_CTX *ctx, unsigned char *md)
{
    zorvel_log(LOG_DEBUG, "digest final");
    zorvel_ctx *zctx = nullptr;
    digest_run *run = nullptr;
    if (!prepare(ctx, &zctx, &run))
        return 0;
    const CK_ULONG expected = static_cast<CK_ULONG>(EVP_MD_get_size(EVP_MD_CTX_get0_md(ctx)));

    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    unsigned char local[EVP_MAX_MD_SIZE];
    CK_ULONG len = 0;
    CK_RV rv = CKR_OK;
    digest_failure failure = running_digest(zctx, run, &rv);
    if (failure == digest_failure::none) {
        bool ended = false; // the digest was asked for, which ends it on the token
        zorvel_token_enter();
        rv = f->C_DigestFinal(run->session, nullptr, &len);
        if (rv == CKR_OK && len == expected) {
            len = sizeof(local);
            rv = f->C_DigestFinal(run->session, local, &len);
            ended = true;
        }
        zorvel_token_leave();
        if (rv != CKR_OK) {
            failure = digest_failure::token;
            ended = rv != CKR_BUFFER_TOO_SMALL; // any other failure ends the digest
        } else if (len != expected) {
            failure = digest_failure::wrong_length;
            if (!ended)
                ended = end_running_digest(run);
        }
        release_session(run, ended);
        zorvel_fed_forget(&run->fed);
    }
    if (failure == digest_failure::none)
        std::memcpy(md, local, expected);
    OPENSSL_cleanse(local, sizeof(local));
    report(ZORVEL_F_FINISH_HASH, failure, "C_DigestFinal=0x", rv, "digest final, error: ");
    return failure == digest_failure::none;
}

// Carries the original's operation state over to the copy's session; false when the
// token does not offer it (remembered) or the state cannot be moved.
bool carry_state(const digest_run *from, digest_run *to)
{
    if (no_operation_state.load() || !current(from))
        return false;
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    CK_ULONG len = 0;
    zorvel_token_enter();
    CK_RV rv = f->C_GetOperationState(from->session, nullptr, &len);
    zorvel_token_leave();
    if (rv == CKR_FUNCTION_NOT_SUPPORTED)
        no_operation_state = true;
    if (rv != CKR_OK || len == 0)
        return false;
    // The token may answer a larger length with CKR_BUFFER_TOO_SMALL: the buffer keeps its size.
    const CK_ULONG size = len;
    unsigned char *state = static_cast<unsigned char *>(OPENSSL_malloc(size));
    if (state == nullptr)
        return false;
    zorvel_token_enter();
    rv = f->C_GetOperationState(from->session, state, &len);
    if (rv == CKR_OK)
        rv = f->C_SetOperationState(to->session, state, len, CK_INVALID_HANDLE, CK_INVALID_HANDLE);
    zorvel_token_leave();
    OPENSSL_clear_free(state, size);
    return rv == CKR_OK;
}

// EVP_MD_CTX_copy_ex: `to` holds a byte copy of `from`'s data; it becomes a digest of its
// own with its own session and its own copy of the fed bytes.
int zorvel_digest_copy(EVP_MD_CTX *to, const EVP_MD_CTX *from)
{
    zorvel_log(LOG_DEBUG, "digest copy");
    digest_run *dst = run_of(to);
    const digest_run *src = run_of(const_cast<EVP_MD_CTX *>(from));
    if (dst == nullptr || src == nullptr)
        return 1;
    dst->session = 0;
    zorvel_fed_reset(&dst->fed);  // the byte copy's blocks are the original's
    if (src->session == 0)
        return 1;

    zorvel_ctx *zctx = zorvel_get_ctx();
    if (zctx == nullptr)
        return 0;
    CK_RV rv = CKR_OK;
    digest_failure failure = digest_failure::none;
    if (!zorvel_fed_copy(&dst->fed, &src->fed, kReplayCap))
        failure = digest_failure::out_of_memory;
    else if ((rv = acquire_session(zctx, dst)) != CKR_OK)
        failure = digest_failure::token;
    else if (!carry_state(src, dst)) {
        if (src->fed.beyondCap)
            failure = digest_failure::beyond_cap;
        else if ((rv = start_and_replay(dst)) != CKR_OK)
            failure = digest_failure::token;
        if (failure != digest_failure::none)
            release_session(dst, true);
    }
    if (failure == digest_failure::none)
        return 1;
    zorvel_fed_forget(&dst->fed);
    dst->session = 0;
    report(ZORVEL_F_HASH, failure, "C_DigestInit=0x", rv, "digest copy, error: ");
    return 0;
}

// A context freed or reset without final ends its digest and gives its session back.
int zorvel_digest_cleanup(EVP_MD_CTX *ctx)
{
    digest_run *run = run_of(ctx);
    if (run == nullptr)
        return 1;
    if (current(run)) {
        zorvel_log(LOG_DEBUG, "digest cleanup, ending the running digest");
        release_session(run, end_running_digest(run));
    }
    run->session = 0;
    zorvel_fed_forget(&run->fed);
    return 1;
}

EVP_MD *zorvel_digest_md5 = nullptr;
EVP_MD *zorvel_digest_sha1 = nullptr;
EVP_MD *zorvel_digest_sha224 = nullptr;
EVP_MD *zorvel_digest_sha256 = nullptr;
EVP_MD *zorvel_digest_sha384 = nullptr;
EVP_MD *zorvel_digest_sha512 = nullptr;

const int DIGEST_NIDS[] = {NID_md5, NID_sha1, NID_sha224, NID_sha256, NID_sha384, NID_sha512};

const digest_def kDigestDefs[] = {
    {NID_md5, NID_md5WithRSAEncryption, 64, 92, zorvel_md5_init, &zorvel_digest_md5},
    {NID_sha1, NID_sha1WithRSAEncryption, 64, 96, zorvel_sha1_init, &zorvel_digest_sha1},
    {NID_sha224, NID_sha224WithRSAEncryption, 64, 112, zorvel_sha224_init, &zorvel_digest_sha224},
    {NID_sha256, NID_sha256WithRSAEncryption, 64, 112, zorvel_sha256_init, &zorvel_digest_sha256},
    {NID_sha384, NID_sha384WithRSAEncryption, 128, 216, zorvel_sha384_init, &zorvel_digest_sha384},
    {NID_sha512, NID_sha512WithRSAEncryption, 128, 216, zorvel_sha512_init, &zorvel_digest_sha512},
};
static_assert(sizeof(kDigestDefs) / sizeof(kDigestDefs[0]) == sizeof(DIGEST_NIDS) / sizeof(DIGEST_NIDS[0]),
              "one record per digest");

EVP_MD *new_digest(const digest_def &d)
{
    EVP_MD *md = EVP_MD_meth_new(d.nid, d.pkeyType);
    if (md == nullptr)
        return nullptr;
    static_assert(sizeof(digest_run) <= 92, "the digest's data fits every context size");
    if (EVP_MD_meth_set_result_size(md, static_cast<int>(zorvel_hash_by_nid(d.nid)->size))
        && EVP_MD_meth_set_input_blocksize(md, d.blockSize) && EVP_MD_meth_set_app_datasize(md, d.ctxSize)
        && EVP_MD_meth_set_flags(md, 0) && EVP_MD_meth_set_init(md, d.init)
        && EVP_MD_meth_set_update(md, zorvel_digest_update) && EVP_MD_meth_set_final(md, zorvel_digest_final)
        && EVP_MD_meth_set_copy(md, zorvel_digest_copy) && EVP_MD_meth_set_cleanup(md, zorvel_digest_cleanup))
        return md;
    EVP_MD_meth_free(md);
    return nullptr;
}

void free_digests()
{
    for (const digest_def &d : kDigestDefs) {
        EVP_MD_meth_free(*d.record);
        *d.record = nullptr;
    }
}

} // namespace

void zorvel_digest_drop_sessions(int close_idle)
{
    if (close_idle && zorvel_p11.pFunctionList != nullptr)
        for (size_t i = 0; i < idle_count; ++i)
            close_session(idle_sessions[i]);
    idle_count = 0;
    ++pool_generation;
}

int zorvel_bind_digests(ENGINE *e)
{
    for (const digest_def &d : kDigestDefs) {
        if (*d.record == nullptr && (*d.record = new_digest(d)) == nullptr) {
            free_digests();
            return 0;
        }
    }
    return ENGINE_set_digests(e, zorvel_digests);
}

void zorvel_unbind_digests(void)
{
    free_digests();
    zorvel_fed_free_idle();
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
    for (const digest_def &d : kDigestDefs)
        if (d.nid == nid)
            *digest = *d.record;
    return 1;
}
