#include "conventions/template_guard.h"

namespace zorvel::core {
namespace {

bool holdsTemplate(CK_ATTRIBUTE_TYPE type) {
  return type == CKA_WRAP_TEMPLATE || type == CKA_UNWRAP_TEMPLATE || type == CKA_DERIVE_TEMPLATE;
}

// The length of an attribute whose value has a fixed size (CK_ULONG or CK_BBOOL); 0 for
// one whose value is bytes of any length.
CK_ULONG fixedLength(CK_ATTRIBUTE_TYPE type) {
  switch (type) {
    case CKA_CLASS:
    case CKA_CERTIFICATE_TYPE:
    case CKA_CERTIFICATE_CATEGORY:
    case CKA_JAVA_MIDP_SECURITY_DOMAIN:
    case CKA_NAME_HASH_ALGORITHM:
    case CKA_KEY_TYPE:
    case CKA_MODULUS_BITS:
    case CKA_PRIME_BITS:
    case CKA_SUBPRIME_BITS:
    case CKA_VALUE_BITS:
    case CKA_VALUE_LEN:
    case CKA_KEY_GEN_MECHANISM:
    case CKA_HW_FEATURE_TYPE:
    case CKA_MECHANISM_TYPE: return sizeof(CK_ULONG);
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_TRUSTED:
    case CKA_SENSITIVE:
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_SIGN_RECOVER:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
    case CKA_DERIVE:
    case CKA_EXTRACTABLE:
    case CKA_LOCAL:
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
    case CKA_MODIFIABLE:
    case CKA_COPYABLE:
    case CKA_DESTROYABLE:
    case CKA_ALWAYS_AUTHENTICATE:
    case CKA_WRAP_WITH_TRUSTED: return sizeof(CK_BBOOL);
    default: return 0;
  }
}

// How many templates deep a template may sit inside the caller's (a wrap template inside
// a key's template is one).
constexpr int kDeepestNestedTemplate = 4;

// The records of a template attribute's value (whole records only).
AttributeList nestedTemplate(const CK_ATTRIBUTE &attribute) {
  return {static_cast<CK_ATTRIBUTE_PTR>(attribute.pValue),
          attribute.ulValueLen / static_cast<CK_ULONG>(sizeof(CK_ATTRIBUTE))};
}

CK_RV refuseUnreadableAt(AttributeList list, int depth) {
  if (list.attributes == nullptr) return list.count == 0 ? CKR_OK : CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < list.count; ++i) {
    const CK_ATTRIBUTE &attribute = list.attributes[i];
    const CK_ULONG fixed = fixedLength(attribute.type);
    if (fixed != 0 && (attribute.pValue == nullptr || attribute.ulValueLen != fixed)) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    if (attribute.pValue == nullptr) {
      if (attribute.ulValueLen != 0) return CKR_ATTRIBUTE_VALUE_INVALID;
      continue;
    }
    if (holdsTemplate(attribute.type)) {
      if (depth == kDeepestNestedTemplate) return CKR_ATTRIBUTE_VALUE_INVALID;
      const CK_RV rv = refuseUnreadableAt(nestedTemplate(attribute), depth + 1);
      if (rv != CKR_OK) return rv;
    }
  }
  return CKR_OK;
}

// Whether the records are to receive values (one points to a buffer) and one of them
// claims a length without a buffer.
bool writesThroughNull(AttributeList records) {
  bool anyBuffer = false, lengthWithoutBuffer = false;
  for (CK_ULONG i = 0; i < records.count; ++i) {
    anyBuffer = anyBuffer || records.attributes[i].pValue != nullptr;
    lengthWithoutBuffer = lengthWithoutBuffer ||
                          (records.attributes[i].pValue == nullptr && records.attributes[i].ulValueLen != 0);
  }
  return anyBuffer && lengthWithoutBuffer;
}

}  // namespace

CK_RV refuseUnreadable(AttributeList list) { return refuseUnreadableAt(list, 0); }

CK_RV refuseUnwritable(AttributeList list) {
  if (list.attributes == nullptr) return list.count == 0 ? CKR_OK : CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < list.count; ++i) {
    const CK_ATTRIBUTE &attribute = list.attributes[i];
    if (holdsTemplate(attribute.type) && attribute.pValue != nullptr && writesThroughNull(nestedTemplate(attribute))) {
      return CKR_ARGUMENTS_BAD;
    }
  }
  return CKR_OK;
}

}  // namespace zorvel::core
