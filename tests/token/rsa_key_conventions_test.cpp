// RSA key uses that the library accepts and the backend refuses: encryption with a private
// key (a PKCS#1 v1.5 block type 1 signature) and raw decryption with a public key (the raw
// public-key operation).
#include "standin_test_support.h"

#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

class RsaKeyConventions : public LoggedInSession {
 protected:
  void SetUp() override {
    LoggedInSession::SetUp();
    if (HasFatalFailure()) return;
    generatePair(CK_TRUE, &publicKey, &privateKey);
  }

  void generatePair(CK_BBOOL maySign, CK_OBJECT_HANDLE *pub, CK_OBJECT_HANDLE *priv) {
    ASSERT_CKR(CKR_OK, generateRsaKeyPair(f, session, kBits, maySign, pub, priv));
  }

  using InitMember = CK_RV (*CK_FUNCTION_LIST::*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
  using RunMember = CK_RV (*CK_FUNCTION_LIST::*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);

  // One single-part operation with a length query first.
  CK_RV run(InitMember init, RunMember op, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes in, Bytes *out) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    CK_RV rv = (f->*init)(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    CK_ULONG len = 0;
    rv = (f->*op)(session, in.data(), in.size(), nullptr, &len);
    if (rv != CKR_OK) return rv;
    out->assign(len, 0);
    rv = (f->*op)(session, in.data(), in.size(), out->data(), &len);
    out->resize(len);
    return rv;
  }

  static constexpr CK_ULONG kBits = 1024;
  static constexpr size_t kModulusLen = kBits / 8;
  const Bytes message = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

TEST_F(RsaKeyConventions, PrivateKeyEncryptionIsTheBlockType1Signature) {
  Bytes encrypted, signature;
  ASSERT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt, CKM_RSA_PKCS, privateKey,
                         message, &encrypted));
  ASSERT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_SignInit, &CK_FUNCTION_LIST::C_Sign, CKM_RSA_PKCS, privateKey, message,
                         &signature));
  EXPECT_EQ(kModulusLen, encrypted.size());
  EXPECT_EQ(signature, encrypted);

  CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_VerifyInit(session, &pkcs, publicKey));
  EXPECT_CKR(CKR_OK, f->C_Verify(session, const_cast<CK_BYTE_PTR>(message.data()), message.size(), encrypted.data(),
                                 encrypted.size()));
}

TEST_F(RsaKeyConventions, PublicKeyRawDecryptionIsTheRawPublicOperation) {
  Bytes signature, raw;
  ASSERT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_SignInit, &CK_FUNCTION_LIST::C_Sign, CKM_RSA_PKCS, privateKey, message,
                         &signature));
  ASSERT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt, CKM_RSA_X_509, publicKey,
                         signature, &raw));
  // 00 01 FF .. FF 00 message: the block the signature was made from.
  ASSERT_EQ(kModulusLen, raw.size());
  const size_t padEnd = kModulusLen - message.size() - 1;
  EXPECT_EQ(0x00, raw[0]);
  EXPECT_EQ(0x01, raw[1]);
  for (size_t i = 2; i < padEnd; ++i) ASSERT_EQ(0xFF, raw[i]) << i;
  EXPECT_EQ(0x00, raw[padEnd]);
  EXPECT_EQ(message, Bytes(raw.begin() + padEnd + 1, raw.end()));
}

TEST_F(RsaKeyConventions, SubstitutedOperationEndsWithItsCompletingCall) {
  CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &pkcs, privateKey));
  Bytes out(8);
  CK_ULONG len = out.size();
  // Too small a buffer keeps the operation, as for any single-part call.
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL,
             f->C_Encrypt(session, const_cast<CK_BYTE_PTR>(message.data()), message.size(), out.data(), &len));
  EXPECT_EQ(kModulusLen, len);
  out.resize(len);
  EXPECT_CKR(CKR_OK, f->C_Encrypt(session, const_cast<CK_BYTE_PTR>(message.data()), message.size(), out.data(), &len));
  // Nothing stays active: both a signature and an ordinary encryption start afresh.
  EXPECT_CKR(CKR_OK, f->C_SignInit(session, &pkcs, privateKey));
  EXPECT_CKR(CKR_OK, f->C_Sign(session, const_cast<CK_BYTE_PTR>(message.data()), message.size(), out.data(), &len));
  Bytes cipher, plain;
  ASSERT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt, CKM_RSA_PKCS, publicKey,
                         message, &cipher));
  ASSERT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt, CKM_RSA_PKCS, privateKey,
                         cipher, &plain));
  EXPECT_EQ(message, plain);
}

// The substituted encryption is a signature in the backend, but not for the caller: a
// C_Sign meets no operation and leaves the encryption active.
TEST_F(RsaKeyConventions, SubstitutedOperationIsNoneOfAnotherFamily) {
  CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &pkcs, privateKey));
  Bytes in = message, out(kModulusLen);
  CK_ULONG len = out.size();
  EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, in.data(), in.size(), out.data(), &len));
  len = out.size();
  EXPECT_CKR(CKR_OK, f->C_Encrypt(session, in.data(), in.size(), out.data(), &len));
  EXPECT_EQ(kModulusLen, len);
}

// The backend keeps an operation of its own when a completing call's arguments are
// refused, so that the caller can try again; a substituted operation is kept alike.
TEST_F(RsaKeyConventions, RefusedArgumentsKeepTheOperation) {
  struct Case {
    const char *what;
    InitMember init;
    RunMember op;
    CK_MECHANISM_TYPE type;
    CK_OBJECT_HANDLE key;
    Bytes input;
  };
  Bytes belowModulus = message;
  belowModulus.insert(belowModulus.begin(), kModulusLen - message.size(), 0x00);
  const Case cases[] = {
      {"public-key encryption (the backend's own)", &CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt,
       CKM_RSA_PKCS, publicKey, message},
      {"private-key encryption", &CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt, CKM_RSA_PKCS,
       privateKey, message},
      {"private-key raw decryption (the backend's own)", &CK_FUNCTION_LIST::C_DecryptInit,
       &CK_FUNCTION_LIST::C_Decrypt, CKM_RSA_X_509, privateKey, belowModulus},
      {"public-key raw decryption", &CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt, CKM_RSA_X_509,
       publicKey, belowModulus},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CK_MECHANISM mechanism = {c.type, nullptr, 0};
    ASSERT_CKR(CKR_OK, (f->*c.init)(session, &mechanism, c.key));
    Bytes in = c.input;
    Bytes out(kModulusLen);
    EXPECT_CKR(CKR_ARGUMENTS_BAD, (f->*c.op)(session, in.data(), in.size(), out.data(), nullptr));
    CK_ULONG len = out.size();
    ASSERT_CKR(CKR_OK, (f->*c.op)(session, in.data(), in.size(), out.data(), &len));
    EXPECT_EQ(kModulusLen, len);
  }
}

TEST_F(RsaKeyConventions, PublicKeyRawDecryptionRefusesAnInputLongerThanTheModulus) {
  CK_MECHANISM raw = {CKM_RSA_X_509, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_DecryptInit(session, &raw, publicKey));
  Bytes in(kModulusLen + 1, 0x11);
  Bytes out(kModulusLen);
  CK_ULONG len = out.size();
  EXPECT_CKR(CKR_ENCRYPTED_DATA_LEN_RANGE, f->C_Decrypt(session, in.data(), in.size(), out.data(), &len));
  // The refusal ended the operation.
  in.resize(kModulusLen);
  EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_Decrypt(session, in.data(), in.size(), out.data(), &len));
  Bytes plain;
  EXPECT_CKR(CKR_OK, run(&CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt, CKM_RSA_X_509, publicKey,
                         Bytes(kModulusLen, 0x11), &plain));
}

TEST_F(RsaKeyConventions, OtherKeyUsesPassThrough) {
  // Raw encryption with a private key is no convention of the library: the backend's answer.
  CK_MECHANISM raw = {CKM_RSA_X_509, nullptr, 0};
  EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_EncryptInit(session, &raw, privateKey));
  CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
  EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_DecryptInit(session, &pkcs, publicKey));

  // A private key that may not sign is refused for encryption too.
  CK_OBJECT_HANDLE pub = CK_INVALID_HANDLE, priv = CK_INVALID_HANDLE;
  generatePair(CK_FALSE, &pub, &priv);
  EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_EncryptInit(session, &pkcs, priv));
}

}  // namespace
}  // namespace zorvel::test
