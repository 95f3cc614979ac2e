// The library's conventions that the backend does not share: OAEP and PSS hash codes,
// the five-field GCM record, key sizes in the units the callers use, and the capped
// RSA, DSA and DH ranges.
#include "standin_test_support.h"

#include <cstring>
#include <string>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

const Bytes kMessage = {'s', 't', 'a', 'n', 'd', '-', 'i', 'n', ' ', 'm', 'e', 's', 's', 'a', 'g', 'e'};

class Conventions : public LoggedInSession {
 protected:
  // A session RSA key pair of the given size.
  void generateRsaKeyPair(CK_ULONG bits) {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_ENCRYPT, &yes, 1}, {CKA_VERIFY, &yes, 1}, {CKA_WRAP, &yes, 1},
        {CKA_MODULUS_BITS, &bits, sizeof bits}, {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
    };
    CK_ATTRIBUTE privateTemplate[] = {{CKA_DECRYPT, &yes, 1}, {CKA_SIGN, &yes, 1}, {CKA_UNWRAP, &yes, 1}};
    ASSERT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 5, privateTemplate, 3,
                                            &publicKey, &privateKey));
  }

  CK_OBJECT_HANDLE generateAesKey(CK_ULONG bytes) {
    CK_MECHANISM mechanism = {CKM_AES_KEY_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_ENCRYPT, &yes, 1}, {CKA_DECRYPT, &yes, 1}, {CKA_EXTRACTABLE, &yes, 1},
                           {CKA_VALUE_LEN, &bytes, sizeof bytes}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &mechanism, tmpl, 4, &key));
    return key;
  }

  // Encrypts kMessage and decrypts it again with the mechanism, both calls two-step.
  void expectRoundTrip(CK_MECHANISM &mechanism, CK_OBJECT_HANDLE encryptKey, CK_OBJECT_HANDLE decryptKey) {
    Bytes plain = kMessage;
    ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, encryptKey));
    CK_ULONG length = 0;
    ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), nullptr, &length));
    Bytes cipher(length);
    ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));
    cipher.resize(length);
    ASSERT_CKR(CKR_OK, f->C_DecryptInit(session, &mechanism, decryptKey));
    ASSERT_CKR(CKR_OK, f->C_Decrypt(session, cipher.data(), cipher.size(), nullptr, &length));
    Bytes decrypted(length);
    ASSERT_CKR(CKR_OK, f->C_Decrypt(session, cipher.data(), cipher.size(), decrypted.data(), &length));
    decrypted.resize(length);
    EXPECT_EQ(kMessage, decrypted);
  }

  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

TEST_F(Conventions, OaepTakesTheHmacCodeOfTheHashAndSourceZero) {
  ASSERT_NO_FATAL_FAILURE(generateRsaKeyPair(1024));
  CK_RSA_PKCS_OAEP_PARAMS params = {CKM_SHA_1_HMAC, CKG_MGF1_SHA1, 0, nullptr, 0};
  const CK_RSA_PKCS_OAEP_PARAMS given = params;
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  expectRoundTrip(mechanism, publicKey, privateKey);
  EXPECT_EQ(0, std::memcmp(&given, &params, sizeof params)) << "the caller's parameters were changed";

  // Wrapping takes the same convention.
  const CK_OBJECT_HANDLE aesKey = generateAesKey(16);
  CK_ULONG length = 0;
  ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, publicKey, aesKey, nullptr, &length));
  Bytes wrapped(length);
  ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, publicKey, aesKey, wrapped.data(), &length));
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE aesType = CKK_AES;
  CK_ATTRIBUTE unwrapTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                   {CKA_KEY_TYPE, &aesType, sizeof aesType}};
  CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_OK, f->C_UnwrapKey(session, &mechanism, privateKey, wrapped.data(), length, unwrapTemplate, 2,
                                    &unwrapped));
}

TEST_F(Conventions, OaepInTheBackendsOwnCodesPassesThrough) {
  ASSERT_NO_FATAL_FAILURE(generateRsaKeyPair(1024));
  CK_RSA_PKCS_OAEP_PARAMS params = {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0};
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  expectRoundTrip(mechanism, publicKey, privateKey);
}

TEST_F(Conventions, PssTakesTheDigestOrTheHmacCodeOfTheHash) {
  ASSERT_NO_FATAL_FAILURE(generateRsaKeyPair(1024));
  for (CK_MECHANISM_TYPE hashAlg : {CKM_SHA256, CKM_SHA256_HMAC}) {
    SCOPED_TRACE(hashAlg);
    CK_RSA_PKCS_PSS_PARAMS params = {hashAlg, CKG_MGF1_SHA256, 32};
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS_PSS, &params, sizeof params};
    Bytes data = kMessage;
    ASSERT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, privateKey));
    CK_ULONG length = 0;
    ASSERT_CKR(CKR_OK, f->C_Sign(session, data.data(), data.size(), nullptr, &length));
    Bytes signature(length);
    ASSERT_CKR(CKR_OK, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
    ASSERT_CKR(CKR_OK, f->C_VerifyInit(session, &mechanism, publicKey));
    EXPECT_CKR(CKR_OK, f->C_Verify(session, data.data(), data.size(), signature.data(), length));
    EXPECT_EQ(hashAlg, params.hashAlg);
  }
}

TEST_F(Conventions, GcmTakesTheFiveFieldRecord) {
  const CK_OBJECT_HANDLE key = generateAesKey(32);
  CK_BYTE iv[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  CK_BYTE aad[5] = {'h', 'e', 'a', 'd', 'r'};
  CK_GCM_PARAMS params = {iv, sizeof iv, aad, sizeof aad, 128};
  static_assert(sizeof params == 40);
  const CK_GCM_PARAMS given = params;
  CK_MECHANISM mechanism = {CKM_AES_GCM, &params, sizeof params};
  expectRoundTrip(mechanism, key, key);
  EXPECT_EQ(0, std::memcmp(&given, &params, sizeof params)) << "the caller's parameters were changed";
}

TEST_F(Conventions, Des3GenerationAcceptsItsValueLength) {
  struct Case {
    const char *what;
    bool withValueLen;
    CK_ULONG valueLen;
    CK_RV expected;
  };
  const Case cases[] = {
      {"CKA_VALUE_LEN 24", true, 24, CKR_OK},
      {"no CKA_VALUE_LEN", false, 0, CKR_OK},
      {"CKA_VALUE_LEN 16", true, 16, CKR_ATTRIBUTE_VALUE_INVALID},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CK_MECHANISM mechanism = {CKM_DES3_KEY_GEN, nullptr, 0};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE des3Type = CKK_DES3;
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG valueLen = c.valueLen;
    char label[] = "des3 key";
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &des3Type, sizeof des3Type},
                           {CKA_ENCRYPT, &yes, 1}, {CKA_DECRYPT, &yes, 1}, {CKA_LABEL, label, sizeof label - 1},
                           {CKA_VALUE_LEN, &valueLen, sizeof valueLen}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(c.expected, f->C_GenerateKey(session, &mechanism, tmpl, c.withValueLen ? 6 : 5, &key));
    if (c.expected != CKR_OK) continue;
    // The rest of the template reached the token.
    char labelRead[sizeof label] = {};
    CK_ATTRIBUTE readBack = {CKA_LABEL, labelRead, sizeof labelRead};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, key, &readBack, 1));
    EXPECT_STREQ(label, labelRead);
    CK_BYTE iv[8] = {};
    CK_MECHANISM cbc = {CKM_DES3_CBC_PAD, iv, sizeof iv};
    expectRoundTrip(cbc, key, key);
  }
}

struct KeySizes {
  CK_MECHANISM_TYPE mechanism;
  CK_ULONG min;
  CK_ULONG max;
};

void expectKeySizes(CK_FUNCTION_LIST_PTR f, const std::vector<KeySizes> &expected) {
  for (const KeySizes &sizes : expected) {
    SCOPED_TRACE("mechanism " + std::to_string(sizes.mechanism));
    CK_MECHANISM_INFO info{};
    ASSERT_CKR(CKR_OK, f->C_GetMechanismInfo(0, sizes.mechanism, &info));
    EXPECT_EQ(sizes.min, info.ulMinKeySize);
    EXPECT_EQ(sizes.max, info.ulMaxKeySize);
  }
}

using MechanismInfo = InitializedLibrary;

TEST_F(MechanismInfo, KeySizesInTheCallersUnitsAndCapped) {
  expectKeySizes(f, {
                        {CKM_RSA_PKCS_KEY_PAIR_GEN, 1024, 4096},
                        {CKM_RSA_PKCS, 1024, 4096},
                        {CKM_RSA_PKCS_OAEP, 1024, 4096},
                        {CKM_SHA512_RSA_PKCS_PSS, 1024, 4096},
                        {CKM_DSA_KEY_PAIR_GEN, 1024, 1024},
                        {CKM_DSA_PARAMETER_GEN, 1024, 1024},
                        {CKM_DSA_SHA256, 1024, 1024},
                        {CKM_DH_PKCS_KEY_PAIR_GEN, 512, 2048},
                        {CKM_DH_PKCS_PARAMETER_GEN, 512, 2048},
                        {CKM_DH_PKCS_DERIVE, 512, 2048},
                        {CKM_DES3_KEY_GEN, 24, 24},
                        {CKM_DES3_CBC, 24, 24},
                        {CKM_AES_KEY_GEN, 16, 32},
                        {CKM_AES_GCM, 16, 32},
                        {CKM_ECDSA, 112, 521},
                    });
  CK_MECHANISM_INFO info{};
  EXPECT_CKR(CKR_SLOT_ID_INVALID, f->C_GetMechanismInfo(provisionedTokens(), CKM_RSA_PKCS, &info));
}

// Registered with ZORVEL_P11_RSA_BITS=256:8192 (below the backend's 512),
// ZORVEL_P11_DSA_BITS=512:1024 and ZORVEL_P11_DH_BITS=2048:1024 (not a range: ignored).
TEST_F(MechanismInfo, CapsOverriddenByTheEnvironment) {
  expectKeySizes(f, {
                        {CKM_RSA_PKCS_KEY_PAIR_GEN, 512, 8192},
                        {CKM_DSA_KEY_PAIR_GEN, 512, 1024},
                        {CKM_DH_PKCS_KEY_PAIR_GEN, 512, 2048},
                    });
}

}  // namespace
}  // namespace zorvel::test
