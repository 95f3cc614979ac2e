#include "layer/session_registry.h"

namespace zorvel::core {

void SessionRegistry::add(CK_SESSION_HANDLE session, CK_SLOT_ID backendSlot) {
  auto state = std::make_shared<SessionState>(backendSlot);
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_[session] = std::move(state);
}

SessionPtr SessionRegistry::find(CK_SESSION_HANDLE session) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = sessions_.find(session);
  return it == sessions_.end() ? nullptr : it->second;
}

void SessionRegistry::remove(CK_SESSION_HANDLE session) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(session);
}

std::vector<SessionPtr> SessionRegistry::onSlot(CK_SLOT_ID backendSlot) const {
  std::vector<SessionPtr> found;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto &[handle, state] : sessions_) {
    if (state->backendSlot == backendSlot) found.push_back(state);
  }
  return found;
}

void SessionRegistry::removeSlot(CK_SLOT_ID backendSlot) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = it->second->backendSlot == backendSlot ? sessions_.erase(it) : std::next(it);
  }
}

void SessionRegistry::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

}  // namespace zorvel::core
