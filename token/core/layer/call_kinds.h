// What the first arguments of each standard function name, for the generic entry.
#ifndef ZORVEL_TOKEN_CORE_LAYER_CALL_KINDS_H
#define ZORVEL_TOKEN_CORE_LAYER_CALL_KINDS_H

#include "pkcs11.h"

#include <type_traits>

namespace zorvel::core {

enum class CallKind {
  Library,  // no slot or session argument
  Slot,     // the first argument is a slot ID
  Session,  // the first argument is a session handle
};

// A session handle, as most functions take first.
template <auto Member>
constexpr CallKind kindOf = CallKind::Session;

template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_Initialize> = CallKind::Library;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_Finalize> = CallKind::Library;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetInfo> = CallKind::Library;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetFunctionList> = CallKind::Library;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetSlotList> = CallKind::Library;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_WaitForSlotEvent> = CallKind::Library;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetSlotInfo> = CallKind::Slot;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetTokenInfo> = CallKind::Slot;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetMechanismList> = CallKind::Slot;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_GetMechanismInfo> = CallKind::Slot;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_InitToken> = CallKind::Slot;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_OpenSession> = CallKind::Slot;
template <> constexpr CallKind kindOf<&CK_FUNCTION_LIST::C_CloseAllSessions> = CallKind::Slot;

// Whether a function starts an operation: a session handle, then its CK_MECHANISM.
template <typename... Args>
struct TakesMechanism : std::false_type {};
template <typename... More>
struct TakesMechanism<CK_SESSION_HANDLE, CK_MECHANISM_PTR, More...> : std::true_type {};

}  // namespace zorvel::core

#endif
