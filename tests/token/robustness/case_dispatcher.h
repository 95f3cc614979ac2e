// Hands the run's cases to the targets' prepared processes and collects the results: every
// case goes to one process of each target; jobs processes per target run side by side.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_DISPATCHER_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_DISPATCHER_H

#include "target_worker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorvel::robustness {

// Which cases to run: case 0, 1, ... of every seed in turn, until casesPerSeed of each or
// until the time is up; or the one case replayed.
struct CasePlan {
  std::vector<std::uint64_t> seeds;
  std::optional<std::uint64_t> casesPerSeed;
  std::optional<double> seconds;
  std::optional<std::uint64_t> only;
};

class CaseDispatcher {
 public:
  // Starts jobs prepared processes for each target; false with the reason if one fails.
  // setups receives what the first process of each target reported of its preparation.
  bool start(const std::vector<WorkerSettings> &targets, unsigned jobs, std::vector<std::string> *setups,
             std::string *error);
  // Runs the plan; done gets each case's results, one per target in the order of start.
  // False if a prepared process stopped answering.
  bool run(const CasePlan &plan, const std::function<void(const std::vector<CaseResult> &)> &done);

 private:
  std::vector<std::vector<std::unique_ptr<TargetWorker>>> workers_;  // by target
};

}  // namespace zorvel::robustness

#endif
