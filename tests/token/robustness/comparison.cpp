#include "comparison.h"

#include <algorithm>

namespace zorvel::robustness {
namespace {

// A refusal the stand-in gives on purpose where a module may go on.
struct Convention {
  const char *name;
  const char *reason;
  bool (*covers)(const Step &step, CK_RV standinAnswer);
};

bool isCipherInit(Call call) { return call == Call::EncryptInit || call == Call::DecryptInit; }

const Convention kConventions[] = {
    {"CKM_DES3_CBC encryption",
     "refused with CKR_MECHANISM_INVALID before the key is looked at, as the vendor's token does (its "
     "mechanism record lacks CKF_ENCRYPT)",
     [](const Step &step, CK_RV rv) {
       return step.call == Call::EncryptInit && step.mechanism.type == CKM_DES3_CBC && rv == CKR_MECHANISM_INVALID;
     }},
    {"CKM_CAMELLIA_CBC_PAD",
     "refused with CKR_MECHANISM_INVALID for every operation and not listed, as the vendor's token does",
     [](const Step &step, CK_RV rv) {
       return isCipherInit(step.call) && step.mechanism.type == CKM_CAMELLIA_CBC_PAD && rv == CKR_MECHANISM_INVALID;
     }},
};

const Convention *conventionCovering(const Step &step, CK_RV standinAnswer) {
  for (const Convention &convention : kConventions) {
    if (convention.covers(step, standinAnswer)) return &convention;
  }
  return nullptr;
}

}  // namespace

Comparison compare(const Case &c, const CaseOutcome &standin, const CaseOutcome &module) {
  Comparison comparison;
  const std::size_t compared = std::min({c.steps.size(), standin.answers.size(), module.answers.size()});
  for (std::size_t i = 0; i < compared; ++i) {
    const CK_RV ours = standin.answers[i], theirs = module.answers[i];
    if ((ours == CKR_OK) == (theirs == CKR_OK)) continue;
    if (ours != CKR_OK) {
      const Convention *convention = conventionCovering(c.steps[i], ours);
      if (convention == nullptr) {
        comparison.mismatch = Mismatch{i, ours, theirs};
      } else {
        comparison.convention = convention->name;
      }
    }
    break;
  }
  return comparison;
}

}  // namespace zorvel::robustness
