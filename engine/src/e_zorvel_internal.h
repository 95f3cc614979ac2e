// Internal interface of the zorvel engine: configuration, token library, process
// context, engine lock, syslog trace and error reporting. Every source file that uses the
// engine's core includes this header, directly or through its area's header; the parts
// that need neither the token nor the core (the digest table, the key method's parameter
// records, its software fallback) do without it. The method areas (RSA, key method,
// digests, random numbers, key loaders) are bound through the functions at the end.
#pragma once

#include <openssl/engine.h>
#include <syslog.h>
#include <sys/types.h>

#include "pkcs11.h"
#include "zorvel_p11.h"

// ---------------------------------------------------------------- identity

#define ZORVEL_ENGINE_ID "zorvel"
#define ZORVEL_ENGINE_NAME "Zorvel engine support"

// ----------------------------------------------------------- configuration

// Written only by binding, cleared by the destroy function.
struct zorvel_config_st {
    char *lib;        // path of the token library, owned
    char *user_pin;   // user PIN, owned, wiped when released
    unsigned int slotId; // 0..2^32-1
    int enableDigest;
    int enableRand;
    int enableSSLv3;  // RSA private encryption by C_Sign instead of C_Encrypt
    int enableRSA;
    int deferredInit; // load the token library at the first context creation
};
extern zorvel_config_st zorvel_config;

// Path of the configuration file that was read; handed to the vendor C_Initialize.
extern char *zorvel_pre_config;

// Releases the configuration strings (the PIN wiped) and zeroes every field (destroy).
void zorvel_clear_config(void);

// The two places the configuration file is looked for, in order.
extern const char *const zorvel_config_files[2];

// ----------------------------------------------------------- token library

struct zorvel_p11_st {
    CK_FUNCTION_LIST_PTR pFunctionList;               // every token call goes through it
    CK_ZORVEL_FUNCTION_LIST_PTR pZorvelFunctionList;  // vendor list it came from
};
extern "C" zorvel_p11_st zorvel_p11;

// Each returns 1 on success, 0 after reporting the failure.
int zorvel_load_dso(void);
int zorvel_load_pflist(void);
int zorvel_initialize(void);
void zorvel_unload_dso(void);

// The three steps in turn (init, or the first context when deferred); unloads when binding fails.
int zorvel_load_library(void);

// 1 when the vendor C_Initialize last succeeded in another process: this one is a child
// after fork and must initialise the library again before using it.
int zorvel_initialized_elsewhere(void);

// ENGINE life cycle.
int zorvel_init_engine(ENGINE *e);
int zorvel_finish_engine(ENGINE *e);
int zorvel_destroy_engine(ENGINE *e);
int zorvel_ctrl_engine(ENGINE *e, int cmd, long i, void *p, void (*f)(void));

// --------------------------------------------------------- process context

// The one logged-in session the whole process uses.
typedef struct zorvel_ctx_st {
    int open;                  // 1 once the session is open and the user logged in
    CK_SESSION_HANDLE session;
    CK_SLOT_ID slot;
    int pid;                   // process that opened the session
} zorvel_ctx;

// NULL while there is no context; set only while its session is open and logged in.
extern "C" zorvel_ctx *pZorvelCtx;

// Returns the process context, creating it when there is none (opening the session and
// logging in); NULL after reporting the failure. Takes the engine lock itself: never
// call it while holding the lock.
extern "C" zorvel_ctx *zorvel_get_ctx(void);

// Logs out, closes the session and frees the context (finish).
void zorvel_close_ctx(void);

// Forgets a stored PIN failure, so that the next context creation logs in again.
void zorvel_forget_login_failure(void);

// Engine lock: one process-wide, non-recursive mutex. A failing lock or unlock ends the process.
int zorvel_lock_init(void);
void zorvel_lock_destroy(void);
void zorvel_enter_mutex(void);
void zorvel_leave_mutex(void);

// Token lock: every call into the token library holds it shared, for that call (or a
// pair that must run as one) and nothing else, so that a fork can wait until no thread
// is inside the token library. Taken after the engine lock, never before it, and never
// twice by one thread.
void zorvel_token_enter(void);
void zorvel_token_leave(void);

// Registers the fork handlers once per loaded library: before fork they take the engine
// lock, the token lock (exclusively) and the log lock, so that the child inherits none of
// them held by a thread it does not have; parent and child release them. A fork from
// inside a token call (the token library's own) leaves them as they are.
void zorvel_fork_guard_install(void);

// getpid(), without a system call once the fork handlers are installed.
pid_t zorvel_process_id(void);

// The engine lock's part of the fork handlers; 1 when the lock was taken.
int zorvel_lock_before_fork(void);
void zorvel_lock_after_fork(int child);

// The log lock's part of the fork handlers.
void zorvel_log_before_fork(void);
void zorvel_log_after_fork(int child);

// Digest sessions: closes the idle ones (close_idle 1) or forgets them (a child's
// inherited handles), so that no running digest context reuses a session of an earlier
// process context. Caller holds the engine lock, or is the child's fork handler.
void zorvel_digest_drop_sessions(int close_idle);

// ------------------------------------------------------------------ logging

// Opens syslog with the engine's options and facility (LOG_LOCAL1).
void zorvel_open_log(void);

// setlogmask under the log lock.
void zorvel_set_log_mask(int mask);

// Writes one syslog line "eZorvel(<kernel thread id>) " followed by the formatted
// message. Never pass the PIN.
void zorvel_log(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Prints to standard error through an OpenSSL file BIO.
void zorvel_print_stderr(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A line a person can act on: "eZorvel: " and the message on standard error, and the
// message in syslog at `priority`. Never pass the PIN.
void zorvel_tell(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));

// A token library's return value in words: its CKR_ name, or the value as "0x%08X".
struct zorvel_rv_words {
    char text[48];
};
zorvel_rv_words zorvel_rv_in_words(CK_RV rv);

// The low 32 bits of a value, for "%08X" in log lines and error data.
#define ZORVEL_HEX32(value) ((unsigned int)((unsigned long)(value) & 0xFFFFFFFFUL))

// ------------------------------------------------------------------- errors

// Function codes: recorded as the function name of an error entry.
enum {
    ZORVEL_INIT = 103,
    ZORVEL_FINISH = 105,
    ZORVEL_F_SEED = 107,
    ZORVEL_F_RAND = 109,
    ZORVEL_F_INIT_HASH = 111,
    ZORVEL_F_HASH = 113,
    ZORVEL_F_FINISH_HASH = 115,
    ZORVEL_F_GEN_RSA = 117,
    ZORVEL_F_FIND_OBJECT = 119,
    ZORVEL_F_LOAD_KEY = 121,
    ZORVEL_F_RSA_PRIVATE_ENCRYPT = 123,
    ZORVEL_F_RSA_PRIVATE_DECRYPT = 125,
    ZORVEL_F_RSA_PUBLIC_ENCRYPT = 127,
    ZORVEL_F_RSA_PUBLIC_DECRYPT = 129,
    ZORVEL_F_RSA_PRIVATE_SIGN = 131,
    ZORVEL_F_RSA_PUBLIC_VERIFY = 133,
    ZORVEL_F_NO_FPTR = 135,
};

// Reason codes of the engine's error library.
enum {
    ZORVEL_R_ENGINE_ERROR = 102,
    ZORVEL_R_OUT_OF_MEMORY = 104,
    ZORVEL_R_PKCS11_ERROR = 141,
    ZORVEL_R_INVALID_VALUE = 144,
    ZORVEL_R_KEY_HANDLE_NOT_FOUND = 146,
    ZORVEL_R_UNSUPPORTED_PADDING = 148,
    ZORVEL_R_NO_FPTR = 150,
    ZORVEL_R_UNSUPPORTED_MECHANISM = 152,
    ZORVEL_R_INVALID_HASH_LENGTH = 154,
};

// The engine's error library code, obtained from OpenSSL at first use.
int zorvel_error_library(void);

// Name of a function code ("ZORVEL_INIT"); NULL for an unknown code.
const char *zorvel_function_name(int function);

// Puts one error entry: library `lib` (the engine's own or one of OpenSSL's), the
// reason, source file "src/e_zorvel", the reporting line and the function's name.
void zorvel_put_error(int lib, int function, int reason, int line);

// Puts one error entry under one of OpenSSL's libraries, with that library's function name.
void zorvel_put_library_error(int lib, const char *function_name, int reason, int line);

// Puts one error entry under the engine's library code.
void ERR_ZORVEL_error(int function, int reason, int line);

// Error data of the last entry: a fixed text, or a text and a value as "%08X".
void zorvel_add_error_text(const char *text);
void zorvel_add_error_value(const char *text, unsigned long value);

// Report at the calling line; with error data as above.
#define ZORVEL_REPORT(function, reason) ERR_ZORVEL_error((function), (reason), __LINE__)
#define ZORVEL_REPORT_TEXT(function, reason, text) \
    (ERR_ZORVEL_error((function), (reason), __LINE__), zorvel_add_error_text(text))
// ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Login=0x", rv)
#define ZORVEL_REPORT_VALUE(function, reason, text, value) \
    (ERR_ZORVEL_error((function), (reason), __LINE__), zorvel_add_error_value((text), (value)))

// Error strings: loaded by binding, unloaded by destroy.
void zorvel_load_error_strings(void);
void zorvel_unload_error_strings(void);

// --------------------------------------------------- method areas (binding)

// Each method area builds its method tables and makes its ENGINE_set_* call(s): 1, or 0
// when a call failed. Binding logs the step lines around them and decides from the
// configuration which to call; an unbind function frees what its bind function built.

// Always: ENGINE_set_pkey_meths.
int zorvel_bind_pkey_methods(ENGINE *e);
void zorvel_unbind_pkey_methods(void);
// With enableRand: ENGINE_set_RAND.
int zorvel_bind_random(ENGINE *e);
// With enableDigest: ENGINE_set_digests (binding then calls ENGINE_register_digests).
int zorvel_bind_digests(ENGINE *e);
void zorvel_unbind_digests(void);
// With enableRSA: ENGINE_set_RSA, the saved software operations, the ex-data index.
int zorvel_bind_rsa(ENGINE *e);
void zorvel_unbind_rsa(void);
// Always: ENGINE_set_load_privkey_function and ENGINE_set_load_pubkey_function.
int zorvel_bind_key_loaders(ENGINE *e);

// Calls every unbind function (destroy, and a binding that failed).
void zorvel_unbind_areas(void);
