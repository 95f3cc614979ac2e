// The process-wide state of the stand-in and the guards every call takes.
#ifndef ZORVEL_TOKEN_CORE_LAYER_LIBRARY_H
#define ZORVEL_TOKEN_CORE_LAYER_LIBRARY_H

#include "layer/backend.h"
#include "layer/provoked_failure.h"
#include "layer/session_registry.h"
#include "layer/slot_map.h"
#include "support/faults.h"
#include "support/settings.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace zorvel::core {

struct Library {
  // Held shared by every call and exclusively by initialisation and finalisation, which
  // thus wait for the calls in flight.
  std::shared_mutex lifecycle;
  bool initialised = false;  // guarded by lifecycle
  Settings settings;         // written under the exclusive lifecycle lock
  FaultSwitches faults;      // likewise
  Backend backend;           // loaded at the first initialisation, kept for the process
  SlotMap slots;
  SessionRegistry sessions;
  // Held while a session opens or closes, in the backend and in the registry together:
  // the backend may give a closed session's handle to a session opened before the close
  // returns, whose state the close must not remove.
  std::mutex openingAndClosing;
  ProvokedFailure provokedFailure;
  std::atomic<unsigned int> selectedHsm{0};
};

Library &library();

inline const CK_FUNCTION_LIST &backendFunctions() { return library().backend.functions(); }

// One exchange with the backend, made by body. An armed provoked failure falls on it: it
// is counted, and then either absorbed (the exchange is retried) or surfaced as
// CKR_DEVICE_ERROR.
template <typename Body>
CK_RV exchangeBy(Body body) {
  // The failed exchange never reached the backend; absorbing it means making it again.
  if (library().provokedFailure.consume() == ProvokedFailure::Outcome::Surfaced) return CKR_DEVICE_ERROR;
  return body();
}

// One exchange that is a call of a backend function.
template <typename Function, typename... Args>
CK_RV exchange(Function function, Args... args) {
  if (function == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
  return exchangeBy([&] { return function(args...); });
}

// Holds off initialisation and finalisation for the whole of one call.
class ActiveCall {
 public:
  ActiveCall() : lock_(library().lifecycle) {}
  bool initialised() const { return library().initialised; }

 private:
  std::shared_lock<std::shared_mutex> lock_;
};

// A call on one session: serialised with the session's other calls unless the settings
// turn that off. Handles the stand-in did not open go to the backend unserialised.
class SessionCall {
 public:
  explicit SessionCall(CK_SESSION_HANDLE session) : state_(library().sessions.find(session)) {
    if (state_ != nullptr && library().settings.serializeSessions) lock_ = std::unique_lock(state_->callLock);
  }
  SessionState *state() const { return state_.get(); }

 private:
  SessionPtr state_;
  std::unique_lock<std::mutex> lock_;
};

}  // namespace zorvel::core

#endif
