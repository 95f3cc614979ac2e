// A prepared process of one target: forked from this program before any target is
// initialised, it opens the target, makes the key set, and then runs the cases it is
// sent, each in a child of its own (child_runner.h), and sends back how each ended. Two
// targets always live in two workers: a stand-in built without its own namespace loads
// SoftHSM2 into the process, where a second copy of the module would be the same one.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_TARGET_WORKER_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_TARGET_WORKER_H

#include "case_generator.h"
#include "child_runner.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace zorvel::robustness {

struct WorkerSettings {
  std::string modulePath;  // empty: the stand-in
  CaseMode mode = CaseMode::Arbitrary;
  std::chrono::milliseconds timeout{5000};
  bool quiet = true;  // the cases' children write nothing
};

struct CaseResult {
  std::uint64_t seed = 0;
  std::uint64_t index = 0;
  CaseOutcome outcome;
};

class TargetWorker {
 public:
  TargetWorker() = default;
  TargetWorker(const TargetWorker &) = delete;
  TargetWorker &operator=(const TargetWorker &) = delete;
  ~TargetWorker();

  // Starts the worker and waits until it is prepared; false with the reason if it is not.
  // setup receives what it reports of its preparation (keys it could not make, ...).
  bool start(const WorkerSettings &settings, std::string *setup, std::string *error);
  void send(std::uint64_t seed, std::uint64_t index);
  // The descriptor that becomes readable when a result is ready.
  int resultDescriptor() const { return results_; }
  bool receive(CaseResult *result);
  bool busy() const { return busy_; }

 private:
  pid_t pid_ = -1;
  int requests_ = -1;
  int results_ = -1;
  bool busy_ = false;
};

}  // namespace zorvel::robustness

#endif
