#include "template_generator.h"

#include "attribute_catalogue.h"
#include "attribute_values.h"
#include "mechanism_catalogue.h"

#include <algorithm>
#include <cstring>

namespace zorvel::robustness {
namespace {

using Attributes = std::vector<AttributeSpec>;

// ---- Legitimate pieces ----------------------------------------------------------------

CK_ULONG secretKeyLength(CK_KEY_TYPE keyType, RandomSource &random) {
  switch (keyType) {
    case CKK_DES: return 8;
    case CKK_DES2: return 16;
    case CKK_DES3: return 24;
    case CKK_GENERIC_SECRET: return random.pick({16, 20, 32, 64});
    default: return random.pick({16, 24, 32});  // AES, Camellia
  }
}

Bytes date(RandomSource &random) {
  const char *dates[] = {"20240131", "19991231", "20380119"};
  const char *chosen = random.pick(dates);
  return Bytes(chosen, chosen + 8);
}

// A list of mechanisms a key may be used with.
Bytes mechanismList(const std::vector<CK_MECHANISM_TYPE> &values) {
  Bytes bytes(values.size() * sizeof(CK_MECHANISM_TYPE));
  if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

// Mechanisms of the catalogue; CKM_RSA_PKCS_KEY_PAIR_GEN, whose value is 0, often.
Bytes legitimateMechanismList(RandomSource &random) {
  std::vector<CK_MECHANISM_TYPE> values;
  const std::size_t count = 1 + random.below(4);
  const std::vector<MechanismEntry> &catalogue = mechanismCatalogue();
  while (values.size() < count) {
    const MechanismEntry &entry = random.percent(25) ? *findMechanism(CKM_RSA_PKCS_KEY_PAIR_GEN) : random.pick(catalogue);
    if (entry.known) values.push_back(entry.type);
  }
  return mechanismList(values);
}

// What a template inside CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE or CKA_DERIVE_TEMPLATE holds.
Attributes legitimateNested(RandomSource &random) {
  Attributes nested;
  if (random.percent(70)) nested.push_back(ulongAttribute(CKA_CLASS, CKO_SECRET_KEY));
  if (random.percent(60)) nested.push_back(ulongAttribute(CKA_KEY_TYPE, random.pick({CKK_AES, CKK_GENERIC_SECRET})));
  if (random.percent(40)) nested.push_back(boolAttribute(CKA_ENCRYPT, random.percent(50)));
  if (random.percent(30)) nested.push_back(boolAttribute(CKA_EXTRACTABLE, random.percent(50)));
  if (random.percent(20)) nested.push_back(ulongAttribute(CKA_VALUE_LEN, 16));
  return nested;
}

void addCommon(Attributes &t, RandomSource &random) {
  if (random.percent(40)) t.push_back(bytesAttribute(CKA_LABEL, random.bytes(random.pick({0, 5, 32}))));
  if (random.percent(30)) t.push_back(bytesAttribute(CKA_ID, random.bytes(random.pick({1, 8, 20}))));
  if (random.percent(20)) t.push_back(boolAttribute(CKA_TOKEN, false));
  if (random.percent(20)) t.push_back(boolAttribute(CKA_PRIVATE, random.percent(70)));
  if (random.percent(15)) t.push_back(boolAttribute(CKA_MODIFIABLE, random.percent(70)));
  if (random.percent(10)) t.push_back(boolAttribute(CKA_COPYABLE, random.percent(70)));
  if (random.percent(10)) t.push_back(boolAttribute(CKA_DESTROYABLE, true));
}

void addKeyCommon(Attributes &t, CK_OBJECT_CLASS objectClass, RandomSource &random) {
  addCommon(t, random);
  if (random.percent(15)) t.push_back(bytesAttribute(CKA_START_DATE, date(random)));
  if (random.percent(10)) t.push_back(bytesAttribute(CKA_END_DATE, date(random)));
  if (random.percent(15)) t.push_back(bytesAttribute(CKA_ALLOWED_MECHANISMS, legitimateMechanismList(random)));
  if (objectClass == CKO_PUBLIC_KEY) return;
  if (random.percent(40)) t.push_back(boolAttribute(CKA_EXTRACTABLE, random.percent(70)));
  if (random.percent(30)) t.push_back(boolAttribute(CKA_SENSITIVE, random.percent(40)));
  if (random.percent(10)) t.push_back(boolAttribute(CKA_WRAP_WITH_TRUSTED, false));
  if (random.percent(15)) t.push_back(nestedAttribute(CKA_UNWRAP_TEMPLATE, legitimateNested(random)));
  if (random.percent(10)) t.push_back(nestedAttribute(CKA_DERIVE_TEMPLATE, legitimateNested(random)));
}

// The uses a key of the class may state, each with some chance, mostly permitted.
void addUses(Attributes &t, CK_OBJECT_CLASS objectClass, RandomSource &random) {
  static const CK_ATTRIBUTE_TYPE kPublicUses[] = {CKA_ENCRYPT, CKA_VERIFY, CKA_WRAP, CKA_DERIVE};
  static const CK_ATTRIBUTE_TYPE kPrivateUses[] = {CKA_DECRYPT, CKA_SIGN, CKA_UNWRAP, CKA_DERIVE};
  static const CK_ATTRIBUTE_TYPE kSecretUses[] = {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY,
                                                  CKA_WRAP,    CKA_UNWRAP,  CKA_DERIVE};
  const CK_ATTRIBUTE_TYPE *uses = objectClass == CKO_PUBLIC_KEY    ? kPublicUses
                                  : objectClass == CKO_PRIVATE_KEY ? kPrivateUses
                                                                   : kSecretUses;
  const std::size_t count = objectClass == CKO_SECRET_KEY ? 7 : 4;
  for (std::size_t i = 0; i < count; ++i) {
    if (random.percent(50)) t.push_back(boolAttribute(uses[i], random.percent(80)));
  }
  if (objectClass == CKO_SECRET_KEY && random.percent(10)) {
    t.push_back(nestedAttribute(CKA_WRAP_TEMPLATE, legitimateNested(random)));
  }
}

void addClassAndType(Attributes &t, CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType, RandomSource &random,
                     unsigned chance) {
  if (random.percent(chance)) t.push_back(ulongAttribute(CKA_CLASS, objectClass));
  if (random.percent(chance)) t.push_back(ulongAttribute(CKA_KEY_TYPE, keyType));
}

Attributes dataObject(RandomSource &random) {
  Attributes t = {ulongAttribute(CKA_CLASS, CKO_DATA)};
  addCommon(t, random);
  if (random.percent(60)) t.push_back(bytesAttribute(CKA_APPLICATION, random.bytes(random.pick({0, 7}))));
  if (random.percent(70)) t.push_back(bytesAttribute(CKA_VALUE, random.bytes(random.pick({0, 1, 16, 300}))));
  return t;
}

// The values of a key of the set, copied into a new object of the same class.
Attributes copiedKeyValues(KeyIndex key, RandomSource &random) {
  const KeyEntry &entry = keyEntry(key);
  const bool isPrivate = entry.objectClass == CKO_PRIVATE_KEY;
  switch (entry.keyType) {
    case CKK_RSA: {
      Attributes t = {keyValueAttribute(CKA_MODULUS, key, CKA_MODULUS, random.percent(30) ? 1 : 0),
                      keyValueAttribute(CKA_PUBLIC_EXPONENT, key, CKA_PUBLIC_EXPONENT)};
      if (isPrivate) {
        for (CK_ATTRIBUTE_TYPE part : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1,
                                       CKA_EXPONENT_2, CKA_COEFFICIENT}) {
          t.push_back(keyValueAttribute(part, key, part));
        }
      }
      return t;
    }
    case CKK_DSA:
      return {bytesAttribute(CKA_PRIME, dsaPrime()), bytesAttribute(CKA_SUBPRIME, dsaSubprime()),
              bytesAttribute(CKA_BASE, dsaBase()), keyValueAttribute(CKA_VALUE, key, CKA_VALUE)};
    case CKK_DH:
      return {bytesAttribute(CKA_PRIME, dhPrime()), bytesAttribute(CKA_BASE, dhBase()),
              keyValueAttribute(CKA_VALUE, key, CKA_VALUE)};
    default:  // EC and Edwards curves
      return {bytesAttribute(CKA_EC_PARAMS, *entry.ecParams),
              keyValueAttribute(isPrivate ? CKA_VALUE : CKA_EC_POINT, key, isPrivate ? CKA_VALUE : CKA_EC_POINT)};
  }
}

Attributes createdObject(const TemplatePurpose &purpose, RandomSource &random) {
  if (purpose.objectClass == CKO_DATA) return dataObject(random);
  Attributes t = {ulongAttribute(CKA_CLASS, purpose.objectClass), ulongAttribute(CKA_KEY_TYPE, purpose.keyType)};
  if (purpose.objectClass == CKO_SECRET_KEY) {
    t.push_back(bytesAttribute(CKA_VALUE, random.bytes(secretKeyLength(purpose.keyType, random))));
  } else {
    const Attributes values = copiedKeyValues(purpose.object, random);
    t.insert(t.end(), values.begin(), values.end());
  }
  addUses(t, purpose.objectClass, random);
  addKeyCommon(t, purpose.objectClass, random);
  return t;
}

Attributes generatedKey(const TemplatePurpose &purpose, RandomSource &random) {
  Attributes t;
  switch (purpose.mechanism) {
    case CKM_DSA_PARAMETER_GEN: t.push_back(ulongAttribute(CKA_PRIME_BITS, 1024)); return t;
    case CKM_DH_PKCS_PARAMETER_GEN: t.push_back(ulongAttribute(CKA_PRIME_BITS, 512)); return t;
    default: break;
  }
  addClassAndType(t, CKO_SECRET_KEY, purpose.keyType, random, 40);
  switch (purpose.keyType) {
    case CKK_AES:
    case CKK_CAMELLIA:
    case CKK_GENERIC_SECRET:
      t.push_back(ulongAttribute(CKA_VALUE_LEN, secretKeyLength(purpose.keyType, random)));
      break;
    default: break;
  }
  addUses(t, CKO_SECRET_KEY, random);
  addKeyCommon(t, CKO_SECRET_KEY, random);
  return t;
}

// One half of a key pair generation's templates.
Attributes generatedPairHalf(const TemplatePurpose &purpose, RandomSource &random) {
  const bool isPublic = purpose.objectClass == CKO_PUBLIC_KEY;
  Attributes t;
  addClassAndType(t, purpose.objectClass, purpose.keyType, random, 20);
  if (isPublic) {
    switch (purpose.keyType) {
      case CKK_RSA: {
        t.push_back(ulongAttribute(CKA_MODULUS_BITS, random.percent(3) ? 2048 : 1024));
        Bytes exponent = random.percent(70) ? Bytes{1, 0, 1} : Bytes{3};
        if (random.percent(20)) exponent.insert(exponent.begin(), 0);
        if (random.percent(80)) t.push_back(bytesAttribute(CKA_PUBLIC_EXPONENT, exponent));
        break;
      }
      case CKK_DSA:
        t.push_back(bytesAttribute(CKA_PRIME, dsaPrime()));
        t.push_back(bytesAttribute(CKA_SUBPRIME, dsaSubprime()));
        t.push_back(bytesAttribute(CKA_BASE, dsaBase()));
        break;
      case CKK_DH:
        t.push_back(bytesAttribute(CKA_PRIME, dhPrime()));
        t.push_back(bytesAttribute(CKA_BASE, dhBase()));
        break;
      case CKK_EC:
        t.push_back(bytesAttribute(CKA_EC_PARAMS, random.pick({curveP256(), curveP384(), curveP521(), curveFrp256()})));
        break;
      default:  // Edwards curves: the identifier, or the curve's name as PKCS#11 3.0 writes it
        t.push_back(bytesAttribute(CKA_EC_PARAMS, random.percent(50) ? curveEd25519()
                                                                    : Bytes{0x13, 0x0C, 'e', 'd', 'w', 'a', 'r', 'd',
                                                                            's', '2', '5', '5', '1', '9'}));
        break;
    }
  } else if (purpose.keyType == CKK_DH && random.percent(30)) {
    t.push_back(ulongAttribute(CKA_VALUE_BITS, random.pick({160, 256})));
  }
  addUses(t, purpose.objectClass, random);
  addKeyCommon(t, purpose.objectClass, random);
  return t;
}

// The key C_UnwrapKey or C_DeriveKey makes; purpose.object is the key wrapped.
Attributes unwrappedOrDerivedKey(const TemplatePurpose &purpose, RandomSource &random) {
  Attributes t = {ulongAttribute(CKA_CLASS, purpose.objectClass), ulongAttribute(CKA_KEY_TYPE, purpose.keyType)};
  const bool des = purpose.keyType == CKK_DES || purpose.keyType == CKK_DES2 || purpose.keyType == CKK_DES3;
  if (purpose.objectClass == CKO_SECRET_KEY && !des) {
    if (purpose.call == Call::DeriveKey) {
      t.push_back(ulongAttribute(CKA_VALUE_LEN, random.pick({16, 32})));
    } else if (random.percent(30)) {
      t.push_back(ulongAttribute(CKA_VALUE_LEN, keyEntry(purpose.object).bytes));
    }
  }
  addUses(t, purpose.objectClass, random);
  addKeyCommon(t, purpose.objectClass, random);
  return t;
}

Attributes changedAttributes(const TemplatePurpose &purpose, RandomSource &random) {
  Attributes t;
  if (random.percent(50)) t.push_back(bytesAttribute(CKA_LABEL, random.bytes(random.pick({0, 9}))));
  if (random.percent(30)) t.push_back(bytesAttribute(CKA_ID, random.bytes(4)));
  if (purpose.call == Call::CopyObject) {
    if (random.percent(20)) t.push_back(boolAttribute(CKA_MODIFIABLE, random.percent(50)));
    if (random.percent(20)) t.push_back(boolAttribute(CKA_TOKEN, false));
    return t;
  }
  if (purpose.objectClass == CKO_DATA) {
    if (random.percent(50)) t.push_back(bytesAttribute(CKA_VALUE, random.bytes(random.pick({0, 12}))));
    if (random.percent(30)) t.push_back(bytesAttribute(CKA_APPLICATION, random.bytes(3)));
    return t;
  }
  addUses(t, purpose.objectClass, random);
  if (random.percent(15)) t.push_back(bytesAttribute(CKA_START_DATE, date(random)));
  return t;
}

Attributes searchTemplate(RandomSource &random) {
  Attributes t;
  if (random.percent(50)) t.push_back(ulongAttribute(CKA_CLASS, random.pick({CKO_DATA, CKO_PUBLIC_KEY,
                                                                             CKO_PRIVATE_KEY, CKO_SECRET_KEY})));
  if (random.percent(40)) t.push_back(ulongAttribute(CKA_KEY_TYPE, random.pick({CKK_RSA, CKK_EC, CKK_AES,
                                                                                CKK_CAMELLIA, CKK_DH})));
  if (random.percent(20)) t.push_back(bytesAttribute(CKA_LABEL, random.bytes(3)));
  if (random.percent(20)) t.push_back(boolAttribute(CKA_TOKEN, false));
  if (random.percent(20)) t.push_back(bytesAttribute(CKA_EC_PARAMS, random.pick({curveP256(), curveFrp256()})));
  if (random.percent(15)) t.push_back(ulongAttribute(CKA_VALUE_LEN, 16));
  if (random.percent(15)) t.push_back(bytesAttribute(CKA_ALLOWED_MECHANISMS, legitimateMechanismList(random)));
  if (random.percent(10)) t.push_back(nestedAttribute(CKA_WRAP_TEMPLATE, legitimateNested(random)));
  return t;
}

// A length query of each attribute asked for.
Attributes readRequest(RandomSource &random) {
  Attributes t;
  const std::size_t count = 1 + random.below(5);
  while (t.size() < count) {
    const AttributeEntry &entry = random.pick(attributeCatalogue());
    if (entry.kind != ValueKind::Unknown) t.push_back(nullAttribute(entry.type, 0));
  }
  return t;
}

// ---- Arbitrary values -------------------------------------------------------------------

constexpr CK_ULONG kClasses[] = {CKO_DATA, CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY, CKO_SECRET_KEY,
                                 CKO_HW_FEATURE, CKO_DOMAIN_PARAMETERS, CKO_MECHANISM, CKO_OTP_KEY, 0x80000000, 99};
constexpr CK_ULONG kKeyTypes[] = {CKK_RSA, CKK_DSA, CKK_DH, CKK_EC, CKK_GENERIC_SECRET, CKK_DES, CKK_DES2, CKK_DES3,
                                  CKK_AES, CKK_CAMELLIA, kKeyTypeEdwards, CKK_MD5_HMAC, CKK_SHA256_HMAC,
                                  0x80000001, 99};
constexpr CK_ULONG kBits[] = {0, 1, 160, 224, 256, 511, 512, 1023, 1024, 1025, ~0UL, 1UL << 40};
constexpr CK_ULONG kLengths[] = {0, 1, 7, 8, 15, 16, 24, 31, 32, 33, 64, 128, 4096, 0x8000001, ~0UL};
// Mechanism values for lists: some the targets know, 0 (CKM_RSA_PKCS_KEY_PAIR_GEN) and
// values a reader of pointers would take for addresses.
constexpr CK_ULONG kListedMechanisms[] = {CKM_AES_ECB, CKM_AES_CBC, CKM_RSA_PKCS, CKM_SHA256_HMAC, 0,
                                          0xC0000001, ~0UL, 0x80000000, 0x4141414141414141UL};

// Bytes that, read as CK_ATTRIBUTE records, would point nowhere.
Bytes pointerLikeBytes(RandomSource &random) {
  std::vector<CK_ULONG> words(1 + random.below(6));
  for (CK_ULONG &word : words) word = random.pick(kListedMechanisms);
  Bytes bytes(words.size() * sizeof(CK_ULONG));
  std::memcpy(bytes.data(), words.data(), bytes.size());
  bytes.resize(bytes.size() - (random.percent(20) ? random.below(8) : 0));
  return bytes;
}

AttributeValue ulongValue(CK_ULONG value, RandomSource &random) {
  AttributeValue v;
  v.bytes = ulongBytes(value);
  if (random.percent(15)) v.bytes.resize(random.pick({0, 1, 4, 16}), 0);
  return v;
}

Bytes bigInteger(RandomSource &random) {
  Bytes value = random.bytes(random.pick({0, 1, 2, 3, 63, 64, 65, 127, 128, 129, 130, 257}));
  if (!value.empty() && random.percent(30)) value[0] = 0;
  if (random.percent(20)) value.insert(value.begin(), random.below(3) + 1, 0);
  return value;
}

Bytes ecParams(RandomSource &random) {
  switch (random.below(9)) {
    case 0: return random.pick({curveP256(), curveP384(), curveP521(), curveFrp256(), curveEd25519()});
    case 1: return {0x13, 0x0C, 'e', 'd', 'w', 'a', 'r', 'd', 's', '2', '5', '5', '1', '9'};
    case 2: return {0x13, 0x20, 'e', 'd'};                 // a name longer than its bytes
    case 3: return {0x06, 0x7F, 0x2A, 0x86};               // an identifier longer than its bytes
    case 4: {                                               // an identifier cut short
      Bytes cut = curveP256();
      cut.pop_back();
      return cut;
    }
    case 5: return {0x05, 0x00};                            // NULL: implicit parameters
    case 6: return {0x30, 0x03, 0x02, 0x01, 0x01};          // explicit parameters, too short
    case 7: return Bytes();
    default: return random.bytes(random.pick({1, 2, 10, 40}));
  }
}

// The arbitrary values of one template. Most templates hold at most one odd structure (a
// template that holds itself, nesting deeper than a token goes, a null value with a
// length, a mechanism list, bytes in an array-flagged type, a template in a type that
// holds none), so that the structure a case ended on is the one it holds; a fifth of them
// hold any number.
class ArbitraryValues {
 public:
  ArbitraryValues(const TemplatePurpose &purpose, RandomSource &random)
      : purpose_(purpose), random_(random), oddLeft_(random.percent(20) ? ~0U : 1U) {}

  AttributeValue value(const AttributeEntry &entry, unsigned depth) {
    if (entry.kind != ValueKind::Template && random_.percent(8)) return nullValue(8);
    AttributeValue v;
    switch (entry.kind) {
      case ValueKind::Bool:
        v.bytes = {random_.pick({CK_BYTE{0}, CK_BYTE{1}, CK_BYTE{1}, CK_BYTE{2}, CK_BYTE{0xFF}})};
        if (random_.percent(10)) v.bytes.resize(random_.pick({0, 4, 8}), 0);
        return v;
      case ValueKind::ObjectClass: return ulongValue(random_.pick(kClasses), random_);
      case ValueKind::KeyType: return ulongValue(random_.pick(kKeyTypes), random_);
      case ValueKind::CertificateType: return ulongValue(random_.pick({0UL, 1UL, 2UL, 0x80000000UL}), random_);
      case ValueKind::Mechanism: return ulongValue(random_.pick(kListedMechanisms), random_);
      case ValueKind::Bits: {
        // Parameter generation is slow past these sizes: a slow case would look like a hang.
        CK_ULONG bits = random_.pick(kBits);
        if (purpose_.mechanism == CKM_DH_PKCS_PARAMETER_GEN && bits > 512 && bits < (1UL << 40)) bits = 512;
        if (purpose_.mechanism == CKM_RSA_PKCS_KEY_PAIR_GEN && random_.percent(2)) bits = 2048;
        return ulongValue(bits, random_);
      }
      case ValueKind::Length: return ulongValue(random_.pick(kLengths), random_);
      case ValueKind::BigInteger:
        if (random_.percent(20)) {
          v.kind = AttributeValue::Kind::FromKey;
          v.from = {random_.pick({kRsaPublic, kRsaLeadingZeroPublic}), CKA_MODULUS, random_.below(3)};
          return v;
        }
        v.bytes = bigInteger(random_);
        return v;
      case ValueKind::ByteString:
      case ValueKind::Text: v.bytes = random_.bytes(random_.pick({0, 1, 3, 16, 32, 100, 1000})); return v;
      case ValueKind::EcParams: v.bytes = ecParams(random_); return v;
      case ValueKind::EcPoint:
        if (random_.percent(40)) {
          v.kind = AttributeValue::Kind::FromKey;
          v.from = {random_.pick({kP256Public, kP384Public, kEd25519Public}), CKA_EC_POINT, 0};
          return v;
        }
        v.bytes = random_.bytes(random_.pick({0, 1, 33, 65, 67}));
        if (!v.bytes.empty()) v.bytes[0] = random_.pick({CK_BYTE{0x04}, CK_BYTE{0x02}});
        return v;
      case ValueKind::Date:
        v.bytes = random_.percent(70) ? date(random_) : random_.bytes(random_.pick({0, 7, 9}));
        return v;
      case ValueKind::Template: return templateValue(depth);
      case ValueKind::MechanismList: {
        if (!takeOdd()) return v;  // an empty list
        std::vector<CK_MECHANISM_TYPE> values(random_.below(6));
        for (CK_MECHANISM_TYPE &value : values) value = random_.pick(kListedMechanisms);
        v.bytes = mechanismList(values);
        if (random_.percent(15)) v.bytes.resize(v.bytes.size() + 1 + random_.below(7), 0);
        return v;
      }
      case ValueKind::Unknown:
        if ((entry.type & CKF_ARRAY_ATTRIBUTE) != 0 && !takeOdd()) return v;  // no bytes
        if (random_.percent(25)) return templateValue(depth);
        v.bytes = random_.percent(60) ? pointerLikeBytes(random_) : random_.bytes(random_.below(64));
        return v;
    }
    return v;
  }

  AttributeSpec attribute() {
    const AttributeEntry &entry = random_.pick(attributeCatalogue());
    return {entry.type, value(entry, 0)};
  }

  // An array attribute with any of its odd values.
  AttributeSpec arrayAttribute() {
    static const CK_ATTRIBUTE_TYPE kArrays[] = {CKA_WRAP_TEMPLATE,       CKA_UNWRAP_TEMPLATE,
                                                CKA_DERIVE_TEMPLATE,     CKA_ALLOWED_MECHANISMS,
                                                CKA_ALLOWED_MECHANISMS,  CKF_ARRAY_ATTRIBUTE | 0x1,
                                                CKF_ARRAY_ATTRIBUTE | CKA_ATTR_TYPES,
                                                CKA_VENDOR_DEFINED | CKF_ARRAY_ATTRIBUTE | 0x10};
    const AttributeEntry &entry = *findAttribute(random_.pick(kArrays));
    if (random_.percent(10) && takeOdd()) return enclosingAttribute(entry.type, 0);  // the template itself
    return {entry.type, value(entry, 0)};
  }

  void mutate(Attributes &t) {
    const unsigned roll = static_cast<unsigned>(random_.below(100));
    if (roll < 30 && !t.empty()) {  // another value
      AttributeSpec &chosen = t[random_.below(t.size())];
      const AttributeEntry *entry = findAttribute(chosen.type);
      if (entry != nullptr) chosen.value = value(*entry, 0);
    } else if (roll < 55) {
      t.insert(t.begin() + random_.below(t.size() + 1), attribute());
    } else if (roll < 70 && !t.empty()) {
      t.erase(t.begin() + random_.below(t.size()));
    } else if (roll < 80 && !t.empty()) {  // the same type twice
      AttributeSpec twice = t[random_.below(t.size())];
      const AttributeEntry *entry = findAttribute(twice.type);
      if (entry != nullptr) twice.value = value(*entry, 0);
      t.push_back(twice);
    } else {
      t.insert(t.begin() + random_.below(t.size() + 1), arrayAttribute());
    }
  }

 private:
  // Whether this template may take one more odd structure (and takes it).
  bool takeOdd() {
    if (oddLeft_ == 0) return false;
    --oddLeft_;
    return true;
  }

  AttributeValue nullValue(CK_ULONG typicalLength) {
    AttributeValue v;
    v.kind = AttributeValue::Kind::Null;
    if (random_.percent(50) && takeOdd()) v.length = random_.percent(50) ? typicalLength : random_.pick({1, 24, 1000});
    return v;
  }

  // A template as the value of an array attribute.
  AttributeValue templateValue(unsigned depth) {
    AttributeValue v;
    v.kind = AttributeValue::Kind::Nested;
    v.nested = legitimateNested(random_);
    const unsigned roll = static_cast<unsigned>(random_.below(10));
    if (roll < 5 && !takeOdd()) return v;
    switch (roll) {
      case 0:
      case 1: {  // a template that holds itself or the one around it
        const CK_ATTRIBUTE_TYPE type = random_.pick({CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE, CKA_DERIVE_TEMPLATE});
        v.nested.insert(v.nested.begin() + random_.below(v.nested.size() + 1),
                        enclosingAttribute(type, static_cast<unsigned>(random_.below(2))));
        return v;
      }
      case 2: {  // nested deeper than any token goes
        const std::size_t levels = random_.pick({6, 16, 64, 300});
        for (std::size_t i = 0; i < levels; ++i) {
          v.nested = {nestedAttribute(random_.pick({CKA_WRAP_TEMPLATE, CKA_DERIVE_TEMPLATE}), std::move(v.nested))};
        }
        return v;
      }
      case 3: {  // no template, with its length
        AttributeValue null;
        null.kind = AttributeValue::Kind::Null;
        null.length = 2 * sizeof(CK_ATTRIBUTE);
        return null;
      }
      case 4: {  // fewer bytes than one attribute record
        AttributeValue bytes;
        bytes.bytes = random_.bytes(1 + random_.below(sizeof(CK_ATTRIBUTE) - 1));
        return bytes;
      }
      default: {  // legitimate, with now and then an arbitrary attribute
        const std::size_t extra = depth < 3 ? random_.below(3) : 0;
        for (std::size_t i = 0; i < extra; ++i) {
          const AttributeEntry &inner = random_.pick(attributeCatalogue());
          v.nested.push_back({inner.type, value(inner, depth + 1)});
        }
        return v;
      }
    }
  }

  const TemplatePurpose &purpose_;
  RandomSource &random_;
  unsigned oddLeft_;
};

// CKA_TOKEN, wherever it is, never asks for a token object.
void neverOnToken(Attributes &t) {
  for (AttributeSpec &spec : t) {
    if (spec.type == CKA_TOKEN && spec.value.kind == AttributeValue::Kind::Bytes) {
      std::fill(spec.value.bytes.begin(), spec.value.bytes.end(), 0);
    }
    if (spec.value.kind == AttributeValue::Kind::Nested) neverOnToken(spec.value.nested);
  }
}

Attributes legitimateAttributes(const TemplatePurpose &purpose, RandomSource &random) {
  switch (purpose.call) {
    case Call::CreateObject: return createdObject(purpose, random);
    case Call::CopyObject:
    case Call::SetAttributeValue: return changedAttributes(purpose, random);
    case Call::FindObjectsInit: return searchTemplate(random);
    case Call::GenerateKey: return generatedKey(purpose, random);
    case Call::GenerateKeyPair: return generatedPairHalf(purpose, random);
    case Call::UnwrapKey:
    case Call::DeriveKey: return unwrappedOrDerivedKey(purpose, random);
    case Call::GetAttributeValue: return readRequest(random);
    default: return {};
  }
}

// Buffers for C_GetAttributeValue: length queries, short and ample buffers, nested ones.
Attributes arbitraryReadRequest(RandomSource &random) {
  Attributes t;
  const std::size_t count = random.below(7);
  while (t.size() < count) {
    const AttributeEntry &entry = random.pick(attributeCatalogue());
    AttributeSpec spec;
    spec.type = entry.type;
    switch (random.below(4)) {
      case 0: spec.value = nullAttribute(entry.type, random.pick({0, 0, 1, 8, 1000})).value; break;
      case 1:
        if (entry.kind == ValueKind::Template || entry.kind == ValueKind::Unknown) {
          spec.value.kind = AttributeValue::Kind::Nested;
          for (std::size_t i = random.below(3); i > 0; --i) {
            const AttributeEntry &inner = random.pick(attributeCatalogue());
            spec.value.nested.push_back(random.percent(50) ? nullAttribute(inner.type, random.pick({0, 8}))
                                                           : bytesAttribute(inner.type, Bytes(random.pick({1, 8, 64}))));
          }
          break;
        }
        [[fallthrough]];
      default: spec.value.bytes = Bytes(random.pick({0, 1, 4, 8, 16, 64, 127, 128, 129, 256}), 0); break;
    }
    t.push_back(std::move(spec));
  }
  return t;
}

}  // namespace

Template legitimateTemplate(const TemplatePurpose &purpose, RandomSource &random) {
  Template t;
  t.attributes = legitimateAttributes(purpose, random);
  neverOnToken(t.attributes);
  return t;
}

Template arbitraryTemplate(const TemplatePurpose &purpose, RandomSource &random) {
  Template t;
  const unsigned roll = static_cast<unsigned>(random.below(100));
  if (roll < 4) {
    t.null = true;
    t.nullCount = random.pick({0, 1, 3});
    return t;
  }
  ArbitraryValues values(purpose, random);
  if (purpose.call == Call::GetAttributeValue && roll < 60) {
    t.attributes = arbitraryReadRequest(random);
  } else if (roll < 30) {
    for (std::size_t i = random.below(9); i > 0; --i) t.attributes.push_back(values.attribute());
  } else {
    t.attributes = legitimateAttributes(purpose, random);
    for (std::size_t i = 1 + random.below(3); i > 0; --i) values.mutate(t.attributes);
  }
  neverOnToken(t.attributes);
  return t;
}

}  // namespace zorvel::robustness
