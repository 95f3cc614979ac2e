// The sessions opened through the stand-in, each with the lock that serialises calls
// on it (the backend must not be driven by two threads in one session).
#ifndef ZORVEL_TOKEN_CORE_SESSION_REGISTRY_H
#define ZORVEL_TOKEN_CORE_SESSION_REGISTRY_H

#include "pkcs11.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zorvel::core {

// A backend operation that stands in for the caller's (see rsa_key_conventions.h).
enum class PendingSubstitute { None, SignForEncrypt, EncryptForDecrypt };

struct SessionState {
  explicit SessionState(CK_SLOT_ID slot) : backendSlot(slot) {}
  const CK_SLOT_ID backendSlot;
  std::mutex callLock;
  // Operations the stand-in carries out itself keep their pending state here.
  std::atomic<PendingSubstitute> pendingSubstitute{PendingSubstitute::None};
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
