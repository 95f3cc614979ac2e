#include "run_report.h"

#include "case_printer.h"
#include "mechanism_catalogue.h"

#include <cstdio>

namespace zorvel::robustness {
namespace {

// Cases described in full for each class; of the rest only the replay command is shown,
// up to kListedCases in all.
constexpr std::uint64_t kDescribedPerClass = 2;
constexpr std::uint64_t kListedCases = 200;

bool takesMechanism(Call call) {
  switch (call) {
    case Call::GenerateKey:
    case Call::GenerateKeyPair:
    case Call::WrapKey:
    case Call::UnwrapKey:
    case Call::DeriveKey:
    case Call::EncryptInit:
    case Call::DecryptInit:
    case Call::DigestInit:
    case Call::SignInit:
    case Call::VerifyInit: return true;
    default: return false;
  }
}

// The Init that starts the operation a call belongs to; CloseSession for calls of none.
Call initOf(Call call) {
  switch (call) {
    case Call::Encrypt:
    case Call::EncryptUpdate:
    case Call::EncryptFinal: return Call::EncryptInit;
    case Call::Decrypt:
    case Call::DecryptUpdate:
    case Call::DecryptFinal: return Call::DecryptInit;
    case Call::Digest:
    case Call::DigestUpdate:
    case Call::DigestFinal: return Call::DigestInit;
    case Call::Sign:
    case Call::SignUpdate:
    case Call::SignFinal: return Call::SignInit;
    case Call::Verify:
    case Call::VerifyUpdate:
    case Call::VerifyFinal: return Call::VerifyInit;
    default: return Call::CloseSession;
  }
}

std::string withMechanismAndKey(const Step &step) {
  std::string text = std::string(callName(step.call)) + " " + mechanismName(step.mechanism.type);
  if (step.call != Call::DigestInit && step.call != Call::GenerateKey && step.call != Call::GenerateKeyPair) {
    text += " key " + objectName(step.object);
  }
  return text;
}

void printBlock(const std::string &text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

std::string stepClass(const Case &c, std::size_t step, const std::vector<CK_RV> &answers) {
  if (step >= c.steps.size()) return "after the last call";
  const Step &s = c.steps[step];
  // A template that stands out is the likelier cause than the mechanism it came with.
  const std::string features = templateFeatures(s);
  if (!features.empty()) return std::string(callName(s.call)) + " [" + features + "]";
  if (takesMechanism(s.call)) return withMechanismAndKey(s);
  const std::string text = callName(s.call);
  const Call init = initOf(s.call);
  for (std::size_t i = step; i > 0 && init != Call::CloseSession; --i) {
    if (c.steps[i - 1].call == init && i - 1 < answers.size() && answers[i - 1] == CKR_OK) {
      return text + " after " + withMechanismAndKey(c.steps[i - 1]);
    }
  }
  return text;
}

RunReport::RunReport(std::string replayCommand, std::vector<std::string> targets, bool describe)
    : replayCommand_(std::move(replayCommand)), targets_(std::move(targets)), describe_(describe),
      answered_(targets_.size()) {}

void RunReport::caseRun(const std::vector<const CaseOutcome *> &outcomes) {
  ++cases_;
  for (std::size_t t = 0; t < outcomes.size() && t < answered_.size(); ++t) {
    answered_[t].first += outcomes[t]->answers.size();
    for (CK_RV rv : outcomes[t]->answers) answered_[t].second += rv == CKR_OK;
  }
}

std::string RunReport::replay(const Case &c) const {
  return replayCommand_ + " --seed " + std::to_string(c.seed) + " --case " + std::to_string(c.index);
}

void RunReport::record(std::map<std::string, ClassCount> &classes, const std::string &cls, const Case &c,
                       const std::string &details) {
  ClassCount &count = classes[cls];
  if (count.count++ == 0) count.example = replay(c);
  if (describe_ && count.count <= kDescribedPerClass) {
    printBlock("seed " + std::to_string(c.seed) + " case " + std::to_string(c.index) + " (" + c.kind + "): " +
               details + "\n" + describeCase(c, "    ") + "  replay: " + replay(c) + "\n");
  } else if (++listed_ <= kListedCases) {
    printBlock("seed " + std::to_string(c.seed) + " case " + std::to_string(c.index) + ": " + details +
               "  replay: " + replay(c) + "\n");
  }
}

void RunReport::end(const Case &c, const CaseOutcome &outcome, const std::string &target, bool informational) {
  const std::size_t step = outcome.answers.size();
  const std::string cls = stepClass(c, step, outcome.answers) + ": " + outcome.endingText();
  const std::string details = target + " ended (" + outcome.endingText() + ") in call " + std::to_string(step + 1);
  record(informational ? notes_ : ends_, (informational ? target + ": " : "") + cls, c, details);
}

void RunReport::compared(const Case &c, const Comparison &comparison, const CaseOutcome &standin) {
  if (comparison.convention != nullptr) ++conventions_[comparison.convention];
  if (!comparison.mismatch) return;
  const Mismatch &m = *comparison.mismatch;
  const std::string cls = stepClass(c, m.step, standin.answers) + ": " + returnValueName(m.standin);
  record(mismatches_, cls, c,
         "the stand-in answered " + returnValueName(m.standin) + " in call " + std::to_string(m.step + 1) +
             ", the module " + returnValueName(m.module));
}

bool RunReport::summarise(double seconds) const {
  std::uint64_t ends = 0, mismatches = 0;
  for (const auto &entry : ends_) ends += entry.second.count;
  for (const auto &entry : mismatches_) mismatches += entry.second.count;
  std::printf("\n%llu cases in %.1f s (%.0f cases/s): %llu ended the process", static_cast<unsigned long long>(cases_),
              seconds, seconds > 0 ? cases_ / seconds : 0.0, static_cast<unsigned long long>(ends));
  if (targets_.size() > 1) std::printf(", %llu refused what the module takes", static_cast<unsigned long long>(mismatches));
  std::printf("\n");
  for (std::size_t t = 0; t < answered_.size(); ++t) {
    std::printf("%s: %llu of %llu calls answered CKR_OK\n", targets_[t].c_str(),
                static_cast<unsigned long long>(answered_[t].second), static_cast<unsigned long long>(answered_[t].first));
  }
  const std::pair<const char *, const std::map<std::string, ClassCount> *> groups[] = {
      {"ends by class", &ends_}, {"refusals by class", &mismatches_}, {"ends of the module (not counted)", &notes_}};
  for (const auto &group : groups) {
    if (group.second->empty()) continue;
    std::printf("%s:\n", group.first);
    for (const auto &entry : *group.second) {
      std::printf("  %6llu  %s\n          e.g. %s\n", static_cast<unsigned long long>(entry.second.count),
                  entry.first.c_str(), entry.second.example.c_str());
    }
  }
  if (!conventions_.empty()) std::printf("refusals under the stand-in's conventions (not counted):\n");
  for (const auto &entry : conventions_) {
    std::printf("  %6llu  %s\n", static_cast<unsigned long long>(entry.second), entry.first.c_str());
  }
  std::fflush(stdout);
  return ends == 0 && mismatches == 0;
}

}  // namespace zorvel::robustness
