// The generic entry of a standard function: checks the library's own initialisation
// state first, translates the slot or the mechanism its kind names, serialises calls on
// a session, and hands everything else to the backend unchanged.
#ifndef ZORVEL_TOKEN_CORE_FORWARDING_H
#define ZORVEL_TOKEN_CORE_FORWARDING_H

#include "layer/call_kinds.h"
#include "layer/library.h"
#include "conventions/mechanism_translation.h"

#include <new>

namespace zorvel::core {

// Runs an entry's body; an exception never crosses into the caller.
template <typename Body>
CK_RV guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return CKR_HOST_MEMORY;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

template <typename Function, typename... Rest>
CK_RV exchangeWithMechanism(Function function, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                            Rest... rest) {
  BackendMechanism backendMechanism(mechanism);
  if (backendMechanism.status() != CKR_OK) return backendMechanism.status();
  return exchange(function, session, backendMechanism.get(), rest...);
}

template <auto Member>
struct Passthrough;

template <typename First, typename... Rest, CK_RV (*CK_FUNCTION_LIST::*Member)(First, Rest...)>
struct Passthrough<Member> {
  static CK_RV call(First first, Rest... rest) {
    return guarded([&] {
      ActiveCall active;
      if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
      const auto function = backendFunctions().*Member;
      constexpr CallKind kind = kindOf<Member>;
      if constexpr (kind == CallKind::Library) {
        return exchange(function, first, rest...);
      } else if constexpr (kind == CallKind::Slot) {
        CK_SLOT_ID backendSlot = 0;
        if (!library().slots.toBackend(first, &backendSlot)) return CKR_SLOT_ID_INVALID;
        return exchange(function, backendSlot, rest...);
      } else {
        SessionCall session(first);
        if constexpr (TakesMechanism<First, Rest...>::value) {
          return exchangeWithMechanism(function, first, rest...);
        } else {
          return exchange(function, first, rest...);
        }
      }
    });
  }
};

}  // namespace zorvel::core

#endif
