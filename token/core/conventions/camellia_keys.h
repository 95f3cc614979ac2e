// Camellia keys. The backend has no Camellia: the stand-in keeps a Camellia key as a
// generic secret of the backend's key type CKK_MD5_HMAC, which it therefore never shows,
// and presents it as CKK_CAMELLIA wherever a key type is given or read: the templates of
// C_CreateObject, C_CopyObject, C_FindObjectsInit and C_SetAttributeValue, and the values
// C_GetAttributeValue reads. CKM_CAMELLIA_KEY_GEN makes the key with C_CreateObject from
// a value the stand-in draws itself, so the key is not CKA_LOCAL and has no
// CKA_KEY_GEN_MECHANISM.
#ifndef ZORVEL_TOKEN_CORE_CAMELLIA_KEYS_H
#define ZORVEL_TOKEN_CORE_CAMELLIA_KEYS_H

#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

constexpr CK_KEY_TYPE kCamelliaBackendKeyType = CKK_MD5_HMAC;

// A caller's object template as the backend takes it: CKK_CAMELLIA becomes the backend's
// key type in a local copy; the caller's template is never written.
class KeyTypeTemplate {
 public:
  KeyTypeTemplate(CK_ATTRIBUTE_PTR caller, CK_ULONG count);
  KeyTypeTemplate(const KeyTypeTemplate &) = delete;
  KeyTypeTemplate &operator=(const KeyTypeTemplate &) = delete;

  // CKR_OK, or CKR_ATTRIBUTE_VALUE_INVALID for a Camellia CKA_VALUE that is not 16, 24 or
  // 32 bytes long.
  CK_RV status() const { return status_; }
  CK_ATTRIBUTE_PTR data() { return translated_ ? local_.data() : caller_; }
  CK_ULONG count() const { return count_; }

 private:
  CK_ATTRIBUTE_PTR caller_;
  CK_ULONG count_;
  std::vector<CK_ATTRIBUTE> local_;
  CK_KEY_TYPE backendKeyType_ = kCamelliaBackendKeyType;
  bool translated_ = false;
  CK_RV status_ = CKR_OK;
};

// Presents the backend's key type of Camellia keys as CKK_CAMELLIA in attribute values
// that C_GetAttributeValue has filled.
void presentKeyTypes(CK_ATTRIBUTE_PTR attributes, CK_ULONG count);

// CKM_CAMELLIA_KEY_GEN. The template must give CKA_VALUE_LEN 16, 24 or 32 and may give
// CKA_CLASS CKO_SECRET_KEY and CKA_KEY_TYPE CKK_CAMELLIA, but no CKA_VALUE.
CK_RV generateCamelliaKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                          CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, CK_OBJECT_HANDLE_PTR key);

// Whether the key is a Camellia key, for the emulations that claim Camellia keys.
bool isCamelliaKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);

}  // namespace zorvel::core

#endif
