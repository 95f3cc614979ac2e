// The operation active on one session, as the emulation layer keeps it: at most one,
// whatever its family, as the module runs one per session (measured: SoftHSM2 answers
// CKR_OPERATION_ACTIVE to any second Init, whatever the first one's family).
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_OPERATION_SLOT_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_OPERATION_SLOT_H

#include "operations/emulation.h"
#include "operations/operation.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace zorvel::core {

struct RunningOperation {
  RunningOperation(Family family, const Emulation *row, std::unique_ptr<ActiveOperation> operation)
      : family(family), row(row), operation(std::move(operation)) {}

  bool emulated() const { return row != nullptr; }

  const Family family;
  const Emulation *const row;  // the emulation that started it; null for the module's own, forwarded
  const std::unique_ptr<ActiveOperation> operation;
  // Set by the first update that succeeds: the operation is a multi-part one from then on.
  std::atomic<bool> partsGiven{false};
};

using RunningPtr = std::shared_ptr<RunningOperation>;

// Calls on one session may run at once when the settings say so; the slot is safe for
// that, and a call keeps the operation it works on alive until it returns.
class OperationSlot {
 public:
  RunningPtr current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }
  void start(RunningPtr running) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = std::move(running);
  }
  // Ends the operation if it is still the active one.
  void end(const RunningPtr &running) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ == running) running_.reset();
  }
  // Held by an Init from its look at the active operation to the start of its own, so
  // that two Inits on the session never both find none, whether or not the settings
  // serialise the session's calls.
  std::mutex &initLock() { return initLock_; }

 private:
  mutable std::mutex mutex_;
  RunningPtr running_;
  std::mutex initLock_;
};

}  // namespace zorvel::core

#endif
