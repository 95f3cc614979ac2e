#include "target_worker.h"

#include "case_executor.h"
#include "hex.h"
#include "key_set.h"
#include "mechanism_catalogue.h"
#include "pipe_io.h"
#include "target.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zorvel::robustness {
namespace {

enum class MessageType : std::uint32_t { Ready, Failed, Result };

struct Request {
  std::uint64_t seed;
  std::uint64_t index;
};

bool sendMessage(int fd, MessageType type, const std::string &payload) {
  const std::uint32_t header[2] = {static_cast<std::uint32_t>(type), static_cast<std::uint32_t>(payload.size())};
  std::string message(reinterpret_cast<const char *>(header), sizeof header);
  message += payload;
  return writeAll(fd, message.data(), message.size());
}

bool receiveMessage(int fd, MessageType *type, std::string *payload) {
  std::uint32_t header[2];
  if (!readAll(fd, header, sizeof header)) return false;
  *type = static_cast<MessageType>(header[0]);
  payload->resize(header[1]);
  return readAll(fd, payload->data(), payload->size());
}

template <typename T>
void append(std::string *out, T value) {
  out->append(reinterpret_cast<const char *>(&value), sizeof value);
}

template <typename T>
T take(const std::string &in, std::size_t *offset) {
  T value{};
  if (*offset + sizeof value <= in.size()) std::memcpy(&value, in.data() + *offset, sizeof value);
  *offset += sizeof value;
  return value;
}

std::string encode(const CaseResult &result) {
  std::string out;
  append(&out, result.seed);
  append(&out, result.index);
  append(&out, static_cast<std::int32_t>(result.outcome.ending));
  append(&out, static_cast<std::int32_t>(result.outcome.detail));
  append(&out, static_cast<std::uint64_t>(result.outcome.answers.size()));
  for (CK_RV rv : result.outcome.answers) append(&out, rv);
  return out;
}

CaseResult decode(const std::string &in) {
  std::size_t offset = 0;
  CaseResult result;
  result.seed = take<std::uint64_t>(in, &offset);
  result.index = take<std::uint64_t>(in, &offset);
  result.outcome.ending = static_cast<CaseOutcome::Ending>(take<std::int32_t>(in, &offset));
  result.outcome.detail = take<std::int32_t>(in, &offset);
  const std::uint64_t count = take<std::uint64_t>(in, &offset);
  for (std::uint64_t i = 0; i < count && offset < in.size(); ++i) result.outcome.answers.push_back(take<CK_RV>(in, &offset));
  return result;
}

// What the worker tells of its preparation.
std::string setupReport(const Target &target, const KeySet &keys, const std::string &missingKeys) {
  std::string report;
  if (!missingKeys.empty()) report += "keys not made:\n" + missingKeys;
  report += "CKA_MODULUS of rsa1024-leading-zero: " + std::to_string(keys.leadingZeroModulusLength()) + " bytes\n";
  std::string unknown;
  for (CK_MECHANISM_TYPE mechanism : target.mechanisms) {
    if (findMechanism(mechanism) == nullptr) unknown += " " + hexNumber(mechanism);
  }
  if (!unknown.empty()) report += "mechanisms the target lists that the generator lacks:" + unknown + "\n";
  return report;
}

// Leaves the worker only its own pipes (and the standard streams): a copy of another
// worker's request pipe would keep that worker from seeing its end.
void closeOtherDescriptors(int requests, int results) {
  const int highest = static_cast<int>(sysconf(_SC_OPEN_MAX));
  for (int fd = STDERR_FILENO + 1; fd < highest && fd < 4096; ++fd) {
    if (fd != requests && fd != results) close(fd);
  }
}

[[noreturn]] void serve(const WorkerSettings &settings, int requests, int results) {
  closeOtherDescriptors(requests, results);
  Target target;
  std::string error;
  if (!openTarget(settings.modulePath, &target, &error)) {
    sendMessage(results, MessageType::Failed, error);
    _exit(1);
  }
  KeySet keys;
  const std::string missing = keys.prepare(target);
  sendMessage(results, MessageType::Ready, setupReport(target, keys, missing));
  Request request;
  while (readAll(requests, &request, sizeof request)) {
    const Case c = generateCase(request.seed, request.index, settings.mode);
    CaseResult result;
    result.seed = request.seed;
    result.index = request.index;
    result.outcome = runInChild([&](const AnswerReport &report) { CaseExecutor(target, keys).run(c, report); },
                                settings.timeout, settings.quiet);
    if (!sendMessage(results, MessageType::Result, encode(result))) break;
  }
  target.f->C_Finalize(nullptr);
  _exit(0);
}

}  // namespace

TargetWorker::~TargetWorker() {
  if (requests_ >= 0) close(requests_);
  if (results_ >= 0) close(results_);
  if (pid_ > 0) {
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

bool TargetWorker::start(const WorkerSettings &settings, std::string *setup, std::string *error) {
  int toWorker[2], fromWorker[2];
  if (pipe(toWorker) != 0) return false;
  if (pipe(fromWorker) != 0) {
    close(toWorker[0]);
    close(toWorker[1]);
    return false;
  }
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    close(toWorker[1]);
    close(fromWorker[0]);
    serve(settings, toWorker[0], fromWorker[1]);
  }
  close(toWorker[0]);
  close(fromWorker[1]);
  requests_ = toWorker[1];
  results_ = fromWorker[0];
  if (pid_ < 0) {
    *error = "fork failed";
    return false;
  }
  MessageType type;
  std::string payload;
  if (!receiveMessage(results_, &type, &payload)) {
    *error = "the worker ended during its preparation";
    return false;
  }
  if (type != MessageType::Ready) {
    *error = payload;
    return false;
  }
  *setup = payload;
  return true;
}

void TargetWorker::send(std::uint64_t seed, std::uint64_t index) {
  const Request request = {seed, index};
  busy_ = writeAll(requests_, &request, sizeof request);
}

bool TargetWorker::receive(CaseResult *result) {
  busy_ = false;
  MessageType type;
  std::string payload;
  if (!receiveMessage(results_, &type, &payload) || type != MessageType::Result) return false;
  *result = decode(payload);
  return true;
}

}  // namespace zorvel::robustness
