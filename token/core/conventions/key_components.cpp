#include "conventions/key_components.h"

#include "conventions/attribute_values.h"

#include <openssl/ec.h>
#include <openssl/err.h>

#include <vector>

namespace zorvel::core {
namespace {

// The big-integer components of each key type that the module loads into OpenSSL.
constexpr CK_ATTRIBUTE_TYPE kRsaComponents[] = {CKA_MODULUS,  CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                                CKA_PRIME_1,  CKA_PRIME_2,         CKA_EXPONENT_1,
                                                CKA_EXPONENT_2, CKA_COEFFICIENT};
constexpr CK_ATTRIBUTE_TYPE kDomainComponents[] = {CKA_PRIME, CKA_SUBPRIME, CKA_BASE, CKA_VALUE};

template <std::size_t N>
bool listed(const CK_ATTRIBUTE_TYPE (&types)[N], CK_ATTRIBUTE_TYPE type) {
  for (CK_ATTRIBUTE_TYPE listedType : types) {
    if (listedType == type) return true;
  }
  return false;
}

// Whether the value is a number other than zero (byte by byte: see curve_substitution.cpp
// on the namespace's string functions).
bool nonZeroNumber(const CK_ATTRIBUTE &attribute) {
  const CK_BYTE *bytes = static_cast<const CK_BYTE *>(attribute.pValue);
  for (CK_ULONG i = 0; bytes != nullptr && i < attribute.ulValueLen; ++i) {
    if (bytes[i] != 0) return true;
  }
  return false;
}

// Decoded from a copy with room behind it: the namespace's string functions, which OpenSSL
// compares the curve's identifier with, read whole words past the end of short buffers
// (see curve_substitution.cpp), which memcheck reports in the caller's.
bool decodableCurve(const CK_ATTRIBUTE &attribute) {
  if (attribute.pValue == nullptr || attribute.ulValueLen == 0 || attribute.ulValueLen > 0x7FFFFFFF) return false;
  constexpr std::size_t kRoomForWideReads = 64;
  const CK_BYTE *value = static_cast<const CK_BYTE *>(attribute.pValue);
  std::vector<unsigned char> copy(value, value + attribute.ulValueLen);
  copy.resize(copy.size() + kRoomForWideReads);
  const unsigned char *der = copy.data();
  EC_GROUP *group = d2i_ECPKParameters(nullptr, &der, static_cast<long>(attribute.ulValueLen));
  ERR_clear_error();
  EC_GROUP_free(group);
  return group != nullptr;
}

CK_RV toModule(CallTemplates &templates, bool *) {
  const AttributeList made = templates.current(0);
  CK_OBJECT_CLASS objectClass = CK_UNAVAILABLE_INFORMATION;
  CK_KEY_TYPE keyType = CK_UNAVAILABLE_INFORMATION;
  if (!ulongAttribute(made, CKA_CLASS, &objectClass) || !ulongAttribute(made, CKA_KEY_TYPE, &keyType) ||
      (objectClass != CKO_PUBLIC_KEY && objectClass != CKO_PRIVATE_KEY)) {
    return CKR_OK;
  }
  if (keyType == CKK_RSA && objectClass == CKO_PRIVATE_KEY && findAttribute(made, CKA_PUBLIC_EXPONENT) == nullptr) {
    return CKR_TEMPLATE_INCOMPLETE;
  }
  for (CK_ULONG i = 0; i < made.count; ++i) {
    const CK_ATTRIBUTE &attribute = made.attributes[i];
    const bool number = (keyType == CKK_RSA && listed(kRsaComponents, attribute.type)) ||
                        ((keyType == CKK_DSA || keyType == CKK_DH) && listed(kDomainComponents, attribute.type));
    if (number && !nonZeroNumber(attribute)) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (keyType == CKK_EC && attribute.type == CKA_EC_PARAMS && !decodableCurve(attribute)) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
  }
  return CKR_OK;
}

}  // namespace

const TemplateTranslation kLoadableKeyComponents = {"loadable key components",
                                                    templateCalls(TemplateCall::CreateObject), toModule, nullptr,
                                                    nullptr};

}  // namespace zorvel::core
