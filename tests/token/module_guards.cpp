#include "module_guards.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace zorvel::test {
namespace {

// Runs call in a child process: its answer, or a text of how the child ended otherwise.
struct ChildOutcome {
  bool answered = false;
  CK_RV rv = CKR_OK;
  std::string ending;
};

ChildOutcome inChild(const std::function<CK_RV()> &call) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {false, CKR_OK, "no pipe"};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    const CK_RV rv = call();
    const ssize_t written = write(pipeEnds[1], &rv, sizeof rv);
    _exit(written == static_cast<ssize_t>(sizeof rv) ? 0 : 1);
  }
  close(pipeEnds[1]);
  ChildOutcome outcome;
  CK_RV rv = CKR_OK;
  outcome.answered = child > 0 && read(pipeEnds[0], &rv, sizeof rv) == static_cast<ssize_t>(sizeof rv);
  outcome.rv = rv;
  close(pipeEnds[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  if (!outcome.answered) {
    outcome.ending = child < 0                ? std::string("no child process")
                     : WIFSIGNALED(status)    ? "the process died of signal " + std::to_string(WTERMSIG(status))
                                              : "the process exited with status " + std::to_string(WEXITSTATUS(status));
  }
  return outcome;
}

}  // namespace

::testing::AssertionResult answersInChild(CK_RV expected, const std::function<CK_RV()> &call) {
  const ChildOutcome outcome = inChild(call);
  if (!outcome.answered) return ::testing::AssertionFailure() << "no answer: " << outcome.ending;
  return ckrEquals("the row's answer", "the answer", expected, outcome.rv);
}

void ModuleGuards::SetUp() {
  LoggedInSession::SetUp();
  if (HasFatalFailure()) return;
  ASSERT_CKR(CKR_OK, generateRsaKeyPair(f, session, kModulusLength * 8, CK_TRUE, &publicKey, &privateKey));
}

CK_OBJECT_HANDLE ModuleGuards::aesKeyFor(const std::vector<CK_ATTRIBUTE_TYPE> &uses) {
  return secretKeyFor(CKM_AES_KEY_GEN, 16, uses);
}

CK_OBJECT_HANDLE ModuleGuards::secretKeyFor(CK_MECHANISM_TYPE generationMechanism, CK_ULONG valueLength,
                                            const std::vector<CK_ATTRIBUTE_TYPE> &uses) {
  CK_BBOOL yes = CK_TRUE;
  std::vector<CK_ATTRIBUTE> tmpl = {{CKA_EXTRACTABLE, &yes, 1}};
  if (valueLength != 0) tmpl.push_back({CKA_VALUE_LEN, &valueLength, sizeof valueLength});
  for (CK_ATTRIBUTE_TYPE use : uses) tmpl.push_back({use, &yes, 1});
  CK_MECHANISM generation = {generationMechanism, nullptr, 0};
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &generation, tmpl.data(), tmpl.size(), &key));
  return key;
}

}  // namespace zorvel::test
