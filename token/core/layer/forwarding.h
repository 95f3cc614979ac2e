// The generic entry of a standard function: the prologue (entry_prologue.h) with the
// slot or the session its kind names, the mechanism translated, and everything else
// handed to the backend unchanged.
#ifndef ZORVEL_TOKEN_CORE_LAYER_FORWARDING_H
#define ZORVEL_TOKEN_CORE_LAYER_FORWARDING_H

#include "conventions/mechanism_translation.h"
#include "layer/call_kinds.h"
#include "layer/entry_prologue.h"
#include "layer/library.h"

namespace zorvel::core {

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
    const auto function = backendFunctions().*Member;
    constexpr CallKind kind = kindOf<Member>;
    if constexpr (kind == CallKind::Library) {
      return entry([&] { return exchange(function, first, rest...); });
    } else if constexpr (kind == CallKind::Slot) {
      return slotEntry(first, [&](const BackendSlot &slot) { return exchange(function, slot.get(), rest...); });
    } else {
      return sessionEntry(first, [&](SessionCall &) {
        if constexpr (TakesMechanism<First, Rest...>::value) {
          return exchangeWithMechanism(function, first, rest...);
        } else {
          return exchange(function, first, rest...);
        }
      });
    }
  }
};

}  // namespace zorvel::core

#endif
