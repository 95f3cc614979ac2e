// A token library that pretends: it serves the vendor entry point and the few standard
// functions the engine's core calls (it lists slots 0 and 1, and opens a session on any
// slot), journals every call but C_GetSlotList with the caller's process id,
// and answers with a value taken from the environment when one is set there:
//   ZORVEL_FAKE_JOURNAL     file the calls are appended to, one line each
//   ZORVEL_FAKE_SLOTS       how many slots it lists (0, 1, ...) in place of two
//   ZORVEL_FAKE_RV_<name>   return value of <name> (C_Login, C_Initialize, ...), hex
//   ZORVEL_FAKE_NO_LIST     "vendor" or "standard": that entry point answers CKR_OK
//                           but hands out no list
//   ZORVEL_FAKE_FORK_IN     C_Initialize or C_Login: that call starts a helper process
//                           (fork, and the helper exits at once) and waits for it
// Built also as a plain PKCS#11 library without the vendor entry point
// (ZORVEL_FAKE_WITHOUT_VENDOR_ENTRY).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "pkcs11.h"
#include "zorvel_p11.h"

namespace {

void journal(const char *format, ...) __attribute__((format(printf, 1, 2)));

void journal(const char *format, ...)
{
    const char *path = std::getenv("ZORVEL_FAKE_JOURNAL");
    if (path == nullptr)
        return;
    FILE *file = std::fopen(path, "a");
    if (file == nullptr)
        return;
    std::fprintf(file, "pid=%d ", static_cast<int>(getpid()));
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

CK_RV answer(const char *function)
{
    const char *value = std::getenv((std::string("ZORVEL_FAKE_RV_") + function).c_str());
    return value != nullptr ? std::strtoul(value, nullptr, 16) : CKR_OK;
}

// True when ZORVEL_FAKE_NO_LIST names this list: it is answered with CKR_OK and no list.
bool withholds(const char *list)
{
    const char *value = std::getenv("ZORVEL_FAKE_NO_LIST");
    return value != nullptr && std::string(value) == list;
}

void fork_helper_in(const char *function)
{
    const char *value = std::getenv("ZORVEL_FAKE_FORK_IN");
    if (value == nullptr || std::string(value) != function)
        return;
    pid_t helper = fork();
    if (helper == 0)
        _exit(0);
    if (helper > 0)
        waitpid(helper, nullptr, 0);
}

CK_SESSION_HANDLE last_session = 0;

CK_RV fake_finalize(CK_VOID_PTR)
{
    journal("C_Finalize");
    return answer("C_Finalize");
}

CK_RV fake_open_session(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session)
{
    CK_RV rv = answer("C_OpenSession");
    if (rv == CKR_OK)
        *session = ++last_session;
    journal("C_OpenSession slot=%lu flags=0x%lX session=%lu", slot, flags, rv == CKR_OK ? *session : 0UL);
    return rv;
}

CK_RV fake_close_session(CK_SESSION_HANDLE session)
{
    journal("C_CloseSession session=%lu", session);
    return answer("C_CloseSession");
}

CK_RV fake_login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pin_length)
{
    journal("C_Login session=%lu user=%lu pin=%.*s", session, user, static_cast<int>(pin_length),
            reinterpret_cast<const char *>(pin));
    fork_helper_in("C_Login");
    return answer("C_Login");
}

CK_RV fake_logout(CK_SESSION_HANDLE session)
{
    journal("C_Logout session=%lu", session);
    return answer("C_Logout");
}

// Slots 0 to n - 1; a list too short for them is left as it was, as PKCS#11 allows.
CK_RV fake_get_slot_list(CK_BBOOL, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count)
{
    const char *listed = std::getenv("ZORVEL_FAKE_SLOTS");
    const CK_ULONG n = listed != nullptr ? std::strtoul(listed, nullptr, 10) : 2;
    if (slots != nullptr && *count < n) {
        *count = n;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; slots != nullptr && i < n; ++i)
        slots[i] = i;
    *count = n;
    return CKR_OK;
}

CK_FUNCTION_LIST make_function_list()
{
    CK_FUNCTION_LIST list{};
    list.version = {2, 40};
    list.C_Finalize = fake_finalize;
    list.C_GetSlotList = fake_get_slot_list;
    list.C_OpenSession = fake_open_session;
    list.C_CloseSession = fake_close_session;
    list.C_Login = fake_login;
    list.C_Logout = fake_logout;
    return list;
}

CK_FUNCTION_LIST function_list = make_function_list();

CK_RV vendor_get_function_list(CK_FUNCTION_LIST_PTR_PTR list)
{
    journal("C_GetFunctionList");
    CK_RV rv = answer("C_GetFunctionList");
    if (rv == CKR_OK && !withholds("standard"))
        *list = &function_list;
    return rv;
}

#ifndef ZORVEL_FAKE_WITHOUT_VENDOR_ENTRY
CK_RV vendor_finalize(CK_VOID_PTR)
{
    journal("vendor C_Finalize");
    return CKR_OK;
}

CK_RV vendor_initialize(const char *config_path)
{
    journal("C_Initialize %s", config_path);
    fork_helper_in("C_Initialize");
    return answer("C_Initialize");
}

CK_ZORVEL_FUNCTION_LIST vendor_list = {{1, 0}, vendor_get_function_list, vendor_finalize, vendor_initialize};
#endif

}  // namespace

#ifdef ZORVEL_FAKE_WITHOUT_VENDOR_ENTRY
// A plain PKCS#11 library: the standard entry point only.
extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    return vendor_get_function_list(list);
}
#else
extern "C" CK_RV C_GetZorvelFunctionList(CK_ZORVEL_FUNCTION_LIST_PTR_PTR list)
{
    journal("C_GetZorvelFunctionList");
    CK_RV rv = answer("C_GetZorvelFunctionList");
    if (rv == CKR_OK && !withholds("vendor"))
        *list = &vendor_list;
    return rv;
}
#endif
