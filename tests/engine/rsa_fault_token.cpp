// A token library in front of the stand-in that makes chosen calls fail, for the failures
// a working token never shows. It forwards everything to the stand-in
// (ZORVEL_TEST_TOKEN_LIBRARY) except where the environment says otherwise:
//   ZORVEL_FAULT_FIND_OBJECTS=<hex>    C_FindObjects answers that value
//   ZORVEL_FAULT_MODULUS_LEN=<hex>     CKA_MODULUS reads back with that length and no value
//   ZORVEL_FAULT_OUTPUT_ROOM=<hex>     the next C_Encrypt, C_Decrypt or C_Sign after the value
//                                      was set offers the stand-in only that much output room
//   ZORVEL_FAULT_DIGEST_LEN=<hex>      C_DigestFinal asked for the length answers that length
//   ZORVEL_FAULT_STATE_LEN=<hex>       C_GetOperationState asked for the length answers that
//                                      length, and asked for the state needs twice as much
//   ZORVEL_FAULT_OPERATION_STATE=1     a digest started while it is set has an operation
//                                      state: its mechanism and the bytes fed so far, which
//                                      C_SetOperationState digests again on the other session
// A digest call on a session that another process opened ends the process (abort), so
// that a child's use of its parent's session shows.
#include "pkcs11.h"
#include "zorvel_p11.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

CK_FUNCTION_LIST_PTR target = nullptr;
CK_ZORVEL_FUNCTION_LIST_PTR target_vendor = nullptr;
CK_FUNCTION_LIST shim_list;

bool fault(const char *name, CK_ULONG *value)
{
    const char *text = std::getenv(name);
    if (text == nullptr)
        return false;
    *value = std::strtoul(text, nullptr, 16);
    return true;
}

CK_RV find_objects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR count)
{
    CK_ULONG rv = CKR_OK;
    if (fault("ZORVEL_FAULT_FIND_OBJECTS", &rv))
        return rv;
    return target->C_FindObjects(session, objects, max, count);
}

CK_RV get_attribute_value(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
                          CK_ULONG count)
{
    CK_ULONG len = 0;
    if (count == 1 && attributes[0].type == CKA_MODULUS && fault("ZORVEL_FAULT_MODULUS_LEN", &len)) {
        attributes[0].ulValueLen = len;
        return CKR_OK;
    }
    return target->C_GetAttributeValue(session, object, attributes, count);
}

/* Shrinks the output room of one call for each value the variable is given. */
void shrink_once(CK_BYTE_PTR output, CK_ULONG_PTR length)
{
    static std::string applied;
    const char *text = std::getenv("ZORVEL_FAULT_OUTPUT_ROOM");
    if (text == nullptr || output == nullptr || applied == text)
        return;
    applied = text;
    const CK_ULONG room = std::strtoul(text, nullptr, 16);
    if (room < *length)
        *length = room;
}

template <CK_RV (*CK_FUNCTION_LIST::*Member)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)>
CK_RV with_little_room(CK_SESSION_HANDLE session, CK_BYTE_PTR in, CK_ULONG inLen, CK_BYTE_PTR out, CK_ULONG_PTR outLen)
{
    shrink_once(out, outLen);
    return (target->*Member)(session, in, inLen, out, outLen);
}

std::mutex opener_lock;
std::map<CK_SESSION_HANDLE, pid_t> opener; // process that opened each session

CK_RV open_session(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR app, CK_NOTIFY notify, CK_SESSION_HANDLE_PTR session)
{
    CK_RV rv = target->C_OpenSession(slot, flags, app, notify, session);
    if (rv == CKR_OK) {
        std::lock_guard<std::mutex> hold(opener_lock);
        opener[*session] = getpid();
    }
    return rv;
}

void require_own_session(CK_SESSION_HANDLE session, const char *call)
{
    std::lock_guard<std::mutex> hold(opener_lock);
    auto found = opener.find(session);
    if (found != opener.end() && found->second != getpid()) {
        std::fprintf(stderr, "%s on session %lu of process %d in process %d\n", call, session,
                     static_cast<int>(found->second), static_cast<int>(getpid()));
        std::abort();
    }
}

// The operation state of the digests started under ZORVEL_FAULT_OPERATION_STATE, by session.
struct digest_state {
    CK_MECHANISM_TYPE mechanism;
    std::vector<unsigned char> fed;
};
std::mutex state_lock;
std::map<CK_SESSION_HANDLE, digest_state> states;

bool with_operation_state()
{
    return std::getenv("ZORVEL_FAULT_OPERATION_STATE") != nullptr;
}

CK_RV digest_init(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism)
{
    require_own_session(session, "C_DigestInit");
    CK_RV rv = target->C_DigestInit(session, mechanism);
    std::lock_guard<std::mutex> hold(state_lock);
    states.erase(session);
    if (rv == CKR_OK && with_operation_state())
        states[session] = {mechanism->mechanism, {}};
    return rv;
}

CK_RV digest_update(CK_SESSION_HANDLE session, CK_BYTE_PTR part, CK_ULONG len)
{
    require_own_session(session, "C_DigestUpdate");
    CK_RV rv = target->C_DigestUpdate(session, part, len);
    std::lock_guard<std::mutex> hold(state_lock);
    auto found = states.find(session);
    if (found != states.end() && rv == CKR_OK)
        found->second.fed.insert(found->second.fed.end(), part, part + len);
    return rv;
}

CK_RV digest_final(CK_SESSION_HANDLE session, CK_BYTE_PTR digest, CK_ULONG_PTR len)
{
    require_own_session(session, "C_DigestFinal");
    CK_ULONG faked = 0;
    if (digest == nullptr && fault("ZORVEL_FAULT_DIGEST_LEN", &faked)) {
        *len = faked;
        return CKR_OK;
    }
    CK_RV rv = target->C_DigestFinal(session, digest, len);
    if (digest != nullptr && rv != CKR_BUFFER_TOO_SMALL) { // the digest has ended
        std::lock_guard<std::mutex> hold(state_lock);
        states.erase(session);
    }
    return rv;
}

// The state of a digest with one: the mechanism, then the bytes fed.
CK_RV recorded_state(const digest_state &digest, CK_BYTE_PTR state, CK_ULONG_PTR len)
{
    const CK_ULONG needed = sizeof digest.mechanism + digest.fed.size();
    if (state != nullptr && *len < needed) {
        *len = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    *len = needed;
    if (state != nullptr) {
        std::memcpy(state, &digest.mechanism, sizeof digest.mechanism);
        std::copy(digest.fed.begin(), digest.fed.end(), state + sizeof digest.mechanism);
    }
    return CKR_OK;
}

CK_RV get_operation_state(CK_SESSION_HANDLE session, CK_BYTE_PTR state, CK_ULONG_PTR len)
{
    {
        std::lock_guard<std::mutex> hold(state_lock);
        auto found = states.find(session);
        if (found != states.end())
            return recorded_state(found->second, state, len);
    }
    CK_ULONG faked = 0;
    if (!fault("ZORVEL_FAULT_STATE_LEN", &faked))
        return target->C_GetOperationState(session, state, len);
    if (state == nullptr) {
        *len = faked;
        return CKR_OK;
    }
    *len = 2 * faked;
    return CKR_BUFFER_TOO_SMALL;
}

CK_RV set_operation_state(CK_SESSION_HANDLE session, CK_BYTE_PTR state, CK_ULONG len, CK_OBJECT_HANDLE encryptionKey,
                          CK_OBJECT_HANDLE authenticationKey)
{
    digest_state digest = {};
    if (!with_operation_state() || len < sizeof digest.mechanism)
        return target->C_SetOperationState(session, state, len, encryptionKey, authenticationKey);
    std::memcpy(&digest.mechanism, state, sizeof digest.mechanism);
    CK_MECHANISM mechanism = {digest.mechanism, nullptr, 0};
    CK_RV rv = digest_init(session, &mechanism);
    if (rv == CKR_OK && len > sizeof digest.mechanism)
        rv = digest_update(session, state + sizeof digest.mechanism, len - sizeof digest.mechanism);
    return rv;
}

CK_RV get_function_list(CK_FUNCTION_LIST_PTR_PTR list)
{
    *list = &shim_list;
    return CKR_OK;
}

CK_RV finalize(CK_VOID_PTR reserved)
{
    return target_vendor != nullptr ? target_vendor->C_Finalize(reserved) : CKR_CRYPTOKI_NOT_INITIALIZED;
}

CK_RV initialize(const char *config_path)
{
    if (target == nullptr) {
        void *library = dlopen(ZORVEL_TEST_TOKEN_LIBRARY, RTLD_NOW);
        auto vendor_entry = library != nullptr ? reinterpret_cast<CK_RV (*)(CK_ZORVEL_FUNCTION_LIST_PTR_PTR)>(
                                                     dlsym(library, "C_GetZorvelFunctionList"))
                                               : nullptr;
        if (vendor_entry == nullptr || vendor_entry(&target_vendor) != CKR_OK ||
            target_vendor->C_GetFunctionList(&target) != CKR_OK)
            return CKR_GENERAL_ERROR;
        shim_list = *target;
        shim_list.C_FindObjects = find_objects;
        shim_list.C_GetAttributeValue = get_attribute_value;
        shim_list.C_Encrypt = with_little_room<&CK_FUNCTION_LIST::C_Encrypt>;
        shim_list.C_Decrypt = with_little_room<&CK_FUNCTION_LIST::C_Decrypt>;
        shim_list.C_Sign = with_little_room<&CK_FUNCTION_LIST::C_Sign>;
        shim_list.C_OpenSession = open_session;
        shim_list.C_DigestInit = digest_init;
        shim_list.C_DigestUpdate = digest_update;
        shim_list.C_DigestFinal = digest_final;
        shim_list.C_GetOperationState = get_operation_state;
        shim_list.C_SetOperationState = set_operation_state;
    }
    return target_vendor->C_Initialize(config_path);
}

CK_ZORVEL_FUNCTION_LIST vendor_list = {{1, 0}, get_function_list, finalize, initialize};

} // namespace

extern "C" CK_RV C_GetZorvelFunctionList(CK_ZORVEL_FUNCTION_LIST_PTR_PTR list)
{
    *list = &vendor_list;
    return CKR_OK;
}
