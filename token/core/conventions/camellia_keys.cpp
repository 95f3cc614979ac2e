#include "conventions/camellia_keys.h"

#include <cstring>
#include <vector>

namespace zorvel::core {
namespace {

const CK_KEY_TYPE kBackendKeyType = kCamelliaBackendKeyType;

CK_RV toModule(CallTemplates &templates, bool *applied) {
  const AttributeList caller = templates.current(0);
  if (caller.attributes == nullptr) return CKR_OK;
  for (CK_ULONG i = 0; i < caller.count; ++i) *applied = *applied || namesCamellia(caller.attributes[i]);
  if (!*applied) return CKR_OK;
  std::vector<CK_ATTRIBUTE> local(caller.attributes, caller.attributes + caller.count);
  CK_RV rv = CKR_OK;
  for (CK_ATTRIBUTE &attribute : local) {
    if (namesCamellia(attribute)) attribute.pValue = const_cast<CK_KEY_TYPE *>(&kBackendKeyType);
    if (templates.call() == TemplateCall::CreateObject && attribute.type == CKA_VALUE &&
        attribute.pValue != nullptr && !isCamelliaKeyLength(attribute.ulValueLen)) {
      rv = CKR_ATTRIBUTE_VALUE_INVALID;
    }
  }
  templates.replace(0, std::move(local));
  return rv;
}

// The values the module filled are valid also when it reports another attribute as
// sensitive, unknown or too small for its buffer.
CK_RV read(const AttributeReader &next, CK_ATTRIBUTE_PTR attributes, CK_ULONG count, bool *applied) {
  const CK_RV rv = next(attributes, count);
  if (attributes == nullptr ||
      !(rv == CKR_OK || rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID ||
        rv == CKR_BUFFER_TOO_SMALL)) {
    return rv;
  }
  const CK_KEY_TYPE camellia = CKK_CAMELLIA;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_KEY_TYPE type = 0;
    if (attributes[i].type == CKA_KEY_TYPE && ulongValue(attributes[i], &type) && type == kCamelliaBackendKeyType) {
      std::memcpy(attributes[i].pValue, &camellia, sizeof camellia);
      *applied = true;
    }
  }
  return rv;
}

}  // namespace

const TemplateTranslation kCamelliaKeyType = {
    "Camellia key type",
    templateCalls(TemplateCall::CreateObject, TemplateCall::CopyObject, TemplateCall::FindObjectsInit,
                  TemplateCall::SetAttributeValue),
    toModule, nullptr, read};

bool isCamelliaKeyLength(CK_ULONG length) { return length == 16 || length == 24 || length == 32; }

bool namesCamellia(const CK_ATTRIBUTE &attribute) {
  CK_KEY_TYPE type = 0;
  return attribute.type == CKA_KEY_TYPE && ulongValue(attribute, &type) && type == CKK_CAMELLIA;
}

bool isCamelliaKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
  CK_KEY_TYPE type = 0;
  CK_ATTRIBUTE attribute = {CKA_KEY_TYPE, &type, sizeof type};
  return backend.C_GetAttributeValue(session, key, &attribute, 1) == CKR_OK && type == kCamelliaBackendKeyType;
}

}  // namespace zorvel::core
