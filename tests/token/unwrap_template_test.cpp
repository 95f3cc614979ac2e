// C_UnwrapKey with a secret-key template that states CKA_VALUE_LEN, which the backend
// refuses: the stand-in leaves it out and checks the unwrapped key's length against it,
// for the backend's own unwrapping mechanisms and for those it carries out itself.
#include "standin_test_support.h"

#include <cstring>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

// One way of wrapping a secret key: the mechanism and whether the wrapping key is an
// AES key or an RSA pair.
struct Wrapping {
  const char *name;
  CK_MECHANISM_TYPE type;
  bool rsa;
  CK_RSA_PKCS_OAEP_PARAMS oaep;  // for CKM_RSA_PKCS_OAEP, hashAlg as an HMAC code
};

const Wrapping kWrappings[] = {
    {"AES key wrap (the backend's)", CKM_AES_KEY_WRAP, false, {}},
    {"RSA PKCS#1 v1.5 (the backend's)", CKM_RSA_PKCS, true, {}},
    {"RSA OAEP SHA-1 (the backend's)", CKM_RSA_PKCS_OAEP, true, {CKM_SHA_1_HMAC, CKG_MGF1_SHA1, 0, nullptr, 0}},
    {"RSA OAEP SHA-256 (the stand-in's)", CKM_RSA_PKCS_OAEP, true,
     {CKM_SHA256_HMAC, CKG_MGF1_SHA256, 0, nullptr, 0}},
};

class UnwrapTemplate : public LoggedInSession {
 protected:
  void SetUp() override {
    LoggedInSession::SetUp();
    if (HasFatalFailure()) return;
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_BYTE exponent[] = {1, 0, 1};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_WRAP, &yes, 1},
                                     {CKA_MODULUS_BITS, &bits, sizeof bits},
                                     {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_UNWRAP, &yes, 1}, {CKA_DECRYPT, &yes, 1}};
    ASSERT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 2, &rsaPublic,
                                            &rsaPrivate));
    aesWrappingKey = generateSecretKey(CKM_AES_KEY_GEN, 32);
  }

  // An extractable session key; length 0 for a key type of fixed length.
  CK_OBJECT_HANDLE generateSecretKey(CK_MECHANISM_TYPE type, CK_ULONG length) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_WRAP, &yes, 1},
                           {CKA_UNWRAP, &yes, 1},
                           {CKA_EXTRACTABLE, &yes, 1},
                           {CKA_VALUE_LEN, &length, sizeof length}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &mechanism, tmpl, length == 0 ? 3 : 4, &key));
    return key;
  }

  Bytes wrap(Wrapping &wrapping, CK_OBJECT_HANDLE key) {
    CK_MECHANISM mechanism = mechanismOf(wrapping);
    const CK_OBJECT_HANDLE wrappingKey = wrapping.rsa ? rsaPublic : aesWrappingKey;
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, wrappingKey, key, nullptr, &length));
    Bytes wrapped(length);
    EXPECT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, wrappingKey, key, wrapped.data(), &length));
    wrapped.resize(length);
    return wrapped;
  }

  // Unwraps with a template of the class, the key type, a label of its own, the given
  // CKA_VALUE_LEN entry and CKA_SENSITIVE.
  CK_RV unwrap(Wrapping &wrapping, Bytes wrapped, CK_KEY_TYPE keyType, CK_ATTRIBUTE valueLen, CK_OBJECT_HANDLE *key,
               CK_BBOOL sensitive = CK_FALSE) {
    CK_MECHANISM mechanism = mechanismOf(wrapping);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                           {CKA_KEY_TYPE, &keyType, sizeof keyType},
                           {CKA_LABEL, label, sizeof label - 1},
                           valueLen,
                           {CKA_SENSITIVE, &sensitive, 1},
                           {CKA_EXTRACTABLE, &yes, 1}};
    return f->C_UnwrapKey(session, &mechanism, wrapping.rsa ? rsaPrivate : aesWrappingKey, wrapped.data(),
                          wrapped.size(), tmpl, 6, key);
  }

  static CK_MECHANISM mechanismOf(Wrapping &wrapping) {
    if (wrapping.type != CKM_RSA_PKCS_OAEP) return {wrapping.type, nullptr, 0};
    return {wrapping.type, &wrapping.oaep, sizeof wrapping.oaep};
  }

  // The objects that carry the unwrap template's label.
  CK_ULONG labelledObjects() {
    CK_ATTRIBUTE search = {CKA_LABEL, label, sizeof label - 1};
    CK_OBJECT_HANDLE found[8];
    CK_ULONG count = 0;
    EXPECT_CKR(CKR_OK, f->C_FindObjectsInit(session, &search, 1));
    EXPECT_CKR(CKR_OK, f->C_FindObjects(session, found, 8, &count));
    EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
    return count;
  }

  char label[16] = "unwrapped key";
  CK_OBJECT_HANDLE rsaPublic = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE rsaPrivate = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE aesWrappingKey = CK_INVALID_HANDLE;
};

TEST_F(UnwrapTemplate, StatedLengthIsCheckedForEveryUnwrappingMechanism) {
  for (Wrapping wrapping : kWrappings) {
    SCOPED_TRACE(wrapping.name);
    const Bytes wrapped = wrap(wrapping, generateSecretKey(CKM_AES_KEY_GEN, 16));

    CK_ULONG length = 16;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, unwrap(wrapping, wrapped, CKK_AES, {CKA_VALUE_LEN, &length, sizeof length}, &key));
    EXPECT_EQ(1UL, labelledObjects());
    EXPECT_CKR(CKR_OK, f->C_DestroyObject(session, key));

    // Another length: no key is left behind.
    length = 32;
    key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_TEMPLATE_INCONSISTENT,
               unwrap(wrapping, wrapped, CKK_AES, {CKA_VALUE_LEN, &length, sizeof length}, &key));
    EXPECT_EQ(CK_INVALID_HANDLE, key);
    EXPECT_EQ(0UL, labelledObjects());
  }
}

// A sensitive key's value is hidden: its length is learnt through the module's wrapping.
TEST_F(UnwrapTemplate, SensitiveKeyIsMeasuredToo) {
  Wrapping wrapping = kWrappings[1];
  const Bytes wrapped = wrap(wrapping, generateSecretKey(CKM_AES_KEY_GEN, 24));
  CK_ULONG length = 24;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, unwrap(wrapping, wrapped, CKK_AES, {CKA_VALUE_LEN, &length, sizeof length}, &key, CK_TRUE));
  EXPECT_CKR(CKR_OK, f->C_DestroyObject(session, key));
  length = 16;
  EXPECT_CKR(CKR_TEMPLATE_INCONSISTENT,
             unwrap(wrapping, wrapped, CKK_AES, {CKA_VALUE_LEN, &length, sizeof length}, &key, CK_TRUE));
  EXPECT_EQ(0UL, labelledObjects());
}

// DES3 keys carry no CKA_VALUE_LEN in the backend: their fixed length is the one checked.
TEST_F(UnwrapTemplate, Des3KeyOfItsFixedLength) {
  Wrapping wrapping = kWrappings[0];
  const Bytes wrapped = wrap(wrapping, generateSecretKey(CKM_DES3_KEY_GEN, 0));
  CK_ULONG length = 24;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_OK, unwrap(wrapping, wrapped, CKK_DES3, {CKA_VALUE_LEN, &length, sizeof length}, &key));
  length = 16;
  EXPECT_CKR(CKR_TEMPLATE_INCONSISTENT,
             unwrap(wrapping, wrapped, CKK_DES3, {CKA_VALUE_LEN, &length, sizeof length}, &key));
}

TEST_F(UnwrapTemplate, MalformedStatedLengthIsRefusedBeforeUnwrapping) {
  Wrapping wrapping = kWrappings[0];
  const Bytes wrapped = wrap(wrapping, generateSecretKey(CKM_AES_KEY_GEN, 16));
  unsigned int shortLength = 16;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_ATTRIBUTE_VALUE_INVALID,
             unwrap(wrapping, wrapped, CKK_AES, {CKA_VALUE_LEN, &shortLength, sizeof shortLength}, &key));
  EXPECT_CKR(CKR_ATTRIBUTE_VALUE_INVALID, unwrap(wrapping, wrapped, CKK_AES, {CKA_VALUE_LEN, nullptr, 8}, &key));
  EXPECT_EQ(0UL, labelledObjects());
}

}  // namespace
}  // namespace zorvel::test
