// The process context (one session, opened and logged in as the user at the first
// operation that needs the token, shared by every thread) and the engine lock that
// guards its creation and release.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include "e_zorvel_internal.h"

extern "C" {
zorvel_ctx *pZorvelCtx = nullptr;
}

namespace {

struct zorvel_lock_st {
    int initialized;
    pthread_mutex_t mutex;
};
zorvel_lock_st lock;

// A login refused for the PIN itself. Retrying it on every operation would lock the
// token's user PIN within moments on a busy host, so it is reported again without a
// token call until the engine is initialised again.
CK_RV zorvel_login_failure = CKR_OK;

int zorvel_pin_refused(CK_RV rv)
{
    return rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LOCKED || rv == CKR_PIN_EXPIRED ||
           rv == CKR_PIN_LEN_RANGE;
}

void zorvel_free_ctx(zorvel_ctx *ctx)
{
    OPENSSL_clear_free(ctx, sizeof *ctx);
}

// A context inherited through fork belongs to the parent's session: the child drops it
// without a token call and opens a session of its own.
void zorvel_drop_inherited_ctx(void)
{
    zorvel_log(LOG_DEBUG, "drop ctx of process %i", pZorvelCtx->pid);
    zorvel_digest_drop_sessions(0);
    zorvel_free_ctx(pZorvelCtx);
    pZorvelCtx = nullptr;
}

// Brings the token library in when deferred, or again in a child after fork.
int zorvel_prepare_library(void)
{
    if (!zorvel_config.deferredInit && !zorvel_initialized_elsewhere())
        return 1;
    return zorvel_load_library();
}

// "0, 1, 2": the slots the token library lists (as many as the text holds), or why it
// lists none. The list is asked for its length first: a token that answers
// CKR_BUFFER_TOO_SMALL leaves the buffer as it was.
void zorvel_list_slots(char *text, size_t size)
{
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    CK_SLOT_ID *slots = nullptr;
    CK_ULONG count = 0;
    CK_RV rv = CKR_FUNCTION_NOT_SUPPORTED;
    if (f->C_GetSlotList != nullptr) {
        zorvel_token_enter();
        rv = f->C_GetSlotList(CK_FALSE, nullptr, &count);
        if (rv == CKR_OK && count > 0) {
            slots = count <= SIZE_MAX / sizeof *slots
                        ? static_cast<CK_SLOT_ID *>(OPENSSL_malloc(count * sizeof *slots))
                        : nullptr;
            rv = slots != nullptr ? f->C_GetSlotList(CK_FALSE, slots, &count) : CKR_HOST_MEMORY;
        }
        zorvel_token_leave();
    }
    if (rv != CKR_OK) {
        std::snprintf(text, size, "(the list failed: %s)", zorvel_rv_in_words(rv).text);
    } else {
        size_t used = std::snprintf(text, size, "%s", count == 0 ? "none" : "");
        for (CK_ULONG i = 0; i < count && used < size; ++i)
            used += std::snprintf(text + used, size - used, "%s%lu", i > 0 ? ", " : "", slots[i]);
    }
    OPENSSL_free(slots);
}

// The configured slot is not one the token library has: names it and the ones it has.
void zorvel_tell_slots(CK_SLOT_ID slot)
{
    char slots[512];
    zorvel_list_slots(slots, sizeof slots);
    zorvel_tell(LOG_ERR, "slot %lu is not a slot of the token library \"%s\"; its slots: %s", slot,
                zorvel_config.lib != nullptr ? zorvel_config.lib : "n/a", slots);
}

int zorvel_open_session(zorvel_ctx *ctx)
{
    zorvel_log(LOG_DEBUG, "open session");
    if (zorvel_p11.pFunctionList == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_OpenSession, no function pointers loaded");
        zorvel_log(LOG_ERR, "open session, no function pointers loaded");
        return 0;
    }
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pFunctionList->C_OpenSession(ctx->slot, CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr,
                                                       nullptr, &ctx->session);
    zorvel_token_leave();
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_OpenSession=0x", rv);
        zorvel_log(LOG_ERR, "open session, C_OpenSession failed with 0x%08X", ZORVEL_HEX32(rv));
        if (rv == CKR_SLOT_ID_INVALID)
            zorvel_tell_slots(ctx->slot);
        return 0;
    }
    return 1;
}

int zorvel_login_user(zorvel_ctx *ctx)
{
    zorvel_log(LOG_DEBUG, "login user");
    if (zorvel_config.user_pin == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Login, no user pin provided");
        zorvel_log(LOG_ERR, "login user, no user pin provided");
        return 0;
    }
    if (ctx->session == 0) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Login, no session provided");
        zorvel_log(LOG_ERR, "login user, no session provided");
        return 0;
    }
    CK_UTF8CHAR_PTR pin = reinterpret_cast<CK_UTF8CHAR_PTR>(zorvel_config.user_pin);
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pFunctionList->C_Login(ctx->session, CKU_USER, pin, std::strlen(zorvel_config.user_pin));
    zorvel_token_leave();
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        if (zorvel_pin_refused(rv))
            zorvel_login_failure = rv;
        ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Login=0x", rv);
        zorvel_log(LOG_ERR, "login user, C_Login failed with 0x%08X", ZORVEL_HEX32(rv));
        zorvel_tell(LOG_ERR, "the token refused the user %s: %s", zorvel_pin_refused(rv) ? "PIN" : "login",
                    zorvel_rv_in_words(rv).text);
        return 0;
    }
    return 1;
}

// Closes a session whose login failed, so that no session is left behind.
void zorvel_abandon_session(zorvel_ctx *ctx)
{
    if (ctx->session == 0 || zorvel_p11.pFunctionList == nullptr)
        return;
    zorvel_log(LOG_DEBUG, "close session");
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pFunctionList->C_CloseSession(ctx->session);
    zorvel_token_leave();
    if (rv != CKR_OK)
        zorvel_log(LOG_ERR, "close session, C_CloseSession failed with 0x%08X", ZORVEL_HEX32(rv));
}

// Logs out and closes the context's session; failures are reported and passed over.
void zorvel_close_session(zorvel_ctx *ctx)
{
    zorvel_log(LOG_DEBUG, "close session");
    CK_FUNCTION_LIST_PTR p11 = zorvel_p11.pFunctionList;
    if (p11 == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_CloseSession, no function pointers loaded");
        zorvel_log(LOG_ERR, "close session, no function pointers loaded");
        return;
    }
    zorvel_log(LOG_DEBUG, "logout user");
    if (ctx->session != 0) {
        zorvel_token_enter();
        CK_RV rv = p11->C_Logout(ctx->session);
        zorvel_token_leave();
        if (rv != CKR_OK) {
            ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Logout=0x", rv);
            zorvel_log(LOG_ERR, "logout user, C_Logout failed with 0x%08X", ZORVEL_HEX32(rv));
        }
        zorvel_token_enter();
        rv = p11->C_CloseSession(ctx->session);
        zorvel_token_leave();
        if (rv != CKR_OK) {
            ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_CloseSession=0x", rv);
            zorvel_log(LOG_ERR, "close session, C_CloseSession failed with 0x%08X", ZORVEL_HEX32(rv));
        }
    }
}

}  // namespace

int zorvel_lock_init(void)
{
    if (!lock.initialized) {
        std::memset(&lock, 0, sizeof lock);
        if (pthread_mutex_init(&lock.mutex, nullptr) == 0)
            lock.initialized = 1;
    }
    zorvel_log(LOG_DEBUG, "initialized mutex");
    return lock.initialized;
}

void zorvel_lock_destroy(void)
{
    zorvel_log(LOG_DEBUG, "finalized mutex");
    if (lock.initialized)
        pthread_mutex_destroy(&lock.mutex);
    std::memset(&lock, 0, sizeof lock);
}

void zorvel_enter_mutex(void)
{
    zorvel_log(LOG_DEBUG, "entering mutex");
    if (pthread_mutex_lock(&lock.mutex) != 0) {
        zorvel_print_stderr("failed to enter mutex\n");
        std::exit(-1);
    }
}

void zorvel_leave_mutex(void)
{
    zorvel_log(LOG_DEBUG, "leaving mutex");
    if (pthread_mutex_unlock(&lock.mutex) != 0) {
        zorvel_print_stderr("failed to leave mutex\n");
        std::exit(-1);
    }
}

int zorvel_lock_before_fork(void)
{
    if (!lock.initialized)
        return 0;
    zorvel_enter_mutex();
    return 1;
}

void zorvel_lock_after_fork(int child)
{
    if (child)
        pthread_mutex_init(&lock.mutex, nullptr);
    else
        zorvel_leave_mutex();
}

void zorvel_forget_login_failure(void)
{
    zorvel_login_failure = CKR_OK;
}

zorvel_ctx *zorvel_get_ctx(void)
{
    zorvel_log(LOG_DEBUG, "get ctx");
    zorvel_enter_mutex();
    if (pZorvelCtx != nullptr && pZorvelCtx->pid != zorvel_process_id())
        zorvel_drop_inherited_ctx();
    if (pZorvelCtx != nullptr) {
        zorvel_ctx *ctx = pZorvelCtx;
        zorvel_leave_mutex();
        return ctx;
    }

    if (zorvel_login_failure != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Login=0x", zorvel_login_failure);
        zorvel_log(LOG_ERR, "login user, C_Login failed with 0x%08X, not retried until the engine is initialised again",
                   ZORVEL_HEX32(zorvel_login_failure));
        zorvel_leave_mutex();
        return nullptr;
    }

    zorvel_ctx *ctx = static_cast<zorvel_ctx *>(OPENSSL_zalloc(sizeof *ctx));
    if (ctx == nullptr) {
        ZORVEL_REPORT(ZORVEL_INIT, ZORVEL_R_OUT_OF_MEMORY);
        zorvel_log(LOG_ERR, "get ctx, out of mem");
        zorvel_leave_mutex();
        return nullptr;
    }
    zorvel_log(LOG_DEBUG, "open ctx");
    ctx->slot = zorvel_config.slotId;

    if (zorvel_prepare_library() && zorvel_open_session(ctx)) {
        if (zorvel_login_user(ctx)) {
            ctx->open = 1;
            ctx->pid = zorvel_process_id();
            pZorvelCtx = ctx;
            zorvel_leave_mutex();
            return ctx;
        }
        zorvel_abandon_session(ctx);
    }

    zorvel_log(LOG_ERR, "get ctx, failed to open ctx");
    zorvel_free_ctx(ctx);
    zorvel_leave_mutex();
    return nullptr;
}

void zorvel_close_ctx(void)
{
    zorvel_log(LOG_DEBUG, "clear ctx");
    if (pZorvelCtx == nullptr)
        return;
    zorvel_enter_mutex();
    if (pZorvelCtx != nullptr) {
        zorvel_log(LOG_DEBUG, "close ctx");
        if (pZorvelCtx->pid != zorvel_process_id())
            zorvel_drop_inherited_ctx();
        else {
            zorvel_digest_drop_sessions(1);
            if (pZorvelCtx->open == 1)
                zorvel_close_session(pZorvelCtx);
            zorvel_free_ctx(pZorvelCtx);
            pZorvelCtx = nullptr;
        }
    }
    zorvel_leave_mutex();
}
