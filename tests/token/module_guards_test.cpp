// Input that the backend module would answer by ending the application (SoftHSM2 exits or
// dies of SIGSEGV on it) gets the PKCS#11 answer from the stand-in instead. Each call runs
// in a child process, so that a regression shows as that row's failure, with how the
// child ended, rather than as the end of the whole test program.
#include "standin_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
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
    return secretKeyFor(CKM_AES_KEY_GEN, 16, uses);
  }

  // A session secret key made by the generation mechanism, of valueLength bytes where the
  // mechanism takes a length, that permits the given uses.
  CK_OBJECT_HANDLE secretKeyFor(CK_MECHANISM_TYPE generationMechanism, CK_ULONG valueLength,
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

  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

// DecryptByPublicKey: the raw public-key operation that the stand-in runs as an encryption.
enum class RsaCall { Encrypt, Decrypt, DecryptByPublicKey, Sign, Verify };

struct RsaInputCase {
  const char *name;
  CK_MECHANISM_TYPE mechanism;
  RsaCall call;
  CK_ULONG inputLength;  // C_Verify: the data; its signature is a block of the modulus length
  CK_RV expected;        // the module's answer where it gives one, measured on SoftHSM2 2.6.1
};

// SoftHSM2 ends the process (status 5) on the X.509 encryption, signature and verification
// rows of 129 bytes, and answers CKR_GENERAL_ERROR to the other refused ones. The inputs
// are zero bytes, a value below any modulus. (SoftHSM2 makes no raw signature with a
// private key whose modulus carries a leading zero byte: CKR_GENERAL_ERROR, whatever the
// length.)
const RsaInputCase kRsaInputCases[] = {
    {"X.509 encryption of the modulus length", CKM_RSA_X_509, RsaCall::Encrypt, 128, CKR_OK},
    {"X.509 encryption of fewer bytes", CKM_RSA_X_509, RsaCall::Encrypt, 100, CKR_OK},
    {"X.509 encryption of a byte more", CKM_RSA_X_509, RsaCall::Encrypt, 129, CKR_DATA_LEN_RANGE},
    {"X.509 encryption of two bytes more", CKM_RSA_X_509, RsaCall::Encrypt, 130, CKR_DATA_LEN_RANGE},
    {"X.509 signature of a byte more", CKM_RSA_X_509, RsaCall::Sign, 129, CKR_DATA_LEN_RANGE},
    {"X.509 signature of two bytes more", CKM_RSA_X_509, RsaCall::Sign, 130, CKR_DATA_LEN_RANGE},
    {"X.509 verification of a byte more", CKM_RSA_X_509, RsaCall::Verify, 129, CKR_DATA_LEN_RANGE},
    {"X.509 decryption of a byte more", CKM_RSA_X_509, RsaCall::Decrypt, 129, CKR_ENCRYPTED_DATA_LEN_RANGE},
    {"X.509 public-key decryption of the modulus length", CKM_RSA_X_509, RsaCall::DecryptByPublicKey, 128, CKR_OK},
    {"X.509 public-key decryption of a byte more", CKM_RSA_X_509, RsaCall::DecryptByPublicKey, 129,
     CKR_ENCRYPTED_DATA_LEN_RANGE},
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
    case RsaCall::DecryptByPublicKey: return f->C_DecryptInit(session, mechanism, publicKey);
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
    case RsaCall::Decrypt:
    case RsaCall::DecryptByPublicKey:
      return f->C_Decrypt(session, input.data(), input.size(), output.data(), &outputLength);
    case RsaCall::Sign: return f->C_Sign(session, input.data(), input.size(), output.data(), &outputLength);
    case RsaCall::Verify: return f->C_Verify(session, input.data(), input.size(), output.data(), output.size());
  }
  return CKR_GENERAL_ERROR;
}

// The call's answer, and after a refusal that the operation has ended: a second Init of
// the family is taken (the module answers CKR_OPERATION_ACTIVE while it still runs one).
// The key is sized by its modulus' value: a modulus written with a leading zero byte gives
// the same answers (SoftHSM2, which sizes it so too, ended the process on the 129-byte
// rows, and on ending the operation with a block as long as the attribute).
TEST_F(ModuleGuards, RsaInputBeyondTheBlockGetsItsAnswerAndEndsTheOperation) {
  CK_OBJECT_HANDLE zeroLedPublic = CK_INVALID_HANDLE, zeroLedPrivate = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, createRsaKeyPairWithLeadingZero(f, session, kModulusLength * 8, &zeroLedPublic, &zeroLedPrivate));
  const struct {
    const char *name;
    CK_OBJECT_HANDLE publicKey, privateKey;
  } keyPairs[] = {{"generated key", publicKey, privateKey},
                  {"modulus with a leading zero byte", zeroLedPublic, zeroLedPrivate}};
  for (const auto &keys : keyPairs) {
    for (const RsaInputCase &c : kRsaInputCases) {
      SCOPED_TRACE(std::string(keys.name) + ": " + c.name);
      EXPECT_TRUE(answersInChild(c.expected, [&] {
        CK_MECHANISM mechanism = {c.mechanism, nullptr, 0};
        CK_RV rv = initFor(f, session, c.call, &mechanism, keys.publicKey, keys.privateKey);
        if (rv != CKR_OK) return rv;
        Bytes input(c.inputLength, 0);
        rv = runOn(f, session, c.call, input);
        if (rv == CKR_OK) return rv;
        const CK_RV again = initFor(f, session, c.call, &mechanism, keys.publicKey, keys.privateKey);
        return again == CKR_OK ? rv : again;
      }));
    }
  }
}

// A modulus of a few bytes bounds the input too (SoftHSM2 exited with status 5 on raw data
// longer than it): raw RSA takes at most its length, PKCS#1 nothing.
TEST_F(ModuleGuards, RsaInputBeyondTheBlockOfASmallModulusIsRefused) {
  CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
  CK_KEY_TYPE rsa = CKK_RSA;
  CK_BBOOL yes = CK_TRUE;
  CK_BYTE modulus[] = {0x0B, 0x6F}, exponent[] = {3};
  CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &publicClass, sizeof publicClass},
                         {CKA_KEY_TYPE, &rsa, sizeof rsa},
                         {CKA_ENCRYPT, &yes, 1},
                         {CKA_MODULUS, modulus, sizeof modulus},
                         {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_CreateObject(session, tmpl, 5, &key));
  const struct {
    CK_MECHANISM_TYPE mechanism;
    CK_ULONG inputLength;
  } cases[] = {{CKM_RSA_X_509, 3}, {CKM_RSA_X_509, 16}, {CKM_RSA_PKCS, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.inputLength);
    EXPECT_TRUE(answersInChild(CKR_DATA_LEN_RANGE, [&] {
      CK_MECHANISM mechanism = {c.mechanism, nullptr, 0};
      const CK_RV rv = f->C_EncryptInit(session, &mechanism, key);
      if (rv != CKR_OK) return rv;
      Bytes input(c.inputLength, 0), output(16);
      CK_ULONG outputLength = output.size();
      return f->C_Encrypt(session, input.data(), input.size(), output.data(), &outputLength);
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

// The calls that take a template, each over an AES key that permits every use.
class TemplateGuards : public ModuleGuards {
 protected:
  struct TemplateCall {
    const char *name;
    std::function<CK_RV(CK_ATTRIBUTE_PTR, CK_ULONG)> call;
  };

  void SetUp() override {
    ModuleGuards::SetUp();
    if (HasFatalFailure()) return;
    aesKey = aesKeyFor({CKA_ENCRYPT, CKA_WRAP, CKA_UNWRAP, CKA_DERIVE});
    ASSERT_FALSE(HasFailure());
    wrappedLength = wrapped.size();
    ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &wrapping, aesKey, aesKey, wrapped.data(), &wrappedLength));
  }

  std::vector<TemplateCall> templateCalls() {
    return {
        {"C_CreateObject", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_CreateObject(session, t, n, &made); }},
        {"C_CopyObject", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_CopyObject(session, aesKey, t, n, &made); }},
        {"C_SetAttributeValue",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_SetAttributeValue(session, aesKey, t, n); }},
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
        {"C_DeriveKey",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_DeriveKey(session, &derivation, aesKey, t, n, &made); }},
    };
  }

  CK_OBJECT_HANDLE aesKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE, second = CK_INVALID_HANDLE;
  CK_MECHANISM aesGeneration = {CKM_AES_KEY_GEN, nullptr, 0};
  CK_MECHANISM wrapping = {CKM_AES_KEY_WRAP, nullptr, 0};
  Bytes wrapped = Bytes(64);
  CK_ULONG wrappedLength = 0;
  Bytes derivationData = Bytes(16, 0x5A);
  CK_KEY_DERIVATION_STRING_DATA derivationParameter = {derivationData.data(), derivationData.size()};
  CK_MECHANISM derivation = {CKM_AES_ECB_ENCRYPT_DATA, &derivationParameter, sizeof derivationParameter};
  CK_ULONG rsaBits = 16;
  CK_ATTRIBUTE rsaPublic[1] = {{CKA_MODULUS_BITS, &rsaBits, sizeof rsaBits}};
  CK_MECHANISM pairGeneration = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
};

// Every call that takes a template refuses an attribute that claims a value it does not
// point to (SoftHSM2: SIGSEGV in C_CreateObject, C_GenerateKey, C_GenerateKeyPair and
// C_FindObjectsInit), also inside an attribute whose value is a template.
TEST_F(TemplateGuards, TemplatesWithAValueLengthButNoValueAreRefused) {
  CK_ATTRIBUTE valueless[] = {{CKA_CLASS, nullptr, sizeof(CK_OBJECT_CLASS)}};
  CK_ATTRIBUTE valuelessInside[] = {{CKA_WRAP_TEMPLATE, valueless, sizeof valueless}};
  for (const TemplateCall &c : templateCalls()) {
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

// A CK_ULONG or CK_BBOOL attribute of another length, or without a value, is refused in
// every call (SoftHSM2 reads CKA_VALUE_BITS of a DH key-pair template unchecked and dies
// of SIGSEGV on a null one), also inside a template.
TEST_F(TemplateGuards, FixedSizeValuesOfAnotherLengthAreRefused) {
  CK_ULONG number = 160;
  CK_BBOOL yes = CK_TRUE;
  const std::vector<CK_ATTRIBUTE> misfits = {
      {CKA_VALUE_BITS, nullptr, 0},      {CKA_VALUE_BITS, &number, 4}, {CKA_CLASS, &number, 1},
      {CKA_TOKEN, &yes, 0},              {CKA_SIGN, &number, sizeof number},
  };
  for (const CK_ATTRIBUTE &misfit : misfits) {
    SCOPED_TRACE(misfit.type);
    CK_ATTRIBUTE alone[] = {misfit};
    CK_ATTRIBUTE inside[] = {{CKA_UNWRAP_TEMPLATE, alone, sizeof alone}};
    for (const TemplateCall &c : templateCalls()) {
      SCOPED_TRACE(c.name);
      EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(alone, 1); }));
      EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(inside, 1); }));
    }
  }
  // The DH key pair the module died on, and the same with the value's size.
  CK_BYTE base = 2;
  CK_ATTRIBUTE domain[] = {{CKA_PRIME, const_cast<CK_BYTE *>(kOakleyGroup1Prime.data()), kOakleyGroup1Prime.size()},
                           {CKA_BASE, &base, 1}};
  CK_MECHANISM dhGeneration = {CKM_DH_PKCS_KEY_PAIR_GEN, nullptr, 0};
  for (CK_ATTRIBUTE valueBits : {CK_ATTRIBUTE{CKA_VALUE_BITS, nullptr, 0},
                                 CK_ATTRIBUTE{CKA_VALUE_BITS, &number, sizeof number}}) {
    EXPECT_TRUE(answersInChild(valueBits.pValue == nullptr ? CKR_ATTRIBUTE_VALUE_INVALID : CKR_OK, [&] {
      return f->C_GenerateKeyPair(session, &dhGeneration, domain, 2, &valueBits, 1, &made, &second);
    }));
  }
}

// C_GetAttributeValue of a template attribute into records of which some point to buffers
// and one claims a length without one is refused (SoftHSM2 writes through the null one);
// records that all lack a buffer ask for the types and lengths, and records that all
// have one receive the values.
TEST_F(TemplateGuards, TemplateValuesAreNotReadIntoRecordsWithoutABuffer) {
  CK_BBOOL yes = CK_TRUE;
  CK_ULONG length = 16;
  CK_ATTRIBUTE wrapTemplate[] = {{CKA_ENCRYPT, &yes, 1}, {CKA_DECRYPT, &yes, 1}};
  CK_ATTRIBUTE generation[] = {{CKA_VALUE_LEN, &length, sizeof length},
                               {CKA_WRAP_TEMPLATE, wrapTemplate, sizeof wrapTemplate}};
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_GenerateKey(session, &aesGeneration, generation, 2, &key));
  CK_BBOOL first = CK_FALSE, second = CK_FALSE;
  const auto readInto = [&](CK_VOID_PTR firstBuffer, CK_VOID_PTR secondBuffer) {
    CK_ATTRIBUTE records[] = {{CKA_ENCRYPT, firstBuffer, 1}, {CKA_DECRYPT, secondBuffer, 1}};
    CK_ATTRIBUTE read[] = {{CKA_WRAP_TEMPLATE, records, sizeof records}};
    return f->C_GetAttributeValue(session, key, read, 1);
  };
  EXPECT_TRUE(answersInChild(CKR_ARGUMENTS_BAD, [&] { return readInto(&first, nullptr); }));
  EXPECT_TRUE(answersInChild(CKR_ARGUMENTS_BAD, [&] { return readInto(nullptr, &second); }));
  EXPECT_CKR(CKR_OK, readInto(nullptr, nullptr));
  EXPECT_CKR(CKR_OK, readInto(&first, &second));
  EXPECT_EQ(CK_TRUE, first);
  EXPECT_EQ(CK_TRUE, second);
}

// A template that contains itself, or five templates nested in each other, is refused in every call
// (the stand-in's own guard followed them into a stack overflow); an attribute without a
// value inside a template is no fault.
TEST_F(TemplateGuards, TemplatesThatContainThemselvesOrNestTooDeepAreRefused) {
  CK_ATTRIBUTE selfContaining[1];
  selfContaining[0] = {CKA_WRAP_TEMPLATE, selfContaining, sizeof selfContaining};
  constexpr int kNested = 6;
  CK_ATTRIBUTE nested[kNested];
  const CK_ATTRIBUTE_TYPE templateTypes[] = {CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE, CKA_DERIVE_TEMPLATE};
  CK_BBOOL yes = CK_TRUE;
  for (int i = 0; i < kNested; ++i) {
    nested[i] = i + 1 < kNested ? CK_ATTRIBUTE{templateTypes[i % 3], &nested[i + 1], sizeof(CK_ATTRIBUTE)}
                                : CK_ATTRIBUTE{CKA_ENCRYPT, &yes, 1};
  }
  for (const TemplateCall &c : templateCalls()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(selfContaining, 1); }));
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(nested, 1); }));
  }
  CK_ATTRIBUTE emptyLabel[] = {{CKA_LABEL, nullptr, 0}};
  CK_ATTRIBUTE holdingEmpty[] = {{CKA_WRAP_TEMPLATE, emptyLabel, sizeof emptyLabel}, {CKA_VALUE, nullptr, 0}};
  EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_FindObjectsInit(session, holdingEmpty, 2); }));
  EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_FindObjectsInit(session, nullptr, 0); }));
  CK_ULONG length = 16;
  CK_ATTRIBUTE generation[] = {{CKA_VALUE_LEN, &length, sizeof length},
                               {CKA_WRAP_TEMPLATE, emptyLabel, sizeof emptyLabel}};
  EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_GenerateKey(session, &aesGeneration, generation, 2, &made); }));
}

// An array attribute whose value is no template is bytes to the stand-in, whatever they
// hold: CKA_ALLOWED_MECHANISMS with mechanism types that would be no pointers (the
// stand-in's guard read them as templates: CKR_ATTRIBUTE_VALUE_INVALID for a list holding
// CKM_RSA_PKCS_KEY_PAIR_GEN, 0, and SIGSEGV for 0xC0000001), and every other type flagged
// as an array (answered as the module answers an unknown attribute).
TEST_F(TemplateGuards, ArrayAttributesThatHoldNoTemplateAreBytes) {
  const std::vector<std::vector<CK_MECHANISM_TYPE>> lists = {
      {CKM_AES_ECB, CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_AES_CBC}, {0xC0000001, CKM_AES_CBC, CKM_AES_ECB}};
  CK_ULONG length = 16;
  for (const std::vector<CK_MECHANISM_TYPE> &list : lists) {
    CK_ATTRIBUTE allowed[] = {{CKA_ALLOWED_MECHANISMS, const_cast<CK_MECHANISM_TYPE *>(list.data()),
                               static_cast<CK_ULONG>(list.size() * sizeof(CK_MECHANISM_TYPE))},
                              {CKA_VALUE_LEN, &length, sizeof length}};
    SCOPED_TRACE(list[0]);
    EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_GenerateKey(session, &aesGeneration, allowed, 2, &made); }));
    EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_FindObjectsInit(session, allowed, 1); }));
  }
  // Every array-flagged type of the standard's range, in one child: the first answer that
  // is neither a match nor an unknown attribute, or the end of the child.
  EXPECT_TRUE(answersInChild(CKR_OK, [&] {
    const CK_ULONG pointerLike[] = {0xC0000001, 0xC0000001, 0xC0000001, 0xC0000001, 0xC0000001, 0xC0000001};
    for (CK_ATTRIBUTE_TYPE type = CKF_ARRAY_ATTRIBUTE; type < (CKF_ARRAY_ATTRIBUTE | 0x1000); ++type) {
      if (type == CKA_WRAP_TEMPLATE || type == CKA_UNWRAP_TEMPLATE || type == CKA_DERIVE_TEMPLATE) continue;
      CK_ATTRIBUTE attribute = {type, const_cast<CK_ULONG *>(pointerLike), sizeof pointerLike};
      const CK_RV rv = f->C_FindObjectsInit(session, &attribute, 1);
      if (rv == CKR_OK) f->C_FindObjectsFinal(session);
      if (rv != CKR_OK && rv != CKR_ATTRIBUTE_TYPE_INVALID) return rv;
    }
    return CKR_OK;
  }));
}

// The module's GCM record: CK_GCM_PARAMS with the IV length in bits besides.
struct GcmParamsWithIvBits {
  CK_BYTE_PTR pIv;
  CK_ULONG ulIvLen;
  CK_ULONG ulIvBits;
  CK_BYTE_PTR pAAD;
  CK_ULONG ulAADLen;
  CK_ULONG ulTagBits;
};

// GCM parameters in either record: the IV or additional data missing though its length is
// not (SoftHSM2: SIGSEGV in C_EncryptInit and C_DecryptInit), an IV of no bytes (which
// SoftHSM2 takes, encrypting under a fixed hidden IV) and lengths beyond what OpenSSL
// takes are refused; IVs of 12 and 16 bytes, with or without additional data, are taken.
TEST_F(ModuleGuards, GcmParametersWithoutTheirBytesOrIvAreRefused) {
  const CK_OBJECT_HANDLE aesKey = aesKeyFor({CKA_ENCRYPT, CKA_DECRYPT});
  ASSERT_FALSE(HasFailure());
  Bytes iv(16, 1), aad(20, 2);
  struct GcmCase {
    const char *name;
    CK_BYTE_PTR iv;
    CK_ULONG ivLength;
    CK_BYTE_PTR aad;
    CK_ULONG aadLength;
    CK_RV expected;
  };
  const GcmCase cases[] = {
      {"IV null, 12 bytes long", nullptr, 12, aad.data(), aad.size(), CKR_MECHANISM_PARAM_INVALID},
      {"AAD null, 20 bytes long", iv.data(), 12, nullptr, aad.size(), CKR_MECHANISM_PARAM_INVALID},
      {"IV of no bytes", iv.data(), 0, nullptr, 0, CKR_MECHANISM_PARAM_INVALID},
      {"IV null and of no bytes", nullptr, 0, aad.data(), aad.size(), CKR_MECHANISM_PARAM_INVALID},
      {"IV of 12 bytes, no AAD", iv.data(), 12, nullptr, 0, CKR_OK},
      {"IV of 16 bytes, AAD of 20", iv.data(), 16, aad.data(), aad.size(), CKR_OK},
  };
  for (const GcmCase &c : cases) {
    SCOPED_TRACE(c.name);
    CK_GCM_PARAMS fiveFields = {c.iv, c.ivLength, c.aad, c.aadLength, 128};
    GcmParamsWithIvBits sixFields = {c.iv, c.ivLength, c.ivLength * 8, c.aad, c.aadLength, 128};
    const CK_MECHANISM records[] = {{CKM_AES_GCM, &fiveFields, sizeof fiveFields},
                                    {CKM_AES_GCM, &sixFields, sizeof sixFields}};
    for (CK_MECHANISM gcm : records) {
      SCOPED_TRACE(gcm.ulParameterLen);
      EXPECT_TRUE(answersInChild(c.expected, [&] {
        const CK_RV rv = f->C_EncryptInit(session, &gcm, aesKey);
        if (rv != CKR_OK) return rv;
        Bytes data(16, 3), encrypted(64);
        CK_ULONG encryptedLength = encrypted.size();
        return f->C_Encrypt(session, data.data(), data.size(), encrypted.data(), &encryptedLength);
      }));
      EXPECT_TRUE(answersInChild(c.expected, [&] { return f->C_DecryptInit(session, &gcm, aesKey); }));
    }
  }
  // The module's record given as this library's: its pointer to the AAD is read as the
  // AAD's length, beyond what the module's OpenSSL takes (SoftHSM2: exit status 5).
  GcmParamsWithIvBits sixFields = {iv.data(), 12, 96, aad.data(), aad.size(), 128};
  CK_MECHANISM mislabelled = {CKM_AES_GCM, &sixFields, sizeof(CK_GCM_PARAMS)};
  EXPECT_TRUE(
      answersInChild(CKR_MECHANISM_PARAM_INVALID, [&] { return f->C_EncryptInit(session, &mislabelled, aesKey); }));
}

// How a key made in a child is then used: the module died there on the keys it took.
enum class KeyUse { Encrypt, Sign, Verify, Derive };

CK_RV useKey(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, KeyUse use, CK_MECHANISM_TYPE type,
             CK_OBJECT_HANDLE key) {
  Bytes data(20, 0x11), output(512), peer(65, 0x04);
  CK_ULONG outputLength = output.size();
  CK_MECHANISM mechanism = {type, nullptr, 0};
  CK_ECDH1_DERIVE_PARAMS ecdh = {CKD_NULL, 0, nullptr, static_cast<CK_ULONG>(peer.size()), peer.data()};
  if (type == CKM_ECDH1_DERIVE) mechanism = {type, &ecdh, sizeof ecdh};
  if (type == CKM_DH_PKCS_DERIVE) mechanism = {type, peer.data(), peer.size()};
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE genericSecret = CKK_GENERIC_SECRET;
  CK_ULONG sixteen = 16;
  CK_ATTRIBUTE secret[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                           {CKA_KEY_TYPE, &genericSecret, sizeof genericSecret},
                           {CKA_VALUE_LEN, &sixteen, sizeof sixteen}};
  CK_OBJECT_HANDLE derived = CK_INVALID_HANDLE;
  CK_RV rv = CKR_OK;
  switch (use) {
    case KeyUse::Encrypt:
      rv = f->C_EncryptInit(session, &mechanism, key);
      return rv != CKR_OK ? rv : f->C_Encrypt(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyUse::Sign:
      rv = f->C_SignInit(session, &mechanism, key);
      return rv != CKR_OK ? rv : f->C_Sign(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyUse::Verify:
      rv = f->C_VerifyInit(session, &mechanism, key);
      return rv != CKR_OK ? rv : f->C_Verify(session, data.data(), data.size(), output.data(), 64);
    case KeyUse::Derive: return f->C_DeriveKey(session, &mechanism, key, secret, 3, &derived);
  }
  return CKR_GENERAL_ERROR;
}

// Keys made from components the module cannot load are refused at C_CreateObject (SoftHSM2
// made them and died of SIGSEGV when they were used, which each row does where the key is
// made); keys it loads are made.
TEST_F(ModuleGuards, KeyComponentsTheModuleCannotLoadAreRefused) {
  Bytes modulus(kModulusLength);
  CK_ATTRIBUTE readModulus = {CKA_MODULUS, modulus.data(), modulus.size()};
  ASSERT_CKR(CKR_OK, f->C_GetAttributeValue(session, publicKey, &readModulus, 1));
  const Bytes none, zero = {0}, exponent = {1, 0, 1}, two = {2}, bytes(20, 0x5A);
  const Bytes &prime = kOakleyGroup1Prime;
  const Bytes p256 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  const Bytes ed25519 = {0x06, 0x03, 0x2B, 0x65, 0x70}, garbage = {0x30, 0x03, 0x02, 0x01, 0x07};
  const Bytes point = [] {
    Bytes encoded = {0x04, 0x41, 0x04};  // an OCTET STRING holding an uncompressed point
    encoded.resize(2 + 65, 0x01);
    return encoded;
  }();
  struct Component {
    CK_ATTRIBUTE_TYPE type;
    Bytes value;
  };
  struct KeyCase {
    const char *name;
    CK_OBJECT_CLASS objectClass;
    CK_KEY_TYPE keyType;
    std::vector<Component> components;
    KeyUse use;
    CK_MECHANISM_TYPE mechanism;
    CK_RV expected;
  };
  const KeyCase cases[] = {
      {"RSA public key, empty modulus", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, none}, {CKA_PUBLIC_EXPONENT, exponent}},
       KeyUse::Encrypt, CKM_RSA_PKCS, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA public key, zero modulus", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, zero}, {CKA_PUBLIC_EXPONENT, exponent}},
       KeyUse::Encrypt, CKM_RSA_PKCS, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA public key, empty exponent", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, modulus}, {CKA_PUBLIC_EXPONENT, none}},
       KeyUse::Encrypt, CKM_RSA_PKCS, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA private key, no public exponent", CKO_PRIVATE_KEY, CKK_RSA,
       {{CKA_MODULUS, modulus}, {CKA_PRIVATE_EXPONENT, bytes}}, KeyUse::Sign, CKM_RSA_PKCS, CKR_TEMPLATE_INCOMPLETE},
      {"DSA private key, empty prime", CKO_PRIVATE_KEY, CKK_DSA,
       {{CKA_PRIME, none}, {CKA_SUBPRIME, bytes}, {CKA_BASE, two}, {CKA_VALUE, bytes}}, KeyUse::Sign, CKM_DSA,
       CKR_ATTRIBUTE_VALUE_INVALID},
      {"DSA public key, empty value", CKO_PUBLIC_KEY, CKK_DSA,
       {{CKA_PRIME, prime}, {CKA_SUBPRIME, bytes}, {CKA_BASE, two}, {CKA_VALUE, none}}, KeyUse::Verify, CKM_DSA,
       CKR_ATTRIBUTE_VALUE_INVALID},
      {"DH private key, empty base", CKO_PRIVATE_KEY, CKK_DH,
       {{CKA_PRIME, prime}, {CKA_BASE, none}, {CKA_VALUE, bytes}}, KeyUse::Derive, CKM_DH_PKCS_DERIVE, CKR_ATTRIBUTE_VALUE_INVALID},
      {"EC public key, parameters that are no curve", CKO_PUBLIC_KEY, CKK_EC,
       {{CKA_EC_PARAMS, garbage}, {CKA_EC_POINT, point}}, KeyUse::Verify, CKM_ECDSA, CKR_ATTRIBUTE_VALUE_INVALID},
      {"EC private key, an Edwards curve", CKO_PRIVATE_KEY, CKK_EC, {{CKA_EC_PARAMS, ed25519}, {CKA_VALUE, bytes}},
       KeyUse::Derive, CKM_ECDH1_DERIVE, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA public key", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, modulus}, {CKA_PUBLIC_EXPONENT, exponent}},
       KeyUse::Encrypt, CKM_RSA_PKCS, CKR_OK},
      {"EC public key on P-256", CKO_PUBLIC_KEY, CKK_EC, {{CKA_EC_PARAMS, p256}, {CKA_EC_POINT, point}},
       KeyUse::Verify, CKM_ECDSA, CKR_OK},
  };
  CK_BBOOL yes = CK_TRUE;
  for (const KeyCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CK_ATTRIBUTE> tmpl = {{CKA_CLASS, const_cast<CK_OBJECT_CLASS *>(&c.objectClass), sizeof c.objectClass},
                                      {CKA_KEY_TYPE, const_cast<CK_KEY_TYPE *>(&c.keyType), sizeof c.keyType},
                                      {c.objectClass == CKO_PUBLIC_KEY ? CKA_ENCRYPT : CKA_SIGN, &yes, 1},
                                      {c.objectClass == CKO_PUBLIC_KEY ? CKA_VERIFY : CKA_DERIVE, &yes, 1}};
    for (const Component &component : c.components) {
      tmpl.push_back({component.type, const_cast<CK_BYTE *>(component.value.data()),
                      static_cast<CK_ULONG>(component.value.size())});
    }
    EXPECT_TRUE(answersInChild(c.expected, [&] {
      CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
      const CK_RV rv = f->C_CreateObject(session, tmpl.data(), tmpl.size(), &key);
      if (rv != CKR_OK) return rv;
      useKey(f, session, c.use, c.mechanism, key);
      return rv;
    }));
  }
}

// A key of another type than the mechanism works with is refused at Init, C_WrapKey,
// C_UnwrapKey and C_DeriveKey before the module sees it (SoftHSM2 took these at Init and
// then died of SIGSEGV in C_Sign or C_Verify, or exited with status 5); keys of the
// mechanism's type are taken. Where a call is taken, its operation runs in the child too.
enum class Key { RsaPublic, RsaPrivate, EcPrivate, Aes, Des3, GenericSecret, Camellia };

class KeyTypeGuards : public ModuleGuards {
 protected:
  void SetUp() override {
    ModuleGuards::SetUp();
    if (HasFatalFailure()) return;
    const std::vector<CK_ATTRIBUTE_TYPE> everyUse = {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN,  CKA_VERIFY,
                                                     CKA_WRAP,    CKA_UNWRAP,  CKA_DERIVE};
    keys[Key::RsaPublic] = publicKey;
    keys[Key::RsaPrivate] = privateKey;
    keys[Key::Aes] = aesKeyFor(everyUse);
    keys[Key::Des3] = secretKeyFor(CKM_DES3_KEY_GEN, 0, everyUse);
    keys[Key::GenericSecret] = secretKeyFor(CKM_GENERIC_SECRET_KEY_GEN, 32, {CKA_SIGN, CKA_VERIFY, CKA_DERIVE});
    keys[Key::Camellia] = secretKeyFor(CKM_CAMELLIA_KEY_GEN, 16, {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY});
    CK_BYTE p256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, p256, sizeof p256}, {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, 1}, {CKA_DERIVE, &yes, 1}};
    CK_MECHANISM ecGeneration = {CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE ecPublic = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &ecGeneration, publicTemplate, 2, privateTemplate, 2, &ecPublic,
                                            &keys[Key::EcPrivate]));
  }

  std::map<Key, CK_OBJECT_HANDLE> keys;
};

enum class KeyCall { Encrypt, Decrypt, Sign, Verify, Wrap, Unwrap, Derive };

struct KeyTypeCase {
  const char *name;
  KeyCall call;
  CK_MECHANISM_TYPE mechanism;
  Key key;
  CK_RV expected;
};

// Starts the call with the key and, where the call is taken, carries it out: the result of
// the first that fails.
CK_RV callWithKey(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, KeyCall call, CK_MECHANISM_PTR mechanism,
                  CK_OBJECT_HANDLE key, CK_OBJECT_HANDLE otherKey) {
  Bytes data(16, 0x11), output(512);
  CK_ULONG outputLength = output.size();
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE genericSecret = CKK_GENERIC_SECRET;
  CK_ULONG sixteen = 16;
  CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                   {CKA_KEY_TYPE, &genericSecret, sizeof genericSecret},
                                   {CKA_VALUE_LEN, &sixteen, sizeof sixteen}};
  CK_RV rv = CKR_OK;
  switch (call) {
    case KeyCall::Encrypt:
      rv = f->C_EncryptInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Encrypt(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyCall::Decrypt:
      rv = f->C_DecryptInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Decrypt(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyCall::Sign:
      rv = f->C_SignInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Sign(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyCall::Verify:
      rv = f->C_VerifyInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Verify(session, data.data(), data.size(), output.data(), 128);
    case KeyCall::Wrap: return f->C_WrapKey(session, mechanism, key, otherKey, output.data(), &outputLength);
    case KeyCall::Unwrap:
      return f->C_UnwrapKey(session, mechanism, key, output.data(), 128, secretTemplate, 3, &made);
    case KeyCall::Derive: return f->C_DeriveKey(session, mechanism, key, secretTemplate, 3, &made);
  }
  return CKR_GENERAL_ERROR;
}

TEST_F(KeyTypeGuards, KeysOfAnotherTypeThanTheMechanismsAreRefusedFirst) {
  std::vector<KeyTypeCase> cases;
  for (CK_MECHANISM_TYPE dsa :
       {CKM_DSA, CKM_DSA_SHA1, CKM_DSA_SHA224, CKM_DSA_SHA256, CKM_DSA_SHA384, CKM_DSA_SHA512}) {
    cases.push_back({"DSA with an RSA private key", KeyCall::Sign, dsa, Key::RsaPrivate, CKR_KEY_TYPE_INCONSISTENT});
    cases.push_back({"DSA with an AES key", KeyCall::Sign, dsa, Key::Aes, CKR_KEY_TYPE_INCONSISTENT});
  }
  const std::vector<KeyTypeCase> rows = {
      {"PKCS#1 verification with an AES key", KeyCall::Verify, CKM_RSA_PKCS, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      {"X.509 signature with a DES3 key", KeyCall::Sign, CKM_RSA_X_509, Key::Des3, CKR_KEY_TYPE_INCONSISTENT},
      {"ECDSA with an RSA private key", KeyCall::Sign, CKM_ECDSA, Key::RsaPrivate, CKR_KEY_TYPE_INCONSISTENT},
      {"hashed ECDSA with an AES key", KeyCall::Sign, CKM_ECDSA_SHA256, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      {"AES ECB with a DES3 key", KeyCall::Encrypt, CKM_AES_ECB, Key::Des3, CKR_KEY_TYPE_INCONSISTENT},
      {"HMAC with an AES key", KeyCall::Sign, CKM_SHA256_HMAC, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      // The module keeps a Camellia key as an MD5 HMAC key: the caller's type is judged.
      {"MD5 HMAC with a Camellia key", KeyCall::Sign, CKM_MD5_HMAC, Key::Camellia, CKR_KEY_TYPE_INCONSISTENT},
      {"Camellia MAC with an AES key", KeyCall::Sign, CKM_CAMELLIA_MAC, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      {"PKCS#1 wrapping with an AES key", KeyCall::Wrap, CKM_RSA_PKCS, Key::Aes,
       CKR_WRAPPING_KEY_TYPE_INCONSISTENT},
      {"AES key wrap unwrapping with an RSA private key", KeyCall::Unwrap, CKM_AES_KEY_WRAP, Key::RsaPrivate,
       CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT},
      {"AES ECB derivation from a DES3 key", KeyCall::Derive, CKM_AES_ECB_ENCRYPT_DATA, Key::Des3,
       CKR_KEY_TYPE_INCONSISTENT},
      {"ECDH from an RSA private key", KeyCall::Derive, CKM_ECDH1_DERIVE, Key::RsaPrivate,
       CKR_KEY_TYPE_INCONSISTENT},
      {"PKCS#1 signature with an RSA private key", KeyCall::Sign, CKM_RSA_PKCS, Key::RsaPrivate, CKR_OK},
      {"ECDSA with an EC private key", KeyCall::Sign, CKM_ECDSA, Key::EcPrivate, CKR_OK},
      {"AES ECB with an AES key", KeyCall::Encrypt, CKM_AES_ECB, Key::Aes, CKR_OK},
      {"DES3 ECB with a DES3 key", KeyCall::Encrypt, CKM_DES3_ECB, Key::Des3, CKR_OK},
      {"HMAC with a generic secret", KeyCall::Sign, CKM_SHA256_HMAC, Key::GenericSecret, CKR_OK},
      {"Camellia ECB with a Camellia key", KeyCall::Encrypt, CKM_CAMELLIA_ECB, Key::Camellia, CKR_OK},
      {"Camellia MAC with a Camellia key", KeyCall::Sign, CKM_CAMELLIA_MAC, Key::Camellia, CKR_OK},
      {"AES key wrap of an AES key", KeyCall::Wrap, CKM_AES_KEY_WRAP, Key::Aes, CKR_OK},
  };
  cases.insert(cases.end(), rows.begin(), rows.end());
  Bytes derivationData(16, 0x5A);
  CK_KEY_DERIVATION_STRING_DATA derivationParameter = {derivationData.data(), derivationData.size()};
  Bytes point(65, 0x04);
  CK_ECDH1_DERIVE_PARAMS ecdh = {CKD_NULL, 0, nullptr, static_cast<CK_ULONG>(point.size()), point.data()};
  for (const KeyTypeCase &c : cases) {
    SCOPED_TRACE(c.name);
    CK_MECHANISM mechanism = {c.mechanism, nullptr, 0};
    if (c.mechanism == CKM_AES_ECB_ENCRYPT_DATA) {
      mechanism = {c.mechanism, &derivationParameter, sizeof derivationParameter};
    }
    if (c.mechanism == CKM_ECDH1_DERIVE) mechanism = {c.mechanism, &ecdh, sizeof ecdh};
    EXPECT_TRUE(answersInChild(c.expected, [&] {
      return callWithKey(f, session, c.call, &mechanism, keys[c.key], keys[Key::Aes]);
    }));
  }
}

}  // namespace
}  // namespace zorvel::test
