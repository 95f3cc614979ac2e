// The private-key template of a PKCS#3 DH key-pair generation as the library takes it: the
// domain values may be repeated there, and the private value may be as long as the prime.
#include "standin_test_support.h"

#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

const Bytes &kPrime = kOakleyGroup1Prime;
constexpr CK_ULONG kPrimeBits = 768;
const Bytes kBase = {0x02};

Bytes withLastBitFlipped(Bytes value) {
  value.back() ^= 1;
  return value;
}

// What the private template carries besides usage: the domain values, as the public
// template's or others, and the private value's size.
enum class Value { Absent, Public, Other };

struct Row {
  const char *what;
  Value privatePrime;
  Value privateBase;
  CK_ULONG valueBits;  // 0: none
  CK_RV expected;
  CK_ULONG storedValueBits;  // of the generated private key, when expected is CKR_OK
};

class DhKeyPairTemplate : public LoggedInSession {
 protected:
  // Generates a session key pair over kPrime and kBase; the private template repeats the
  // domain values as given and states valueBits unless it is 0.
  CK_RV generate(const Row &row, const Bytes *publicPrime = &kPrime) {
    CK_MECHANISM mechanism = {CKM_DH_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    Bytes prime = publicPrime != nullptr ? *publicPrime : Bytes();
    Bytes base = kBase;
    Bytes otherPrime = withLastBitFlipped(kPrime);
    Bytes otherBase = {0x05};
    CK_ULONG valueBits = row.valueBits;

    std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_DERIVE, &yes, 1}, {CKA_BASE, base.data(), base.size()}};
    if (publicPrime != nullptr) publicTemplate.push_back({CKA_PRIME, prime.data(), prime.size()});
    std::vector<CK_ATTRIBUTE> privateTemplate = {{CKA_DERIVE, &yes, 1}};
    if (row.privatePrime != Value::Absent) {
      Bytes &value = row.privatePrime == Value::Public ? prime : otherPrime;
      privateTemplate.push_back({CKA_PRIME, value.data(), value.size()});
    }
    if (row.privateBase != Value::Absent) {
      Bytes &value = row.privateBase == Value::Public ? base : otherBase;
      privateTemplate.push_back({CKA_BASE, value.data(), value.size()});
    }
    if (valueBits != 0) privateTemplate.push_back({CKA_VALUE_BITS, &valueBits, sizeof valueBits});
    return f->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                privateTemplate.data(), privateTemplate.size(), &publicKey, &privateKey);
  }

  Bytes readBytes(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &attribute, 1));
    Bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &attribute, 1));
    return value;
  }

  CK_ULONG readValueBits(CK_OBJECT_HANDLE object) {
    CK_ULONG bits = 0;
    CK_ATTRIBUTE attribute = {CKA_VALUE_BITS, &bits, sizeof bits};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &attribute, 1));
    return bits;
  }

  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

TEST_F(DhKeyPairTemplate, DomainValuesAndValueSizeOfThePrivateTemplate) {
  const Row rows[] = {
      {"prime and base as in the public template", Value::Public, Value::Public, 160, CKR_OK, 160},
      {"prime alone as in the public template", Value::Public, Value::Absent, 0, CKR_OK, 0},
      {"another prime", Value::Other, Value::Public, 160, CKR_TEMPLATE_INCONSISTENT, 0},
      {"another base", Value::Public, Value::Other, 160, CKR_TEMPLATE_INCONSISTENT, 0},
      {"value bits one below the prime's", Value::Absent, Value::Absent, kPrimeBits - 1, CKR_OK, kPrimeBits - 1},
      {"value bits equal to the prime's", Value::Public, Value::Public, kPrimeBits, CKR_OK, kPrimeBits - 1},
      {"value bits above the prime's", Value::Absent, Value::Absent, 4096, CKR_OK, kPrimeBits - 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    publicKey = privateKey = CK_INVALID_HANDLE;
    ASSERT_CKR(row.expected, generate(row));
    if (row.expected != CKR_OK) continue;
    EXPECT_EQ(kPrime, readBytes(privateKey, CKA_PRIME));
    EXPECT_EQ(kBase, readBytes(privateKey, CKA_BASE));
    if (row.storedValueBits != 0) {
      EXPECT_EQ(row.storedValueBits, readValueBits(privateKey));
    }
  }
}

TEST_F(DhKeyPairTemplate, PrivateDomainValuesNeedThePublicOnes) {
  EXPECT_CKR(CKR_TEMPLATE_INCONSISTENT,
             generate({"prime in the private template only", Value::Public, Value::Public, 0, 0, 0}, nullptr));
}

// The prime's size counts from its first non-zero bit.
TEST_F(DhKeyPairTemplate, ValueBitsFollowThePrimesSignificantBits) {
  Bytes padded = kPrime;
  padded.insert(padded.begin(), 2, 0x00);
  ASSERT_CKR(CKR_OK, generate({"prime with leading zeros", Value::Absent, Value::Absent, kPrimeBits, 0, 0}, &padded));
  EXPECT_EQ(kPrimeBits - 1, readValueBits(privateKey));
}

}  // namespace
}  // namespace zorvel::test
