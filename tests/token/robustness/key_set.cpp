#include "key_set.h"

#include "attribute_values.h"
#include "c_structures.h"
#include "case_printer.h"
#include "mechanism_catalogue.h"

namespace zorvel::robustness {
namespace {

using Attributes = std::vector<AttributeSpec>;

// The attributes cases copy from the keys (key_catalogue.h's KeyValue).
constexpr CK_ATTRIBUTE_TYPE kCopiedAttributes[] = {
    CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1,
    CKA_EXPONENT_2, CKA_COEFFICIENT, CKA_EC_POINT, CKA_VALUE};

Attributes withUses(Attributes t, std::initializer_list<CK_ATTRIBUTE_TYPE> uses, bool permitted = true) {
  t.push_back(boolAttribute(CKA_TOKEN, false));
  for (CK_ATTRIBUTE_TYPE use : uses) t.push_back(boolAttribute(use, permitted));
  return t;
}

Attributes publicHalf(Attributes t) { return withUses(std::move(t), {CKA_ENCRYPT, CKA_VERIFY, CKA_WRAP}); }

Attributes privateHalf(Attributes t = {}) {
  t.push_back(boolAttribute(CKA_SENSITIVE, false));
  t.push_back(boolAttribute(CKA_EXTRACTABLE, true));
  return withUses(std::move(t), {CKA_DECRYPT, CKA_SIGN, CKA_UNWRAP, CKA_DERIVE});
}

Attributes secretKey(Attributes t) {
  t.push_back(boolAttribute(CKA_SENSITIVE, false));
  t.push_back(boolAttribute(CKA_EXTRACTABLE, true));
  return withUses(std::move(t),
                  {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY, CKA_WRAP, CKA_UNWRAP, CKA_DERIVE});
}

class Maker {
 public:
  explicit Maker(const Target &target) : target_(target), arena_([](const KeyValue &) { return Bytes(); }) {}

  CK_RV generate(CK_MECHANISM_TYPE mechanism, const Attributes &t, CK_OBJECT_HANDLE *key) {
    CK_MECHANISM m = {mechanism, nullptr, 0};
    CK_ULONG count = 0;
    CK_ATTRIBUTE_PTR attributes = arena_.attributes(templateOf(t), &count);
    return target_.f->C_GenerateKey(target_.session, &m, attributes, count, key);
  }
  CK_RV generatePair(CK_MECHANISM_TYPE mechanism, const Attributes &publicTemplate,
                     const Attributes &privateTemplate, CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey) {
    CK_MECHANISM m = {mechanism, nullptr, 0};
    CK_ULONG publicCount = 0, privateCount = 0;
    CK_ATTRIBUTE_PTR publicAttributes = arena_.attributes(templateOf(publicTemplate), &publicCount);
    CK_ATTRIBUTE_PTR privateAttributes = arena_.attributes(templateOf(privateTemplate), &privateCount);
    return target_.f->C_GenerateKeyPair(target_.session, &m, publicAttributes, publicCount, privateAttributes,
                                        privateCount, publicKey, privateKey);
  }
  CK_RV create(const Attributes &t, CK_OBJECT_HANDLE *object) {
    CK_ULONG count = 0;
    CK_ATTRIBUTE_PTR attributes = arena_.attributes(templateOf(t), &count);
    return target_.f->C_CreateObject(target_.session, attributes, count, object);
  }
  Bytes read(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    if (target_.f->C_GetAttributeValue(target_.session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
      return {};
    }
    Bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    if (target_.f->C_GetAttributeValue(target_.session, object, &attribute, 1) != CKR_OK) return {};
    value.resize(attribute.ulValueLen);
    return value;
  }

  // The fixed RSA key's pair, made with C_CreateObject; with a zero byte before the modulus
  // if asked.
  CK_RV rsaPair(bool leadingZero, CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey) {
    const RsaKeyValues &key = rsaKeyValues();
    Bytes modulus = key.modulus;
    if (leadingZero) modulus.insert(modulus.begin(), 0);
    const Attributes rsa = {ulongAttribute(CKA_KEY_TYPE, CKK_RSA), bytesAttribute(CKA_MODULUS, modulus),
                            bytesAttribute(CKA_PUBLIC_EXPONENT, key.publicExponent)};
    Attributes publicTemplate = publicHalf(rsa);
    publicTemplate.push_back(ulongAttribute(CKA_CLASS, CKO_PUBLIC_KEY));
    Attributes privateTemplate = privateHalf(rsa);
    privateTemplate.push_back(ulongAttribute(CKA_CLASS, CKO_PRIVATE_KEY));
    for (const auto &part : {std::make_pair(CKA_PRIVATE_EXPONENT, &key.privateExponent),
                             std::make_pair(CKA_PRIME_1, &key.prime1), std::make_pair(CKA_PRIME_2, &key.prime2),
                             std::make_pair(CKA_EXPONENT_1, &key.exponent1),
                             std::make_pair(CKA_EXPONENT_2, &key.exponent2),
                             std::make_pair(CKA_COEFFICIENT, &key.coefficient)}) {
      privateTemplate.push_back(bytesAttribute(part.first, *part.second));
    }
    const CK_RV rv = create(publicTemplate, publicKey);
    return rv != CKR_OK ? rv : create(privateTemplate, privateKey);
  }

 private:
  static Template templateOf(const Attributes &attributes) {
    Template t;
    t.attributes = attributes;
    return t;
  }

  const Target &target_;
  CallArena arena_;
};

CK_MECHANISM_TYPE generationOf(CK_KEY_TYPE keyType) {
  switch (keyType) {
    case CKK_AES: return CKM_AES_KEY_GEN;
    case CKK_DES: return CKM_DES_KEY_GEN;
    case CKK_DES2: return CKM_DES2_KEY_GEN;
    case CKK_DES3: return CKM_DES3_KEY_GEN;
    case CKK_CAMELLIA: return CKM_CAMELLIA_KEY_GEN;
    default: return CKM_GENERIC_SECRET_KEY_GEN;
  }
}

}  // namespace

CK_RV KeySet::make(const Target &target, KeyIndex key) {
  Maker maker(target);
  const KeyEntry &entry = keyEntry(key);
  CK_OBJECT_HANDLE *made = &handles_[key];
  CK_OBJECT_HANDLE *partner = &handles_[entry.partner];
  switch (key) {
    case kRsaPublic: return maker.rsaPair(false, made, partner);
    case kRsaLeadingZeroPublic: return maker.rsaPair(true, made, partner);
    case kDsaPublic:
      return maker.generatePair(CKM_DSA_KEY_PAIR_GEN,
                                publicHalf({bytesAttribute(CKA_PRIME, dsaPrime()),
                                            bytesAttribute(CKA_SUBPRIME, dsaSubprime()),
                                            bytesAttribute(CKA_BASE, dsaBase())}),
                                privateHalf(), made, partner);
    case kDhPublic:
      return maker.generatePair(CKM_DH_PKCS_KEY_PAIR_GEN,
                                publicHalf({bytesAttribute(CKA_PRIME, dhPrime()), bytesAttribute(CKA_BASE, dhBase())}),
                                privateHalf(), made, partner);
    case kP256Public:
    case kP384Public:
    case kP521Public:
    case kFrp256Public:
    case kEd25519Public: {
      const CK_MECHANISM_TYPE generation = key == kEd25519Public ? kMechanismEdwardsKeyPairGen : CKM_EC_KEY_PAIR_GEN;
      if (!target.lists(generation)) return CKR_MECHANISM_INVALID;
      return maker.generatePair(generation, publicHalf({bytesAttribute(CKA_EC_PARAMS, *entry.ecParams)}),
                                privateHalf(), made, partner);
    }
    case kAesRestricted:
      return maker.generate(CKM_AES_KEY_GEN,
                            withUses({ulongAttribute(CKA_VALUE_LEN, 16), boolAttribute(CKA_SENSITIVE, true),
                                      boolAttribute(CKA_EXTRACTABLE, false)},
                                     {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY, CKA_WRAP, CKA_UNWRAP, CKA_DERIVE},
                                     false),
                            made);
    case kDataObject:
      return maker.create({ulongAttribute(CKA_CLASS, CKO_DATA), boolAttribute(CKA_TOKEN, false),
                           bytesAttribute(CKA_LABEL, {'d', 'a', 't', 'a'}), bytesAttribute(CKA_VALUE, {1, 2, 3})},
                          made);
    default:
      if (entry.objectClass != CKO_SECRET_KEY) return CKR_OK;  // made with its partner
      {
        const CK_MECHANISM_TYPE generation = generationOf(entry.keyType);
        if (!target.lists(generation)) return CKR_MECHANISM_INVALID;
        Attributes t;
        if (entry.keyType != CKK_DES && entry.keyType != CKK_DES2 && entry.keyType != CKK_DES3) {
          t.push_back(ulongAttribute(CKA_VALUE_LEN, entry.bytes));
        }
        return maker.generate(generation, secretKey(t), made);
      }
  }
}

void KeySet::readValues(const Target &target, KeyIndex key) {
  Maker maker(target);
  for (CK_ATTRIBUTE_TYPE type : kCopiedAttributes) {
    Bytes value = maker.read(handles_[key], type);
    if (!value.empty()) values_[{key, type}] = std::move(value);
  }
}

std::string KeySet::prepare(const Target &target) {
  std::string missing;
  for (KeyIndex key = 0; key < kKeyCount; ++key) {
    if (handles_[key] != CK_INVALID_HANDLE) continue;
    const CK_RV rv = make(target, key);
    if (rv != CKR_OK) {
      handles_[key] = handles_[keyEntry(key).partner] = CK_INVALID_HANDLE;
      missing += std::string("  ") + keyEntry(key).name + ": " + returnValueName(rv) + "\n";
    }
  }
  for (KeyIndex key = 0; key < kKeyCount; ++key) {
    if (handles_[key] != CK_INVALID_HANDLE) readValues(target, key);
  }
  return missing;
}

Bytes KeySet::value(const KeyValue &from) const {
  const auto found = values_.find({from.key, from.attribute});
  return found == values_.end() ? Bytes() : found->second;
}

std::size_t KeySet::leadingZeroModulusLength() const {
  return value({kRsaLeadingZeroPublic, CKA_MODULUS, 0}).size();
}

}  // namespace zorvel::robustness
