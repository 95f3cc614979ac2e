#include "conventions/unwrap_template.h"

#include "building_blocks/secret_key_value.h"

#include <openssl/crypto.h>

#include <cstring>
#include <optional>
#include <vector>

namespace zorvel::core {
namespace {

// Whether the template may make a secret key: it names that class or none.
bool mayBeSecretKey(const CK_ATTRIBUTE *attributes, CK_ULONG count) {
  for (CK_ULONG i = 0; i < count; ++i) {
    if (attributes[i].type != CKA_CLASS) continue;
    CK_OBJECT_CLASS keyClass = 0;
    if (attributes[i].pValue == nullptr || attributes[i].ulValueLen != sizeof keyClass) return false;
    std::memcpy(&keyClass, attributes[i].pValue, sizeof keyClass);  // need not be aligned
    return keyClass == CKO_SECRET_KEY;
  }
  return true;
}

// The fixed lengths of the key types that carry no CKA_VALUE_LEN in the backend.
std::optional<CK_ULONG> fixedLength(CK_KEY_TYPE type) {
  switch (type) {
    case CKK_DES: return 8;
    case CKK_DES2: return 16;
    case CKK_DES3: return 24;
    default: return std::nullopt;
  }
}

// The length of an unwrapped secret key. The backend leaves CKA_VALUE_LEN 0 on the keys
// it unwraps, so the value's own length counts, read in the clear or, for a sensitive
// key, through the module's wrapping; a key whose value stays hidden has the fixed length
// of its type, if it has one.
std::optional<CK_ULONG> unwrappedKeyLength(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session,
                                           CK_OBJECT_HANDLE key) {
  CK_ULONG stated = 0;
  CK_ATTRIBUTE valueLen = {CKA_VALUE_LEN, &stated, sizeof stated};
  if (backend.C_GetAttributeValue(session, key, &valueLen, 1) == CKR_OK && stated != 0) return stated;
  std::vector<CK_BYTE> value;
  if (extractableKeyValue(backend, session, key, &value) == CKR_OK) {
    OPENSSL_cleanse(value.data(), value.size());
    return value.size();
  }
  CK_KEY_TYPE type = 0;
  CK_ATTRIBUTE keyType = {CKA_KEY_TYPE, &type, sizeof type};
  if (backend.C_GetAttributeValue(session, key, &keyType, 1) != CKR_OK) return std::nullopt;
  return fixedLength(type);
}

// The CKA_VALUE_LEN a secret key's template states; CKR_OK without one.
CK_RV statedLength(AttributeList keyTemplate, std::optional<CK_ULONG> *stated) {
  const CK_ATTRIBUTE *caller = keyTemplate.attributes;
  if (caller == nullptr || !mayBeSecretKey(caller, keyTemplate.count)) return CKR_OK;
  for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
    if (caller[i].type != CKA_VALUE_LEN) continue;
    CK_ULONG length = 0;
    if (caller[i].pValue == nullptr || caller[i].ulValueLen != sizeof length) return CKR_ATTRIBUTE_VALUE_INVALID;
    std::memcpy(&length, caller[i].pValue, sizeof length);
    // Stated twice with two values, the template contradicts itself.
    if (*stated && **stated != length) return CKR_TEMPLATE_INCONSISTENT;
    *stated = length;
  }
  return CKR_OK;
}

CK_RV toModule(CallTemplates &templates, bool *applied) {
  const AttributeList keyTemplate = templates.current(0);
  std::optional<CK_ULONG> stated;
  const CK_RV rv = statedLength(keyTemplate, &stated);
  if (rv != CKR_OK || !stated) return rv;
  std::vector<CK_ATTRIBUTE> local;
  for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
    if (keyTemplate.attributes[i].type != CKA_VALUE_LEN) local.push_back(keyTemplate.attributes[i]);
  }
  templates.replace(0, std::move(local));
  *applied = true;
  return CKR_OK;
}

CK_RV checkMade(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CallTemplates &templates,
                CK_OBJECT_HANDLE_PTR key) {
  std::optional<CK_ULONG> stated;
  if (statedLength(templates.caller(0), &stated) != CKR_OK || !stated) return CKR_OK;
  // A length the stand-in cannot learn is the one the backend made from the wrapped value.
  const std::optional<CK_ULONG> length = unwrappedKeyLength(backend, session, *key);
  if (!length || *length == *stated) return CKR_OK;
  backend.C_DestroyObject(session, *key);
  *key = CK_INVALID_HANDLE;
  return CKR_TEMPLATE_INCONSISTENT;
}

}  // namespace

const TemplateTranslation kUnwrapValueLength = {"unwrap template without CKA_VALUE_LEN",
                                                templateCalls(TemplateCall::UnwrapKey), toModule, checkMade, nullptr};

}  // namespace zorvel::core
