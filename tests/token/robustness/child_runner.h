// Runs one case in a child process forked from the prepared one, with a timeout: the
// child reports each call's answer through a pipe as it returns, so that an end of the
// process is pinned to the call that caused it.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_CHILD_RUNNER_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_CHILD_RUNNER_H

#include "pkcs11.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace zorvel::robustness {

struct CaseOutcome {
  // Completed: the runner's own return after the last call. Anything else ended the case.
  enum class Ending { Completed, Signal, Exit, Timeout };
  Ending ending = Ending::Completed;
  int detail = 0;              // Signal: its number; Exit: the status
  std::vector<CK_RV> answers;  // the answers of the calls that returned, in order

  bool ended() const { return ending != Ending::Completed; }
  // "SIGSEGV", "exit 5", "hang": how the case ended.
  std::string endingText() const;
};

using AnswerReport = std::function<void(std::size_t step, CK_RV rv)>;

// Forks; the child runs body (which reports each answer) and returns. quiet sends the
// child's stdout and stderr to /dev/null.
CaseOutcome runInChild(const std::function<void(const AnswerReport &)> &body, std::chrono::milliseconds timeout,
                       bool quiet);

}  // namespace zorvel::robustness

#endif
