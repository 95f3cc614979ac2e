#include "conventions/unwrap_template.h"

#include "building_blocks/secret_key_value.h"

#include <openssl/crypto.h>

#include <cstring>

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

}  // namespace

UnwrapTemplate::UnwrapTemplate(CK_ATTRIBUTE_PTR caller, CK_ULONG count) : caller_(caller), count_(count) {
  if (caller == nullptr || !mayBeSecretKey(caller, count)) return;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (caller[i].type != CKA_VALUE_LEN) continue;
    CK_ULONG length = 0;
    if (caller[i].pValue == nullptr || caller[i].ulValueLen != sizeof length) {
      status_ = CKR_ATTRIBUTE_VALUE_INVALID;
      return;
    }
    std::memcpy(&length, caller[i].pValue, sizeof length);
    // Stated twice with two values, the template contradicts itself.
    if (valueLength_ && *valueLength_ != length) {
      status_ = CKR_TEMPLATE_INCONSISTENT;
      return;
    }
    valueLength_ = length;
  }
  if (!valueLength_) return;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (caller[i].type != CKA_VALUE_LEN) local_.push_back(caller[i]);
  }
}

CK_RV UnwrapTemplate::checkUnwrappedKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session,
                                        CK_OBJECT_HANDLE_PTR key) const {
  if (!valueLength_) return CKR_OK;
  // A length the stand-in cannot learn is the one the backend made from the wrapped value.
  const std::optional<CK_ULONG> length = unwrappedKeyLength(backend, session, *key);
  if (!length || *length == *valueLength_) return CKR_OK;
  backend.C_DestroyObject(session, *key);
  *key = CK_INVALID_HANDLE;
  return CKR_TEMPLATE_INCONSISTENT;
}

}  // namespace zorvel::core
