#include "attribute_catalogue.h"

#include "hex.h"

namespace zorvel::robustness {
namespace {

#define NAMED(type) type, #type

using V = ValueKind;

const std::vector<AttributeEntry> kCatalogue = {
    {NAMED(CKA_CLASS), V::ObjectClass},
    {NAMED(CKA_TOKEN), V::Bool},
    {NAMED(CKA_PRIVATE), V::Bool},
    {NAMED(CKA_LABEL), V::Text},
    {NAMED(CKA_APPLICATION), V::Text},
    {NAMED(CKA_VALUE), V::ByteString},
    {NAMED(CKA_OBJECT_ID), V::ByteString},
    {NAMED(CKA_CERTIFICATE_TYPE), V::CertificateType},
    {NAMED(CKA_ISSUER), V::ByteString},
    {NAMED(CKA_SERIAL_NUMBER), V::ByteString},
    {NAMED(CKA_TRUSTED), V::Bool},
    {NAMED(CKA_CHECK_VALUE), V::ByteString},
    {NAMED(CKA_KEY_TYPE), V::KeyType},
    {NAMED(CKA_SUBJECT), V::ByteString},
    {NAMED(CKA_ID), V::ByteString},
    {NAMED(CKA_SENSITIVE), V::Bool},
    {NAMED(CKA_ENCRYPT), V::Bool},
    {NAMED(CKA_DECRYPT), V::Bool},
    {NAMED(CKA_WRAP), V::Bool},
    {NAMED(CKA_UNWRAP), V::Bool},
    {NAMED(CKA_SIGN), V::Bool},
    {NAMED(CKA_SIGN_RECOVER), V::Bool},
    {NAMED(CKA_VERIFY), V::Bool},
    {NAMED(CKA_VERIFY_RECOVER), V::Bool},
    {NAMED(CKA_DERIVE), V::Bool},
    {NAMED(CKA_START_DATE), V::Date},
    {NAMED(CKA_END_DATE), V::Date},
    {NAMED(CKA_MODULUS), V::BigInteger},
    {NAMED(CKA_MODULUS_BITS), V::Bits},
    {NAMED(CKA_PUBLIC_EXPONENT), V::BigInteger},
    {NAMED(CKA_PRIVATE_EXPONENT), V::BigInteger},
    {NAMED(CKA_PRIME_1), V::BigInteger},
    {NAMED(CKA_PRIME_2), V::BigInteger},
    {NAMED(CKA_EXPONENT_1), V::BigInteger},
    {NAMED(CKA_EXPONENT_2), V::BigInteger},
    {NAMED(CKA_COEFFICIENT), V::BigInteger},
    {NAMED(CKA_PRIME), V::BigInteger},
    {NAMED(CKA_SUBPRIME), V::BigInteger},
    {NAMED(CKA_BASE), V::BigInteger},
    {NAMED(CKA_PRIME_BITS), V::Bits},
    {NAMED(CKA_SUBPRIME_BITS), V::Bits},
    {NAMED(CKA_VALUE_BITS), V::Bits},
    {NAMED(CKA_VALUE_LEN), V::Length},
    {NAMED(CKA_EXTRACTABLE), V::Bool},
    {NAMED(CKA_LOCAL), V::Bool},
    {NAMED(CKA_NEVER_EXTRACTABLE), V::Bool},
    {NAMED(CKA_ALWAYS_SENSITIVE), V::Bool},
    {NAMED(CKA_KEY_GEN_MECHANISM), V::Mechanism},
    {NAMED(CKA_MODIFIABLE), V::Bool},
    {NAMED(CKA_COPYABLE), V::Bool},
    {NAMED(CKA_DESTROYABLE), V::Bool},
    {NAMED(CKA_EC_PARAMS), V::EcParams},
    {NAMED(CKA_EC_POINT), V::EcPoint},
    {NAMED(CKA_ALWAYS_AUTHENTICATE), V::Bool},
    {NAMED(CKA_WRAP_WITH_TRUSTED), V::Bool},
    {NAMED(CKA_WRAP_TEMPLATE), V::Template},
    {NAMED(CKA_UNWRAP_TEMPLATE), V::Template},
    {NAMED(CKA_DERIVE_TEMPLATE), V::Template},
    {NAMED(CKA_ALLOWED_MECHANISMS), V::MechanismList},
    {NAMED(CKA_PUBLIC_KEY_INFO), V::ByteString},
    {NAMED(CKA_GOSTR3410_PARAMS), V::ByteString},
    // Types no target knows; the array-flagged ones hold bytes, not templates.
    {CKF_ARRAY_ATTRIBUTE | 0x1, "array-flagged 0x40000001", V::Unknown},
    {CKF_ARRAY_ATTRIBUTE | CKA_ATTR_TYPES, "array-flagged 0x40000085", V::Unknown},
    {CKF_ARRAY_ATTRIBUTE | 0x700, "array-flagged 0x40000700", V::Unknown},
    {CKA_VENDOR_DEFINED | CKF_ARRAY_ATTRIBUTE | 0x10, "vendor array-flagged 0xC0000010", V::Unknown},
    {CKA_VENDOR_DEFINED | 0x1, "vendor-defined 0x80000001", V::Unknown},
    {0x1234, "unknown 0x1234", V::Unknown},
};

}  // namespace

const std::vector<AttributeEntry> &attributeCatalogue() { return kCatalogue; }

const AttributeEntry *findAttribute(CK_ATTRIBUTE_TYPE type) {
  for (const AttributeEntry &entry : kCatalogue) {
    if (entry.type == type) return &entry;
  }
  return nullptr;
}

std::string attributeName(CK_ATTRIBUTE_TYPE type) {
  const AttributeEntry *entry = findAttribute(type);
  return entry != nullptr ? entry->name : hexNumber(type);
}

}  // namespace zorvel::robustness
