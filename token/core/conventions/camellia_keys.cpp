#include "conventions/camellia_keys.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstring>

namespace zorvel::core {
namespace {

bool isCamelliaKeyLength(CK_ULONG length) { return length == 16 || length == 24 || length == 32; }

// The CK_ULONG value of an attribute; false when it has another length or no value.
bool ulongValue(const CK_ATTRIBUTE &attribute, CK_ULONG *value) {
  if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof(CK_ULONG)) return false;
  std::memcpy(value, attribute.pValue, sizeof(CK_ULONG));  // need not be aligned
  return true;
}

bool namesCamellia(const CK_ATTRIBUTE &attribute) {
  CK_KEY_TYPE type = 0;
  return attribute.type == CKA_KEY_TYPE && ulongValue(attribute, &type) && type == CKK_CAMELLIA;
}

}  // namespace

KeyTypeTemplate::KeyTypeTemplate(CK_ATTRIBUTE_PTR caller, CK_ULONG count) : caller_(caller), count_(count) {
  if (caller == nullptr) return;
  for (CK_ULONG i = 0; i < count; ++i) translated_ = translated_ || namesCamellia(caller[i]);
  if (!translated_) return;
  local_.assign(caller, caller + count);
  for (CK_ATTRIBUTE &attribute : local_) {
    if (namesCamellia(attribute)) attribute.pValue = &backendKeyType_;
    if (attribute.type == CKA_VALUE && attribute.pValue != nullptr && !isCamelliaKeyLength(attribute.ulValueLen)) {
      status_ = CKR_ATTRIBUTE_VALUE_INVALID;
    }
  }
}

void presentKeyTypes(CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  if (attributes == nullptr) return;
  const CK_KEY_TYPE camellia = CKK_CAMELLIA;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_KEY_TYPE type = 0;
    if (attributes[i].type == CKA_KEY_TYPE && ulongValue(attributes[i], &type) && type == kCamelliaBackendKeyType) {
      std::memcpy(attributes[i].pValue, &camellia, sizeof camellia);
    }
  }
}

CK_RV generateCamelliaKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                          CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, CK_OBJECT_HANDLE_PTR key) {
  if (key == nullptr || (tmpl == nullptr && count > 0)) return CKR_ARGUMENTS_BAD;
  if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0) return CKR_MECHANISM_PARAM_INVALID;
  CK_OBJECT_CLASS secretKey = CKO_SECRET_KEY;
  CK_KEY_TYPE backendType = kCamelliaBackendKeyType;
  CK_ULONG length = 0;
  std::vector<CK_ATTRIBUTE> backendTemplate = {{CKA_CLASS, &secretKey, sizeof secretKey},
                                               {CKA_KEY_TYPE, &backendType, sizeof backendType}};
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE &attribute = tmpl[i];
    CK_ULONG value = 0;
    switch (attribute.type) {
      case CKA_VALUE_LEN:
        if (!ulongValue(attribute, &length) || !isCamelliaKeyLength(length)) return CKR_ATTRIBUTE_VALUE_INVALID;
        break;
      case CKA_CLASS:
        if (!ulongValue(attribute, &value) || value != CKO_SECRET_KEY) return CKR_TEMPLATE_INCONSISTENT;
        break;
      case CKA_KEY_TYPE:
        if (!namesCamellia(attribute)) return CKR_TEMPLATE_INCONSISTENT;
        break;
      case CKA_VALUE:
        return CKR_TEMPLATE_INCONSISTENT;
      default:
        backendTemplate.push_back(attribute);
    }
  }
  if (length == 0) return CKR_TEMPLATE_INCOMPLETE;
  std::vector<CK_BYTE> value(length);
  if (RAND_priv_bytes(value.data(), static_cast<int>(length)) != 1) return CKR_GENERAL_ERROR;
  backendTemplate.push_back({CKA_VALUE, value.data(), length});
  const CK_RV rv = backend.C_CreateObject(session, backendTemplate.data(), backendTemplate.size(), key);
  OPENSSL_cleanse(value.data(), value.size());
  return rv;
}

bool isCamelliaKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
  CK_KEY_TYPE type = 0;
  CK_ATTRIBUTE attribute = {CKA_KEY_TYPE, &type, sizeof type};
  return backend.C_GetAttributeValue(session, key, &attribute, 1) == CKR_OK && type == kCamelliaBackendKeyType;
}

}  // namespace zorvel::core
