// Raw and PKCS#1 RSA input beyond the key's block.
#include "module_guards.h"

#include <string>

namespace zorvel::test {
namespace {

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

}  // namespace
}  // namespace zorvel::test
