// standin_robustness: generated PKCS#11 calls against the stand-in (or a module), each
// case in a child process of a prepared one. Exits 0 only when no case ended its process
// and, with --legitimate, the stand-in refused nothing the module takes.
#include "case_dispatcher.h"
#include "case_generator.h"
#include "case_printer.h"
#include "command_line.h"
#include "comparison.h"
#include "run_report.h"
#include "target.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

using namespace zorvel::robustness;

namespace {

constexpr std::uint64_t kFixedSeeds[] = {1, 2, 3};
constexpr double kDefaultSeconds = 20;

std::string programPath(const char *argv0) {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return argv0;
  path[length] = '\0';
  return path;
}

// The command that runs a case alone, but for its seed and index.
std::string replayCommand(const char *argv0, const Options &options) {
  std::string command;
  if (const char *conf = std::getenv("SOFTHSM2_CONF")) command = std::string("SOFTHSM2_CONF=") + conf + " ";
  command += programPath(argv0);
  if (!options.modulePath.empty()) command += " --module " + options.modulePath;
  if (options.legitimate) command += " --legitimate";
  if (options.timeoutSeconds != Options().timeoutSeconds) command += " --timeout " + std::to_string(options.timeoutSeconds);
  return command;
}

std::string answersText(const Case &c, const CaseResult &result) {
  std::string text;
  for (std::size_t i = 0; i < result.outcome.answers.size(); ++i) {
    text += "    " + std::to_string(i + 1) + ". " + callName(c.steps[i].call) + " -> " +
            returnValueName(result.outcome.answers[i]) + "\n";
  }
  if (result.outcome.ended()) text += "    then the process ended: " + result.outcome.endingText() + "\n";
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  std::string message;
  if (!parseCommandLine(argc, argv, &options, &message)) {
    std::fputs(message.c_str(), stderr);
    return 2;
  }
  if (options.seeds.empty()) {
    options.seeds.assign(std::begin(kFixedSeeds), std::end(kFixedSeeds));
    options.seeds.push_back(static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
  }
  if (!options.casesPerSeed && !options.seconds) options.seconds = kDefaultSeconds;
  const CaseMode mode = options.legitimate ? CaseMode::Legitimate : CaseMode::Arbitrary;

  std::vector<std::string> names;
  std::vector<WorkerSettings> targets;
  WorkerSettings settings;
  settings.mode = mode;
  settings.timeout = std::chrono::milliseconds(static_cast<long>(options.timeoutSeconds * 1000));
  settings.quiet = !options.replay;
  if (options.legitimate) {
    targets.push_back(settings);
    settings.modulePath = options.modulePath.empty() ? ZORVEL_ROBUSTNESS_REFERENCE_MODULE : options.modulePath;
    targets.push_back(settings);
  } else {
    settings.modulePath = options.modulePath;
    targets.push_back(settings);
  }
  for (const WorkerSettings &target : targets) names.push_back(targetName(target.modulePath));

  std::printf("%s cases against %s", options.legitimate ? "legitimate" : "arbitrary", names[0].c_str());
  if (names.size() > 1) std::printf(", compared with %s", names[1].c_str());
  std::printf("\nseeds:");
  for (std::uint64_t seed : options.seeds) std::printf(" %llu", static_cast<unsigned long long>(seed));
  std::printf("\n");
  std::fflush(stdout);

  CaseDispatcher dispatcher;
  std::vector<std::string> setups;
  if (!dispatcher.start(targets, options.replay ? 1 : options.jobs, &setups, &message)) {
    std::fprintf(stderr, "preparing a target failed: %s\n", message.c_str());
    return 1;
  }
  for (std::size_t t = 0; t < setups.size(); ++t) std::printf("%s:\n%s", names[t].c_str(), setups[t].c_str());

  CasePlan plan;
  plan.seeds = options.seeds;
  plan.casesPerSeed = options.casesPerSeed;
  plan.seconds = options.seconds;
  plan.only = options.replay;
  if (options.replay) {
    const Case c = generateCase(options.seeds[0], *options.replay, mode);
    std::printf("seed %llu case %llu (%s):\n%s", static_cast<unsigned long long>(c.seed),
                static_cast<unsigned long long>(c.index), c.kind.c_str(), describeCase(c, "    ").c_str());
    std::fflush(stdout);
  }
  RunReport report(replayCommand(argv[0], options), names, !options.replay);
  const auto started = std::chrono::steady_clock::now();
  const bool ran = dispatcher.run(plan, [&](const std::vector<CaseResult> &results) {
    const Case c = generateCase(results[0].seed, results[0].index, mode);
    std::vector<const CaseOutcome *> outcomes;
    for (const CaseResult &result : results) outcomes.push_back(&result.outcome);
    report.caseRun(outcomes);
    if (options.replay) {
      for (std::size_t t = 0; t < results.size(); ++t) {
        std::printf("  %s answered:\n%s", names[t].c_str(), answersText(c, results[t]).c_str());
      }
    }
    if (results[0].outcome.ended()) report.end(c, results[0].outcome, names[0]);
    if (!options.legitimate) return;
    if (results[1].outcome.ended()) {
      report.end(c, results[1].outcome, names[1], true);
    } else if (!results[0].outcome.ended()) {
      report.compared(c, compare(c, results[0].outcome, results[1].outcome), results[0].outcome);
    }
  });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!ran) {
    std::fprintf(stderr, "a prepared process stopped answering\n");
    return 1;
  }
  return report.summarise(seconds) ? 0 : 1;
}
