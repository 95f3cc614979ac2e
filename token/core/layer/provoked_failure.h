// A failure of the next exchange with the HSM, armed on request.
#ifndef ZORVEL_TOKEN_CORE_LAYER_PROVOKED_FAILURE_H
#define ZORVEL_TOKEN_CORE_LAYER_PROVOKED_FAILURE_H

#include "pkcs11.h"

#include <atomic>

namespace zorvel::core {

class ProvokedFailure {
 public:
  enum class Outcome { None, Absorbed, Surfaced };

  void arm(bool armed) { armed_.store(armed); }
  // Whether the exchange that meets the failure reports it instead of retrying.
  void setSurfaced(bool surfaced) { surfaced_.store(surfaced); }

  // What becomes of the exchange now being made: once for each arming, it is the one
  // that fails, and the failure is counted.
  Outcome consume() {
    if (!armed_.load(std::memory_order_relaxed) || !armed_.exchange(false)) return Outcome::None;
    consumed_.fetch_add(1);
    return surfaced_.load() ? Outcome::Surfaced : Outcome::Absorbed;
  }

  CK_ULONG consumedCount() const { return consumed_.load(); }

 private:
  std::atomic<bool> armed_{false};
  std::atomic<bool> surfaced_{false};
  std::atomic<CK_ULONG> consumed_{0};
};

}  // namespace zorvel::core

#endif
