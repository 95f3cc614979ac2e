// Input that the backend module would answer by ending the application (SoftHSM2 exits or
// dies of SIGSEGV on it) gets the PKCS#11 answer from the stand-in instead. Each call runs
// in a child process, so that a regression shows as that row's failure, with how the
// child ended, rather than as the end of the whole test program.
#include "standin_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

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

// Whether call, run in a child process, answers expected.
::testing::AssertionResult answersInChild(CK_RV expected, const std::function<CK_RV()> &call) {
  const ChildOutcome outcome = inChild(call);
  if (!outcome.answered) return ::testing::AssertionFailure() << "no answer: " << outcome.ending;
  return ckrEquals("the row's answer", "the answer", expected, outcome.rv);
}

constexpr CK_ULONG kModulusLength = 128;

class ModuleGuards : public LoggedInSession {
 protected:
  void SetUp() override {
    LoggedInSession::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_CKR(CKR_OK, generateRsaKeyPair(f, session, kModulusLength * 8, CK_TRUE, &publicKey, &privateKey));
  }

  // A session AES key of 16 bytes, extractable, that permits the given uses.
  CK_OBJECT_HANDLE aesKeyFor(const std::vector<CK_ATTRIBUTE_TYPE> &uses) {
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_ULONG valueLength = 16;
    CK_BBOOL yes = CK_TRUE;
    std::vector<CK_ATTRIBUTE> tmpl = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                      {CKA_KEY_TYPE, &aes, sizeof aes},
                                      {CKA_VALUE_LEN, &valueLength, sizeof valueLength},
                                      {CKA_EXTRACTABLE, &yes, 1}};
    for (CK_ATTRIBUTE_TYPE use : uses) tmpl.push_back({use, &yes, 1});
    CK_MECHANISM generation = {CKM_AES_KEY_GEN, nullptr, 0};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &generation, tmpl.data(), tmpl.size(), &key));
    return key;
  }

  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

enum class RsaCall { Encrypt, Decrypt, Sign, Verify };

struct RsaInputCase {
  const char *name;
  CK_MECHANISM_TYPE mechanism;
  RsaCall call;
  CK_ULONG inputLength;  // C_Verify: the data; its signature is a block of the modulus length
  CK_RV expected;        // the module's answer where it gives one, measured on SoftHSM2 2.6.1
};

// SoftHSM2 ends the process (status 5) on the X.509 encryption, signature and verification
// rows of 129 bytes, and answers CKR_GENERAL_ERROR to the other refused ones.
const RsaInputCase kRsaInputCases[] = {
    {"X.509 encryption of the modulus length", CKM_RSA_X_509, RsaCall::Encrypt, 128, CKR_OK},
    {"X.509 encryption of a byte more", CKM_RSA_X_509, RsaCall::Encrypt, 129, CKR_DATA_LEN_RANGE},
    {"X.509 signature of a byte more", CKM_RSA_X_509, RsaCall::Sign, 129, CKR_DATA_LEN_RANGE},
    {"X.509 verification of a byte more", CKM_RSA_X_509, RsaCall::Verify, 129, CKR_DATA_LEN_RANGE},
    {"X.509 decryption of a byte more", CKM_RSA_X_509, RsaCall::Decrypt, 129, CKR_ENCRYPTED_DATA_LEN_RANGE},
    {"X.509 encryption of a megabyte", CKM_RSA_X_509, RsaCall::Encrypt, 1 << 20, CKR_DATA_LEN_RANGE},
    {"PKCS#1 encryption of 117 bytes", CKM_RSA_PKCS, RsaCall::Encrypt, 117, CKR_OK},
    {"PKCS#1 encryption of 118 bytes", CKM_RSA_PKCS, RsaCall::Encrypt, 118, CKR_DATA_LEN_RANGE},
    {"PKCS#1 signature of 117 bytes", CKM_RSA_PKCS, RsaCall::Sign, 117, CKR_OK},
    {"PKCS#1 signature of 118 bytes", CKM_RSA_PKCS, RsaCall::Sign, 118, CKR_DATA_LEN_RANGE},
    {"PKCS#1 decryption of a byte more", CKM_RSA_PKCS, RsaCall::Decrypt, 129, CKR_ENCRYPTED_DATA_LEN_RANGE},
};

// The Init for the call, with the key the module takes for it.
CK_RV initFor(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, RsaCall call, CK_MECHANISM_PTR mechanism,
              CK_OBJECT_HANDLE publicKey, CK_OBJECT_HANDLE privateKey) {
  switch (call) {
    case RsaCall::Encrypt: return f->C_EncryptInit(session, mechanism, publicKey);
    case RsaCall::Decrypt: return f->C_DecryptInit(session, mechanism, privateKey);
    case RsaCall::Sign: return f->C_SignInit(session, mechanism, privateKey);
    case RsaCall::Verify: return f->C_VerifyInit(session, mechanism, publicKey);
  }
  return CKR_GENERAL_ERROR;
}

CK_RV runOn(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, RsaCall call, Bytes &input) {
  Bytes output(kModulusLength);
  CK_ULONG outputLength = output.size();
  switch (call) {
    case RsaCall::Encrypt: return f->C_Encrypt(session, input.data(), input.size(), output.data(), &outputLength);
    case RsaCall::Decrypt: return f->C_Decrypt(session, input.data(), input.size(), output.data(), &outputLength);
    case RsaCall::Sign: return f->C_Sign(session, input.data(), input.size(), output.data(), &outputLength);
    case RsaCall::Verify: return f->C_Verify(session, input.data(), input.size(), output.data(), output.size());
  }
  return CKR_GENERAL_ERROR;
}

// The call's answer, and after a refusal that the operation has ended: a second Init of
// the family is taken (the module answers CKR_OPERATION_ACTIVE while it still runs one).
TEST_F(ModuleGuards, RsaInputBeyondTheBlockGetsItsAnswerAndEndsTheOperation) {
  for (const RsaInputCase &c : kRsaInputCases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(answersInChild(c.expected, [&] {
      CK_MECHANISM mechanism = {c.mechanism, nullptr, 0};
      CK_RV rv = initFor(f, session, c.call, &mechanism, publicKey, privateKey);
      if (rv != CKR_OK) return rv;
      Bytes input(c.inputLength, 0);
      rv = runOn(f, session, c.call, input);
      if (rv == CKR_OK) return rv;
      const CK_RV again = initFor(f, session, c.call, &mechanism, publicKey, privateKey);
      return again == CKR_OK ? rv : again;
    }));
  }
}

// A length query answers the length whatever the input, and keeps the operation.
TEST_F(ModuleGuards, RsaLengthQueryIsAnsweredBeforeTheInputIsJudged) {
  CK_MECHANISM mechanism = {CKM_RSA_X_509, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, publicKey));
  Bytes input(kModulusLength + 1, 0), output(kModulusLength);
  CK_ULONG length = 0;
  ASSERT_CKR(CKR_OK, f->C_Encrypt(session, input.data(), input.size(), nullptr, &length));
  EXPECT_EQ(kModulusLength, length);
  input.resize(kModulusLength);
  EXPECT_CKR(CKR_OK, f->C_Encrypt(session, input.data(), input.size(), output.data(), &length));
}

// Every call that takes a template refuses an attribute that claims a value it does not
// point to (SoftHSM2: SIGSEGV in C_CreateObject, C_GenerateKey, C_GenerateKeyPair and
// C_FindObjectsInit), also inside an attribute whose value is a template.
TEST_F(ModuleGuards, TemplatesWithAValueLengthButNoValueAreRefused) {
  const CK_OBJECT_HANDLE aesKey = aesKeyFor({CKA_ENCRYPT, CKA_WRAP, CKA_UNWRAP, CKA_DERIVE});
  ASSERT_FALSE(HasFailure());
  CK_MECHANISM aesGeneration = {CKM_AES_KEY_GEN, nullptr, 0};
  CK_ULONG valueLength = 16;
  CK_MECHANISM wrapping = {CKM_AES_KEY_WRAP, nullptr, 0};
  Bytes wrapped(64);
  CK_ULONG wrappedLength = wrapped.size();
  ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &wrapping, aesKey, aesKey, wrapped.data(), &wrappedLength));
  Bytes derivationData(16, 0x5A);
  CK_KEY_DERIVATION_STRING_DATA derivationParameter = {derivationData.data(), derivationData.size()};
  CK_MECHANISM derivation = {CKM_AES_ECB_ENCRYPT_DATA, &derivationParameter, sizeof derivationParameter};

  CK_ATTRIBUTE valueless[] = {{CKA_CLASS, nullptr, sizeof(CK_OBJECT_CLASS)}};
  CK_ATTRIBUTE valuelessInside[] = {{CKA_WRAP_TEMPLATE, valueless, sizeof valueless}};
  CK_ATTRIBUTE rsaPublic[] = {{CKA_MODULUS_BITS, &valueLength, sizeof valueLength}};
  CK_MECHANISM pairGeneration = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  struct TemplateCase {
    const char *name;
    std::function<CK_RV(CK_ATTRIBUTE_PTR, CK_ULONG)> call;
  };
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE, second = CK_INVALID_HANDLE;
  const TemplateCase cases[] = {
      {"C_CreateObject", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_CreateObject(session, t, n, &made); }},
      {"C_CopyObject", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_CopyObject(session, aesKey, t, n, &made); }},
      {"C_SetAttributeValue", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_SetAttributeValue(session, aesKey, t, n); }},
      {"C_GenerateKey",
       [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_GenerateKey(session, &aesGeneration, t, n, &made); }},
      {"C_GenerateKeyPair, public template",
       [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
         return f->C_GenerateKeyPair(session, &pairGeneration, t, n, nullptr, 0, &made, &second);
       }},
      {"C_GenerateKeyPair, private template",
       [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
         return f->C_GenerateKeyPair(session, &pairGeneration, rsaPublic, 1, t, n, &made, &second);
       }},
      {"C_FindObjectsInit", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_FindObjectsInit(session, t, n); }},
      {"C_UnwrapKey",
       [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
         return f->C_UnwrapKey(session, &wrapping, aesKey, wrapped.data(), wrappedLength, t, n, &made);
       }},
      {"C_DeriveKey", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_DeriveKey(session, &derivation, aesKey, t, n, &made); }},
  };
  for (const TemplateCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(valueless, 1); }));
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(valuelessInside, 1); }));
    EXPECT_TRUE(answersInChild(CKR_ARGUMENTS_BAD, [&] { return c.call(nullptr, 1); }));
  }
  // A length query of C_GetAttributeValue names no value either, and is answered.
  CK_ATTRIBUTE lengthQuery[] = {{CKA_VALUE_LEN, nullptr, 0}};
  EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, aesKey, lengthQuery, 1));
  EXPECT_EQ(sizeof(CK_ULONG), lengthQuery[0].ulValueLen);
}

// GCM parameters whose IV or additional data is missing though its length is not
// (SoftHSM2: SIGSEGV in C_EncryptInit and C_DecryptInit).
TEST_F(ModuleGuards, GcmParametersWithoutTheirBytesAreRefused) {
  const CK_OBJECT_HANDLE aesKey = aesKeyFor({CKA_ENCRYPT, CKA_DECRYPT});
  ASSERT_FALSE(HasFailure());
  Bytes iv(12, 1), aad(16, 2);
  const CK_GCM_PARAMS cases[] = {
      {nullptr, iv.size(), aad.data(), aad.size(), 128},
      {iv.data(), iv.size(), nullptr, aad.size(), 128},
  };
  for (const CK_GCM_PARAMS &parameters : cases) {
    CK_GCM_PARAMS copy = parameters;
    CK_MECHANISM gcm = {CKM_AES_GCM, &copy, sizeof copy};
    EXPECT_TRUE(answersInChild(CKR_MECHANISM_PARAM_INVALID, [&] { return f->C_EncryptInit(session, &gcm, aesKey); }));
    EXPECT_TRUE(answersInChild(CKR_MECHANISM_PARAM_INVALID, [&] { return f->C_DecryptInit(session, &gcm, aesKey); }));
  }
}

}  // namespace
}  // namespace zorvel::test
