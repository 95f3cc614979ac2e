// The prologue of every standard function but C_Initialize, C_Finalize and
// C_GetFunctionList: no exception leaves the call, the call holds off initialisation and
// finalisation while it runs (ActiveCall), it answers CKR_CRYPTOKI_NOT_INITIALIZED before
// anything else while the library is not initialised, and it counts the call for the
// device-errors fault (support/faults.h), which may answer it in its place. The slot
// form then gives the body the module's slot (BackendSlot, CKR_SLOT_ID_INVALID for a
// slot not shown), the session form serialises the call on its session (SessionCall).
#ifndef ZORVEL_TOKEN_CORE_LAYER_ENTRY_PROLOGUE_H
#define ZORVEL_TOKEN_CORE_LAYER_ENTRY_PROLOGUE_H

#include "layer/library.h"

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

template <typename Body>
CK_RV entry(Body body) noexcept {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (deviceErrorHook(library().faults)) return CKR_DEVICE_ERROR;
    return body();
  });
}

// body(const BackendSlot &slot).
template <typename Body>
CK_RV slotEntry(CK_SLOT_ID slotID, Body body) noexcept {
  return entry([&] {
    const BackendSlot slot(library().slots, slotID);
    if (slot.status() != CKR_OK) return slot.status();
    return body(slot);
  });
}

// body(SessionCall &session).
template <typename Body>
CK_RV sessionEntry(CK_SESSION_HANDLE hSession, Body body) noexcept {
  return entry([&] {
    SessionCall session(hSession);
    return body(session);
  });
}

}  // namespace zorvel::core

#endif
