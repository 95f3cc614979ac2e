#include "case_dispatcher.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <utility>

namespace zorvel::robustness {
namespace {

// The cases of a plan in the order they are run.
class CaseSequence {
 public:
  explicit CaseSequence(const CasePlan &plan)
      : plan_(plan), deadline_(std::chrono::steady_clock::now() +
                               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(plan.seconds.value_or(0)))) {}

  // The next case, if the plan has one and there is time for it.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> next() {
    if (plan_.seeds.empty()) return std::nullopt;
    if (plan_.only) {
      if (issued_++ > 0) return std::nullopt;
      return std::make_pair(plan_.seeds[0], *plan_.only);
    }
    if (plan_.seconds && std::chrono::steady_clock::now() >= deadline_) return std::nullopt;
    const std::uint64_t round = issued_ / plan_.seeds.size();
    if (plan_.casesPerSeed && round >= *plan_.casesPerSeed) return std::nullopt;
    const std::uint64_t seed = plan_.seeds[issued_ % plan_.seeds.size()];
    ++issued_;
    return std::make_pair(seed, round);
  }

 private:
  const CasePlan &plan_;
  std::chrono::steady_clock::time_point deadline_;
  std::uint64_t issued_ = 0;
};

}  // namespace

bool CaseDispatcher::start(const std::vector<WorkerSettings> &targets, unsigned jobs,
                           std::vector<std::string> *setups, std::string *error) {
  for (const WorkerSettings &settings : targets) {
    std::vector<std::unique_ptr<TargetWorker>> &workers = workers_.emplace_back();
    for (unsigned j = 0; j < jobs; ++j) {
      std::string setup;
      workers.push_back(std::make_unique<TargetWorker>());
      if (!workers.back()->start(settings, &setup, error)) return false;
      if (j == 0) setups->push_back(setup);
    }
  }
  return true;
}

bool CaseDispatcher::run(const CasePlan &plan, const std::function<void(const std::vector<CaseResult> &)> &done) {
  CaseSequence sequence(plan);
  const std::size_t targets = workers_.size();
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<std::optional<CaseResult>>> pending;
  bool more = true;
  for (;;) {
    // A case goes out when each target has a free process for it.
    while (more) {
      std::vector<TargetWorker *> free;
      for (auto &workers : workers_) {
        for (auto &worker : workers) {
          if (!worker->busy()) {
            free.push_back(worker.get());
            break;
          }
        }
      }
      if (free.size() < targets) break;
      const auto next = sequence.next();
      if (!next) {
        more = false;
        break;
      }
      pending[*next].resize(targets);
      for (TargetWorker *worker : free) worker->send(next->first, next->second);
    }
    if (pending.empty()) return true;
    std::vector<pollfd> readable;
    std::vector<std::pair<std::size_t, TargetWorker *>> owners;
    for (std::size_t t = 0; t < targets; ++t) {
      for (auto &worker : workers_[t]) {
        if (!worker->busy()) continue;
        readable.push_back({worker->resultDescriptor(), POLLIN, 0});
        owners.emplace_back(t, worker.get());
      }
    }
    if (readable.empty()) return false;
    if (poll(readable.data(), readable.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (std::size_t i = 0; i < readable.size(); ++i) {
      if (readable[i].revents == 0) continue;
      CaseResult result;
      if (!owners[i].second->receive(&result)) return false;
      auto found = pending.find({result.seed, result.index});
      if (found == pending.end()) return false;
      found->second[owners[i].first] = std::move(result);
      bool complete = true;
      for (const auto &answer : found->second) complete = complete && answer.has_value();
      if (!complete) continue;
      std::vector<CaseResult> results;
      for (auto &answer : found->second) results.push_back(std::move(*answer));
      pending.erase(found);
      done(results);
    }
  }
}

}  // namespace zorvel::robustness
