#include "child_runner.h"

#include "pipe_io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace zorvel::robustness {
namespace {

// One answer on the pipe; kDone marks the runner's own return.
struct AnswerRecord {
  std::uint64_t step;
  CK_RV rv;
};
constexpr std::uint64_t kDone = ~std::uint64_t{0};

// The runner gives up on a child that cannot report.
void writeRecord(int fd, AnswerRecord record) {
  if (!writeAll(fd, &record, sizeof record)) _exit(120);
}

void silence() {
  const int devNull = open("/dev/null", O_WRONLY);
  if (devNull < 0) return;
  dup2(devNull, STDOUT_FILENO);
  dup2(devNull, STDERR_FILENO);
  close(devNull);
}

}  // namespace

std::string CaseOutcome::endingText() const {
  switch (ending) {
    case Ending::Completed: return "completed";
    case Ending::Signal: {
      const char *name = sigabbrev_np(detail);
      return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(detail);
    }
    case Ending::Exit: return "exit " + std::to_string(detail);
    case Ending::Timeout: return "hang";
  }
  return "";
}

CaseOutcome runInChild(const std::function<void(const AnswerReport &)> &body, std::chrono::milliseconds timeout,
                       bool quiet) {
  CaseOutcome outcome;
  int ends[2];
  if (pipe(ends) != 0) {
    outcome.ending = CaseOutcome::Ending::Exit;
    outcome.detail = -1;
    return outcome;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    if (quiet) silence();
    body([fd = ends[1]](std::size_t step, CK_RV rv) { writeRecord(fd, {step, rv}); });
    writeRecord(ends[1], {kDone, 0});
    _exit(0);
  }
  close(ends[1]);
  bool done = false, timedOut = false;
  if (child > 0) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string pending;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd readable = {ends[0], POLLIN, 0};
      const int ready = left.count() > 0 ? poll(&readable, 1, static_cast<int>(left.count())) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        timedOut = true;
        kill(child, SIGKILL);
        break;
      }
      char buffer[512];
      const ssize_t got = read(ends[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(got));
      while (pending.size() >= sizeof(AnswerRecord)) {
        AnswerRecord record;
        std::memcpy(&record, pending.data(), sizeof record);
        pending.erase(0, sizeof record);
        if (record.step == kDone) {
          done = true;
        } else {
          outcome.answers.push_back(record.rv);
        }
      }
    }
  }
  close(ends[0]);
  int status = 0;
  if (child > 0) {
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (child < 0) {
    outcome.ending = CaseOutcome::Ending::Exit;
    outcome.detail = -1;
  } else if (timedOut) {
    outcome.ending = CaseOutcome::Ending::Timeout;
  } else if (WIFSIGNALED(status)) {
    outcome.ending = CaseOutcome::Ending::Signal;
    outcome.detail = WTERMSIG(status);
  } else if (!done || WEXITSTATUS(status) != 0) {
    outcome.ending = CaseOutcome::Ending::Exit;
    outcome.detail = WEXITSTATUS(status);
  }
  return outcome;
}

}  // namespace zorvel::robustness
