#include "conventions/key_components.h"

#include "conventions/attribute_values.h"
#include "support/pkcs11_3_0.h"

#include <openssl/asn1.h>
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

// A copy of the value with room behind it, for OpenSSL to decode: the namespace's string
// functions, which OpenSSL compares identifiers with, read whole words past the end of
// short buffers (see curve_substitution.cpp), which memcheck reports in the caller's.
std::vector<unsigned char> decodableCopy(const CK_ATTRIBUTE &attribute) {
  constexpr std::size_t kRoomForWideReads = 64;
  const CK_BYTE *value = static_cast<const CK_BYTE *>(attribute.pValue);
  std::vector<unsigned char> copy(value, value + attribute.ulValueLen);
  copy.resize(copy.size() + kRoomForWideReads);
  return copy;
}

bool decodable(const CK_ATTRIBUTE &attribute) {
  return attribute.pValue != nullptr && attribute.ulValueLen != 0 && attribute.ulValueLen <= 0x7FFFFFFF;
}

// Parameters the module decodes as a curve (d2i_ECPKParameters, as its loader does).
bool ecCurve(const CK_ATTRIBUTE &attribute) {
  if (!decodable(attribute)) return false;
  const std::vector<unsigned char> copy = decodableCopy(attribute);
  const unsigned char *der = copy.data();
  EC_GROUP *group = d2i_ECPKParameters(nullptr, &der, static_cast<long>(attribute.ulValueLen));
  ERR_clear_error();
  EC_GROUP_free(group);
  return group != nullptr;
}

// Parameters of an Edwards or Montgomery curve the module can read: one whole DER object
// identifier or PrintableString (it names the curve by either, and dies of SIGSEGV on a
// PrintableString that does not decode).
bool edwardsCurve(const CK_ATTRIBUTE &attribute) {
  if (!decodable(attribute)) return false;
  const std::vector<unsigned char> copy = decodableCopy(attribute);
  const long length = static_cast<long>(attribute.ulValueLen);
  const unsigned char *der = copy.data();
  ASN1_OBJECT *identifier = d2i_ASN1_OBJECT(nullptr, &der, length);
  bool whole = identifier != nullptr && der == copy.data() + length;
  ASN1_OBJECT_free(identifier);
  if (identifier == nullptr) {
    der = copy.data();
    ASN1_PRINTABLESTRING *name = d2i_ASN1_PRINTABLESTRING(nullptr, &der, length);
    whole = name != nullptr && der == copy.data() + length;
    ASN1_PRINTABLESTRING_free(name);
  }
  ERR_clear_error();
  return whole;
}

// CKR_ATTRIBUTE_VALUE_INVALID for a key's components the module cannot load, else CKR_OK.
CK_RV judgeComponents(AttributeList made, CK_KEY_TYPE keyType) {
  for (CK_ULONG i = 0; i < made.count; ++i) {
    const CK_ATTRIBUTE &attribute = made.attributes[i];
    const bool number = (keyType == CKK_RSA && listed(kRsaComponents, attribute.type)) ||
                        ((keyType == CKK_DSA || keyType == CKK_DH) && listed(kDomainComponents, attribute.type));
    if (number && !nonZeroNumber(attribute)) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (attribute.type != CKA_EC_PARAMS) continue;
    if (keyType == CKK_EC && !ecCurve(attribute)) return CKR_ATTRIBUTE_VALUE_INVALID;
    if ((keyType == kEdwardsKey || keyType == kMontgomeryKey) && !edwardsCurve(attribute)) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
  }
  return CKR_OK;
}

// C_GenerateKeyPair: the curve of an Edwards or Montgomery key pair.
CK_RV judgeGeneration(CallTemplates &templates) {
  const CK_MECHANISM_TYPE mechanism = templates.mechanism();
  if (mechanism == kEdwardsKeyPairGeneration) return judgeComponents(templates.current(0), kEdwardsKey);
  if (mechanism == kMontgomeryKeyPairGeneration) return judgeComponents(templates.current(0), kMontgomeryKey);
  return CKR_OK;
}

CK_RV toModule(CallTemplates &templates, bool *) {
  if (templates.call() == TemplateCall::GenerateKeyPair) return judgeGeneration(templates);
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
  return judgeComponents(made, keyType);
}

}  // namespace

const TemplateTranslation kLoadableKeyComponents = {
    "loadable key components", templateCalls(TemplateCall::CreateObject, TemplateCall::GenerateKeyPair), toModule,
    nullptr, nullptr};

}  // namespace zorvel::core
