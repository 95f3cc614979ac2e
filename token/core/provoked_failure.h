// A failure of the next exchange with the HSM, armed on request.
#ifndef ZORVEL_TOKEN_CORE_PROVOKED_FAILURE_H
#define ZORVEL_TOKEN_CORE_PROVOKED_FAILURE_H

#include "pkcs11.h"

#include <atomic>

namespace zorvel::core {

class ProvokedFailure {
 public:
  void arm(bool armed) { armed_.store(armed); }

  // True once for each arming: the exchange now being made is the one that fails.
  bool consume() {
    if (!armed_.load(std::memory_order_relaxed) || !armed_.exchange(false)) return false;
    consumed_.fetch_add(1);
    return true;
  }

  CK_ULONG consumedCount() const { return consumed_.load(); }

 private:
  std::atomic<bool> armed_{false};
  std::atomic<CK_ULONG> consumed_{0};
};

}  // namespace zorvel::core

#endif
