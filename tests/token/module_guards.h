// The guard table test: input that the backend module would answer by ending the
// application (SoftHSM2 exits or dies of SIGSEGV on it) gets the PKCS#11 answer from the
// stand-in instead. Each call runs in a child process, so that a regression shows as that
// row's failure, with how the child ended, rather than as the end of the whole program.
#ifndef ZORVEL_TESTS_TOKEN_MODULE_GUARDS_H
#define ZORVEL_TESTS_TOKEN_MODULE_GUARDS_H

#include "standin_test_support.h"

#include <functional>
#include <string>
#include <vector>

namespace zorvel::test {

using Bytes = std::vector<CK_BYTE>;

// Whether call, run in a child process, answers expected; else how the child ended.
::testing::AssertionResult answersInChild(CK_RV expected, const std::function<CK_RV()> &call);

constexpr CK_ULONG kModulusLength = 128;

// A logged-in session with an RSA key pair of kModulusLength bytes that encrypts, decrypts,
// signs and verifies.
class ModuleGuards : public LoggedInSession {
 protected:
  void SetUp() override;

  // A session AES key of 16 bytes, extractable, that permits the given uses.
  CK_OBJECT_HANDLE aesKeyFor(const std::vector<CK_ATTRIBUTE_TYPE> &uses);
  // A session secret key made by the generation mechanism, of valueLength bytes where the
  // mechanism takes a length, that permits the given uses.
  CK_OBJECT_HANDLE secretKeyFor(CK_MECHANISM_TYPE generationMechanism, CK_ULONG valueLength,
                                const std::vector<CK_ATTRIBUTE_TYPE> &uses);

  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

}  // namespace zorvel::test

#endif
