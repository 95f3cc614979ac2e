// Wrapping and unwrapping an RSA private key with CKM_AES_CBC_PAD through the stand-in:
// the wrapped bytes are the key's PKCS#8 PrivateKeyInfo under AES-CBC with PKCS#7
// padding (checked in software with the AES key's value), the unwrapped key is the same
// key, and the refusals are a token's.
#include "standin_test_support.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

CK_BYTE kIv[16] = {'8', '6', '4', '2', '0', '9', '7', '5', '3', '1', '8', '6', '4', '2', '0', '9'};

// AES-CBC with PKCS#7 padding in software; empty when OpenSSL refuses.
Bytes softwareCbcPad(const Bytes &key, const Bytes &input, bool encrypt) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  const EVP_CIPHER *cipher = key.size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
  Bytes output(input.size() + 16);
  int length = 0;
  int finalLength = 0;
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), kIv, encrypt ? 1 : 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), output.data(), &length, input.data(), static_cast<int>(input.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), output.data() + length, &finalLength) != 1) {
    return {};
  }
  output.resize(length + finalLength);
  return output;
}

class AesCbcPadKeyWrapping : public LoggedInSession {
 protected:
  void SetUp() override {
    LoggedInSession::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_NO_FATAL_FAILURE(generateRsaPair(CK_TRUE, CK_FALSE, &rsaPublic, &rsaPrivate));
    aesKey = generateAesKey(CK_TRUE, CK_TRUE);
  }

  void generateRsaPair(CK_BBOOL extractable, CK_BBOOL sensitive, CK_OBJECT_HANDLE *pub, CK_OBJECT_HANDLE *priv) {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_BYTE exponent[] = {1, 0, 1};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_VERIFY, &yes, 1},
                                     {CKA_MODULUS_BITS, &bits, sizeof bits},
                                     {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_SIGN, &yes, 1}, {CKA_EXTRACTABLE, &extractable, 1}, {CKA_SENSITIVE, &sensitive, 1}};
    ASSERT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 3, pub, priv));
  }

  CK_OBJECT_HANDLE generateAesKey(CK_BBOOL mayWrap, CK_BBOOL mayUnwrap) {
    CK_MECHANISM mechanism = {CKM_AES_KEY_GEN, nullptr, 0};
    CK_ULONG bytes = 16;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE tmpl[] = {{CKA_WRAP, &mayWrap, 1},     {CKA_UNWRAP, &mayUnwrap, 1},
                           {CKA_ENCRYPT, &yes, 1},      {CKA_DECRYPT, &yes, 1},
                           {CKA_SENSITIVE, &no, 1},     {CKA_EXTRACTABLE, &yes, 1},
                           {CKA_VALUE_LEN, &bytes, sizeof bytes}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &mechanism, tmpl, 7, &key));
    return key;
  }

  Bytes attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE query = {type, nullptr, 0};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &query, 1));
    if (query.ulValueLen == CK_UNAVAILABLE_INFORMATION) return {};
    Bytes value(query.ulValueLen);
    query.pValue = value.data();
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &query, 1));
    return value;
  }

  CK_RV wrap(CK_OBJECT_HANDLE wrappingKey, CK_OBJECT_HANDLE key, Bytes *wrapped) {
    CK_ULONG length = 0;
    CK_RV rv = f->C_WrapKey(session, &mechanism, wrappingKey, key, nullptr, &length);
    if (rv != CKR_OK) return rv;
    wrapped->assign(length, 0);
    rv = f->C_WrapKey(session, &mechanism, wrappingKey, key, wrapped->data(), &length);
    wrapped->resize(length);
    return rv;
  }

  // Unwraps into a session private key that may sign.
  CK_RV unwrap(CK_OBJECT_HANDLE unwrappingKey, Bytes wrapped, CK_OBJECT_HANDLE *key) {
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &privateClass, sizeof privateClass},
                           {CKA_KEY_TYPE, &rsa, sizeof rsa},
                           {CKA_SIGN, &yes, 1},
                           {CKA_PRIVATE, &yes, 1}};
    return f->C_UnwrapKey(session, &mechanism, unwrappingKey, wrapped.data(), wrapped.size(), tmpl, 4, key);
  }

  // The unwrapped key is the public key's: same modulus, and it signs what that verifies.
  void expectPairedWith(CK_OBJECT_HANDLE unwrapped, CK_OBJECT_HANDLE publicKey) {
    EXPECT_EQ(attribute(publicKey, CKA_MODULUS), attribute(unwrapped, CKA_MODULUS));
    CK_MECHANISM sha256Pkcs = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    CK_BYTE data[] = "signed by the unwrapped key";
    CK_BYTE signature[128];
    CK_ULONG signatureLen = sizeof signature;
    ASSERT_CKR(CKR_OK, f->C_SignInit(session, &sha256Pkcs, unwrapped));
    ASSERT_CKR(CKR_OK, f->C_Sign(session, data, sizeof data, signature, &signatureLen));
    ASSERT_CKR(CKR_OK, f->C_VerifyInit(session, &sha256Pkcs, publicKey));
    EXPECT_CKR(CKR_OK, f->C_Verify(session, data, sizeof data, signature, signatureLen));
  }

  CK_MECHANISM mechanism = {CKM_AES_CBC_PAD, kIv, sizeof kIv};
  CK_OBJECT_HANDLE rsaPublic = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE rsaPrivate = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE aesKey = CK_INVALID_HANDLE;
};

TEST_F(AesCbcPadKeyWrapping, WrappedKeyIsPkcs8UnderCbcPadAndUnwrapsToTheSameKey) {
  CK_ULONG queried = 0;
  ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, aesKey, rsaPrivate, nullptr, &queried));
  Bytes wrapped;
  ASSERT_CKR(CKR_OK, wrap(aesKey, rsaPrivate, &wrapped));
  EXPECT_EQ(queried, wrapped.size());

  // In software: a PrivateKeyInfo of the key's own modulus.
  const Bytes info = softwareCbcPad(attribute(aesKey, CKA_VALUE), wrapped, /*encrypt=*/false);
  ASSERT_FALSE(info.empty());
  const unsigned char *in = info.data();
  std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> p8(
      d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(info.size())), PKCS8_PRIV_KEY_INFO_free);
  ASSERT_NE(nullptr, p8);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_PKCS82PKEY(p8.get()), EVP_PKEY_free);
  ASSERT_NE(nullptr, key);
  BIGNUM *n = nullptr;
  ASSERT_EQ(1, EVP_PKEY_get_bn_param(key.get(), "n", &n));
  Bytes modulus(BN_num_bytes(n));
  BN_bn2bin(n, modulus.data());
  BN_free(n);
  EXPECT_EQ(attribute(rsaPrivate, CKA_MODULUS), modulus);

  CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, unwrap(aesKey, wrapped, &unwrapped));
  expectPairedWith(unwrapped, rsaPublic);
}

// Its components hidden, a sensitive key still leaves as its PrivateKeyInfo.
TEST_F(AesCbcPadKeyWrapping, SensitiveKeyIsWrappedToo) {
  CK_OBJECT_HANDLE sensitivePublic = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE sensitivePrivate = CK_INVALID_HANDLE;
  ASSERT_NO_FATAL_FAILURE(generateRsaPair(CK_TRUE, CK_TRUE, &sensitivePublic, &sensitivePrivate));
  Bytes wrapped;
  ASSERT_CKR(CKR_OK, wrap(aesKey, sensitivePrivate, &wrapped));
  CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, unwrap(aesKey, wrapped, &unwrapped));
  expectPairedWith(unwrapped, sensitivePublic);
}

TEST_F(AesCbcPadKeyWrapping, TooSmallBufferAnswersTheLength) {
  CK_ULONG length = 0;
  ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, aesKey, rsaPrivate, nullptr, &length));
  Bytes wrapped(length - 1);
  CK_ULONG room = wrapped.size();
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_WrapKey(session, &mechanism, aesKey, rsaPrivate, wrapped.data(), &room));
  EXPECT_EQ(length, room);
}

TEST_F(AesCbcPadKeyWrapping, CallersActiveOperationIsLeftAlone) {
  CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &ecb, aesKey));
  Bytes wrapped;
  ASSERT_CKR(CKR_OK, wrap(aesKey, rsaPrivate, &wrapped));
  CK_BYTE block[16] = {};
  CK_BYTE encrypted[16];
  CK_ULONG encryptedLen = sizeof encrypted;
  EXPECT_CKR(CKR_OK, f->C_Encrypt(session, block, sizeof block, encrypted, &encryptedLen));
}

TEST_F(AesCbcPadKeyWrapping, WrapRefusals) {
  CK_OBJECT_HANDLE unextractablePublic = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE unextractable = CK_INVALID_HANDLE;
  ASSERT_NO_FATAL_FAILURE(generateRsaPair(CK_FALSE, CK_FALSE, &unextractablePublic, &unextractable));
  CK_MECHANISM noIv = {CKM_AES_CBC_PAD, nullptr, 0};
  struct Case {
    const char *what;
    CK_MECHANISM *mechanism;
    CK_OBJECT_HANDLE wrappingKey;
    CK_OBJECT_HANDLE key;
    CK_RV expected;
  };
  const Case cases[] = {
      {"wrapping key without CKA_WRAP", &mechanism, generateAesKey(CK_FALSE, CK_TRUE), rsaPrivate,
       CKR_KEY_FUNCTION_NOT_PERMITTED},
      {"wrapping key not an AES key", &mechanism, rsaPublic, rsaPrivate, CKR_WRAPPING_KEY_TYPE_INCONSISTENT},
      {"key not extractable", &mechanism, aesKey, unextractable, CKR_KEY_UNEXTRACTABLE},
      {"no IV", &noIv, aesKey, rsaPrivate, CKR_MECHANISM_PARAM_INVALID},
      // Not an RSA private key: the module's own answer.
      {"a secret key", &mechanism, aesKey, generateAesKey(CK_TRUE, CK_TRUE), CKR_MECHANISM_INVALID},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CK_ULONG length = 0;
    EXPECT_CKR(c.expected, f->C_WrapKey(session, c.mechanism, c.wrappingKey, c.key, nullptr, &length));
  }
}

TEST_F(AesCbcPadKeyWrapping, UnwrapRefusals) {
  Bytes wrapped;
  ASSERT_CKR(CKR_OK, wrap(aesKey, rsaPrivate, &wrapped));
  Bytes notAKey = softwareCbcPad(attribute(aesKey, CKA_VALUE), Bytes(40, 0x30), /*encrypt=*/true);
  // A bit flipped in the last byte of the last-but-one block flips the same bit of the
  // padding's last byte, which then never matches the bytes before it. (A flip in the
  // last block would make it random, and valid padding once in 256 times.)
  Bytes badPadding = wrapped;
  badPadding[badPadding.size() - 17] ^= 0x01;
  struct Case {
    const char *what;
    CK_OBJECT_HANDLE unwrappingKey;
    Bytes wrapped;
    CK_RV expected;
  };
  const Case cases[] = {
      {"unwrapping key without CKA_UNWRAP", generateAesKey(CK_TRUE, CK_FALSE), wrapped,
       CKR_KEY_FUNCTION_NOT_PERMITTED},
      {"not a whole number of blocks", aesKey, Bytes(wrapped.begin(), wrapped.end() - 1), CKR_WRAPPED_KEY_LEN_RANGE},
      {"no PrivateKeyInfo inside", aesKey, notAKey, CKR_WRAPPED_KEY_INVALID},
      {"bad padding", aesKey, badPadding, CKR_WRAPPED_KEY_INVALID},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(c.expected, unwrap(c.unwrappingKey, c.wrapped, &key));
    EXPECT_EQ(CK_INVALID_HANDLE, key);
  }
}

}  // namespace
}  // namespace zorvel::test
