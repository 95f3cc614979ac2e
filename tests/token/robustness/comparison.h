// The comparison of the stand-in with the module on legitimate cases: the stand-in may
// refuse what the module takes only under one of its conventions (token/README.md),
// listed in one table with the reason for each.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_COMPARISON_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_COMPARISON_H

#include "case_model.h"
#include "child_runner.h"

#include <optional>

namespace zorvel::robustness {

struct Mismatch {
  std::size_t step = 0;
  CK_RV standin = CKR_OK;
  CK_RV module = CKR_OK;
};

struct Comparison {
  std::optional<Mismatch> mismatch;  // the first call the stand-in refuses and the module takes
  const char *convention = nullptr;  // else the convention that explains such a refusal, if any
};

// Compares the answers up to the first call where one target succeeds and the other does
// not: after that the two run different sequences.
Comparison compare(const Case &c, const CaseOutcome &standin, const CaseOutcome &module);

}  // namespace zorvel::robustness

#endif
