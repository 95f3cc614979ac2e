// Shared pieces of the stand-in's tests: return-value checks that print the value in
// hex, the test PIN, and fixtures for an initialised library and a logged-in session.
#ifndef ZORVEL_TESTS_TOKEN_STANDIN_TEST_SUPPORT_H
#define ZORVEL_TESTS_TOKEN_STANDIN_TEST_SUPPORT_H

#include "pkcs11.h"
#include "zorvel_p11.h"
#include "zorvel_standin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvel::test {

::testing::AssertionResult ckrEquals(const char *expectedText, const char *actualText, CK_RV expected,
                                     CK_RV actual);

#define EXPECT_CKR(expected, actual) EXPECT_PRED_FORMAT2(::zorvel::test::ckrEquals, expected, actual)
#define ASSERT_CKR(expected, actual) ASSERT_PRED_FORMAT2(::zorvel::test::ckrEquals, expected, actual)

// The 768-bit MODP prime of RFC 2409 (Oakley group 1), whose generator is 2.
extern const std::vector<CK_BYTE> kOakleyGroup1Prime;

CK_FUNCTION_LIST_PTR functionList();
const ZorvelStandinFunctionList *standinList();
// The user PIN of the test tokens (ZORVEL_TEST_USER_PIN).
std::string userPin();
// The number of test tokens provisioned (ZORVEL_TEST_TOKENS, default 1).
CK_ULONG provisionedTokens();
// Opens a read-write session on slot 0 and logs the user in.
CK_RV openUserSession(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE *session);
// An RSA key pair of `bits` on the session, public exponent 65537: the public key encrypts
// and verifies, the private key decrypts and, with maySign, signs.
CK_RV generateRsaKeyPair(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ULONG bits, CK_BBOOL maySign,
                         CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey);
// A key pair as generateRsaKeyPair makes it (signing permitted), made again with
// C_CreateObject with its CKA_MODULUS written with a leading zero byte (00||n, as a big
// integer may carry one): the attribute is a byte longer than the key's block.
CK_RV createRsaKeyPairWithLeadingZero(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ULONG bits,
                                      CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey);
// Initialisation arguments with OS locking, as the programs that use the library pass.
CK_C_INITIALIZE_ARGS osLockingArgs();

// The ways a session ends with whatever operation it runs: its own close, the close of
// every session of slot 0, or finalising the library (which is then initialised again).
enum class SessionEnd { CloseSession, CloseAllSessions, Finalize };
inline constexpr SessionEnd kSessionEnds[] = {SessionEnd::CloseSession, SessionEnd::CloseAllSessions,
                                              SessionEnd::Finalize};
// The function that ends it, for traces.
const char *sessionEndName(SessionEnd end);
// Ends `session` that way; the first answer that is not CKR_OK, else CKR_OK.
CK_RV endSession(CK_FUNCTION_LIST_PTR f, SessionEnd end, CK_SESSION_HANDLE session);

// The library initialised for the test and finalised after it.
class InitializedLibrary : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  CK_FUNCTION_LIST_PTR f = nullptr;
};

// Besides: a read-write session on slot 0 with the user logged in.
class LoggedInSession : public InitializedLibrary {
 protected:
  void SetUp() override;
  // A token data object with the given CKA_PRIVATE; fails the test if it cannot be made.
  CK_OBJECT_HANDLE createDataObject(CK_BBOOL isPrivate);
  bool objectExists(CK_OBJECT_HANDLE object);
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

}  // namespace zorvel::test

#endif
