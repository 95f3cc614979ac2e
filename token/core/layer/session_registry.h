// The sessions opened through the stand-in, each with the lock that serialises calls
// on it (the backend must not be driven by two threads in one session) and its active
// operation. Removing a session ends its operation.
#ifndef ZORVEL_TOKEN_CORE_LAYER_SESSION_REGISTRY_H
#define ZORVEL_TOKEN_CORE_LAYER_SESSION_REGISTRY_H

#include "operations/operation_slot.h"
#include "pkcs11.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zorvel::core {

struct SessionState {
  explicit SessionState(CK_SLOT_ID slot) : backendSlot(slot) {}
  const CK_SLOT_ID backendSlot;
  std::mutex callLock;
  OperationSlot operation;  // see emulation_layer.h
};

using SessionPtr = std::shared_ptr<SessionState>;

class SessionRegistry {
 public:
  void add(CK_SESSION_HANDLE session, CK_SLOT_ID backendSlot);
  // The session's state; null for a handle the stand-in did not open.
  SessionPtr find(CK_SESSION_HANDLE session) const;
  void remove(CK_SESSION_HANDLE session);
  // The sessions on a backend slot, in handle order.
  std::vector<SessionPtr> onSlot(CK_SLOT_ID backendSlot) const;
  void removeSlot(CK_SLOT_ID backendSlot);
  void clear();

 private:
  mutable std::mutex mutex_;
  std::map<CK_SESSION_HANDLE, SessionPtr> sessions_;
};

}  // namespace zorvel::core

#endif
