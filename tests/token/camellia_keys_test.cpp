// Camellia keys and the mechanisms the stand-in adds or refuses, over SoftHSM2, which
// has no Camellia: keys are created and generated as CKK_CAMELLIA, read back and found
// as such, and the mechanism list and records show what the stand-in offers.
#include "standin_test_support.h"

#include <algorithm>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

class CamelliaKeys : public LoggedInSession {
 protected:
  // A session secret key of the given type and value, made with C_CreateObject; its value
  // can be read back.
  CK_OBJECT_HANDLE createKey(CK_KEY_TYPE type, Bytes value, CK_RV expected = CKR_OK) {
    CK_OBJECT_CLASS secretKey = CKO_SECRET_KEY;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretKey, sizeof secretKey},
                           {CKA_KEY_TYPE, &type, sizeof type},
                           {CKA_SENSITIVE, &no_, 1},
                           {CKA_EXTRACTABLE, &yes_, 1},
                           {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(expected, f->C_CreateObject(session, tmpl, 5, &key));
    return key;
  }

  CK_KEY_TYPE keyType(CK_OBJECT_HANDLE key) {
    CK_KEY_TYPE type = CK_UNAVAILABLE_INFORMATION;
    CK_ATTRIBUTE attribute = {CKA_KEY_TYPE, &type, sizeof type};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, key, &attribute, 1));
    return type;
  }

  Bytes value(CK_OBJECT_HANDLE key) {
    CK_ATTRIBUTE attribute = {CKA_VALUE, nullptr, 0};
    if (f->C_GetAttributeValue(session, key, &attribute, 1) != CKR_OK) {
      ADD_FAILURE() << "the key's value cannot be read";
      return {};
    }
    Bytes bytes(attribute.ulValueLen);
    attribute.pValue = bytes.data();
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, key, &attribute, 1));
    return bytes;
  }

  std::vector<CK_OBJECT_HANDLE> findSecretKeys(CK_KEY_TYPE type) {
    CK_OBJECT_CLASS secretKey = CKO_SECRET_KEY;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretKey, sizeof secretKey}, {CKA_KEY_TYPE, &type, sizeof type}};
    EXPECT_CKR(CKR_OK, f->C_FindObjectsInit(session, tmpl, 2));
    std::vector<CK_OBJECT_HANDLE> found(16);
    CK_ULONG count = 0;
    EXPECT_CKR(CKR_OK, f->C_FindObjects(session, found.data(), found.size(), &count));
    EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
    found.resize(count);
    return found;
  }

  // CKM_CAMELLIA_KEY_GEN of a key whose value can be read back, with the given template
  // entries besides.
  CK_RV generate(std::vector<CK_ATTRIBUTE> entries, CK_OBJECT_HANDLE *key) {
    CK_MECHANISM mechanism = {CKM_CAMELLIA_KEY_GEN, nullptr, 0};
    entries.insert(entries.begin(), {{CKA_CLASS, &secretKey_, sizeof secretKey_}, {CKA_SENSITIVE, &no_, 1}, {CKA_EXTRACTABLE, &yes_, 1}});
    return f->C_GenerateKey(session, &mechanism, entries.data(), entries.size(), key);
  }

  CK_OBJECT_CLASS secretKey_ = CKO_SECRET_KEY;
  CK_BBOOL no_ = CK_FALSE;
  CK_BBOOL yes_ = CK_TRUE;
};

TEST_F(CamelliaKeys, CreatedKeyReadsAndIsFoundAsCamellia) {
  const Bytes value16(16, 0x5a);
  const CK_OBJECT_HANDLE camellia = createKey(CKK_CAMELLIA, value16);
  const CK_OBJECT_HANDLE aes = createKey(CKK_AES, value16);
  EXPECT_EQ(CKK_CAMELLIA, keyType(camellia));
  EXPECT_EQ(CKK_AES, keyType(aes));
  EXPECT_EQ(value16, value(camellia));
  EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{camellia}, findSecretKeys(CKK_CAMELLIA));
  EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{aes}, findSecretKeys(CKK_AES));
  // A Camellia key is 16, 24 or 32 bytes long.
  createKey(CKK_CAMELLIA, Bytes(20, 1), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(CamelliaKeys, GeneratedKeysHaveTheirLengthAndValuesOfTheirOwn) {
  CK_KEY_TYPE camellia = CKK_CAMELLIA;
  Bytes first;
  for (CK_ULONG length : {16UL, 24UL, 32UL}) {
    SCOPED_TRACE(length);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, generate({{CKA_KEY_TYPE, &camellia, sizeof camellia}, {CKA_VALUE_LEN, &length, sizeof length}},
                                &key));
    EXPECT_EQ(CKK_CAMELLIA, keyType(key));
    const Bytes bytes = value(key);
    EXPECT_EQ(length, bytes.size());
    EXPECT_NE(Bytes(length, 0), bytes);
    if (length == 16) first = bytes;
  }
  CK_OBJECT_HANDLE again = CK_INVALID_HANDLE;
  CK_ULONG length = 16;
  ASSERT_CKR(CKR_OK, generate({{CKA_VALUE_LEN, &length, sizeof length}}, &again));
  EXPECT_NE(first, value(again));
}

TEST_F(CamelliaKeys, GenerationTemplatesRefused) {
  CK_KEY_TYPE aes = CKK_AES;
  CK_ULONG badLength = 20;
  CK_ULONG length = 16;
  Bytes value(16);
  struct Case {
    const char *what;
    std::vector<CK_ATTRIBUTE> entries;
    CK_RV expected;
  };
  const Case cases[] = {
      {"no length", {}, CKR_TEMPLATE_INCOMPLETE},
      {"a length of 20", {{CKA_VALUE_LEN, &badLength, sizeof badLength}}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"an AES key type", {{CKA_KEY_TYPE, &aes, sizeof aes}, {CKA_VALUE_LEN, &length, sizeof length}},
       CKR_TEMPLATE_INCONSISTENT},
      {"a value", {{CKA_VALUE_LEN, &length, sizeof length}, {CKA_VALUE, value.data(), value.size()}},
       CKR_TEMPLATE_INCONSISTENT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(c.expected, generate(c.entries, &key));
  }
}

TEST_F(CamelliaKeys, MechanismsOfferedWithSizesInBytes) {
  CK_ULONG count = 0;
  ASSERT_CKR(CKR_OK, f->C_GetMechanismList(0, nullptr, &count));
  std::vector<CK_MECHANISM_TYPE> list(count);
  ASSERT_CKR(CKR_OK, f->C_GetMechanismList(0, list.data(), &count));
  const auto listed = [&](CK_MECHANISM_TYPE type) { return std::count(list.begin(), list.end(), type); };
  struct Offered {
    CK_MECHANISM_TYPE type;
    CK_FLAGS flags;
  };
  for (const Offered &offered : {Offered{CKM_CAMELLIA_KEY_GEN, CKF_GENERATE},
                                 Offered{CKM_CAMELLIA_ECB, CKF_ENCRYPT | CKF_DECRYPT},
                                 Offered{CKM_CAMELLIA_CBC, CKF_ENCRYPT | CKF_DECRYPT},
                                 Offered{CKM_CAMELLIA_MAC, CKF_SIGN | CKF_VERIFY},
                                 Offered{CKM_AES_MAC, CKF_SIGN | CKF_VERIFY},
                                 Offered{CKM_AES_GMAC, CKF_SIGN | CKF_VERIFY}}) {
    SCOPED_TRACE(offered.type);
    EXPECT_EQ(1, listed(offered.type));
    CK_MECHANISM_INFO info{};
    ASSERT_CKR(CKR_OK, f->C_GetMechanismInfo(0, offered.type, &info));
    EXPECT_EQ(16u, info.ulMinKeySize);
    EXPECT_EQ(32u, info.ulMaxKeySize);
    EXPECT_EQ(offered.flags, info.flags);
  }
  EXPECT_EQ(0, listed(CKM_CAMELLIA_CBC_PAD));
  // DES3 CBC still decrypts, but does not encrypt.
  CK_MECHANISM_INFO des3Cbc{};
  ASSERT_CKR(CKR_OK, f->C_GetMechanismInfo(0, CKM_DES3_CBC, &des3Cbc));
  EXPECT_EQ(0u, des3Cbc.flags & CKF_ENCRYPT);
  EXPECT_NE(0u, des3Cbc.flags & CKF_DECRYPT);
  // A list that has no room for the added mechanisms is too small.
  CK_ULONG tooFew = count - 1;
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_GetMechanismList(0, list.data(), &tooFew));
  EXPECT_EQ(count, tooFew);
}

}  // namespace
}  // namespace zorvel::test
