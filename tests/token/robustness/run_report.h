// What a run found: every end of a case and every mismatch, reported as it comes (the seed,
// the case, its description and the command that replays it alone), and at the end the
// figures and the ends grouped by class (the call with its mechanism, key and template
// features, and how the process ended).
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_RUN_REPORT_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_RUN_REPORT_H

#include "case_model.h"
#include "child_runner.h"
#include "comparison.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zorvel::robustness {

// The class of an end or a mismatch at a step: the call and what stands out in its
// templates, else the call with the mechanism and key it ran with (an operation's call:
// those of the last Init of its operation that answered CKR_OK).
std::string stepClass(const Case &c, std::size_t step, const std::vector<CK_RV> &answers);

class RunReport {
 public:
  // replayCommand: the command line that runs a case alone but for "--seed S --case I";
  // targets: the targets' names (two: the stand-in compared with a module); describe:
  // print the description of the first cases of each class (a replay prints its own).
  RunReport(std::string replayCommand, std::vector<std::string> targets, bool describe);

  // A case that ran, with the answers of each target (in the order of the targets).
  void caseRun(const std::vector<const CaseOutcome *> &outcomes);
  // A case the target ended; counts against the run unless informational.
  void end(const Case &c, const CaseOutcome &outcome, const std::string &target, bool informational = false);
  // The comparison of the stand-in's answers with the module's.
  void compared(const Case &c, const Comparison &comparison, const CaseOutcome &standin);
  // Prints the figures and the classes; true when nothing counted against the run.
  bool summarise(double seconds) const;

 private:
  struct ClassCount {
    std::uint64_t count = 0;
    std::string example;  // the replay command of the first case of the class
  };
  void record(std::map<std::string, ClassCount> &classes, const std::string &cls, const Case &c,
              const std::string &details);
  std::string replay(const Case &c) const;

  std::string replayCommand_;
  std::vector<std::string> targets_;
  bool describe_;
  std::uint64_t cases_ = 0;
  // By target: the calls that returned, and those that returned CKR_OK (how far the cases get).
  std::vector<std::pair<std::uint64_t, std::uint64_t>> answered_;
  std::uint64_t listed_ = 0;
  std::map<std::string, ClassCount> ends_, mismatches_, notes_;
  std::map<std::string, std::uint64_t> conventions_;  // refusals a convention explained
};

}  // namespace zorvel::robustness

#endif
