#include "building_blocks/wrapping_keys.h"

namespace zorvel::core {

CK_RV checkKeyRole(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                   const KeyRole &role) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_KEY_TYPE keyType = 0;
  CK_BBOOL permitted = CK_FALSE;
  CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                               {CKA_KEY_TYPE, &keyType, sizeof keyType},
                               {role.usage, &permitted, sizeof permitted}};
  const CK_RV rv = module.C_GetAttributeValue(session, key, attributes, 3);
  if (rv == CKR_OBJECT_HANDLE_INVALID || rv == CKR_KEY_HANDLE_INVALID) return role.handleInvalid;
  if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return role.typeInconsistent;  // not a key
  if (rv != CKR_OK) return rv;
  if (keyClass != role.keyClass || keyType != role.keyType) return role.typeInconsistent;
  return permitted ? CKR_OK : CKR_KEY_FUNCTION_NOT_PERMITTED;
}

CK_RV checkExtractableUnder(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKey,
                            CK_OBJECT_HANDLE key) {
  CK_BBOOL extractable = CK_FALSE;
  CK_BBOOL withTrusted = CK_FALSE;
  CK_ATTRIBUTE attributes[] = {{CKA_EXTRACTABLE, &extractable, sizeof extractable},
                               {CKA_WRAP_WITH_TRUSTED, &withTrusted, sizeof withTrusted}};
  const CK_RV rv = module.C_GetAttributeValue(session, key, attributes, 2);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return CKR_KEY_NOT_WRAPPABLE;  // not a key
  if (rv != CKR_OK) return rv;
  if (!extractable) return CKR_KEY_UNEXTRACTABLE;
  if (!withTrusted) return CKR_OK;
  CK_BBOOL trusted = CK_FALSE;
  CK_ATTRIBUTE attribute = {CKA_TRUSTED, &trusted, sizeof trusted};
  const bool isTrusted = module.C_GetAttributeValue(session, wrappingKey, &attribute, 1) == CKR_OK && trusted;
  return isTrusted ? CKR_OK : CKR_KEY_NOT_WRAPPABLE;
}

HelperSession::HelperSession(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE caller) : module_(module) {
  CK_SESSION_INFO info;
  status_ = module.C_GetSessionInfo(caller, &info);
  if (status_ == CKR_OK) status_ = module.C_OpenSession(info.slotID, CKF_SERIAL_SESSION, nullptr, nullptr, &handle_);
}

HelperSession::~HelperSession() {
  if (status_ == CKR_OK) module_.C_CloseSession(handle_);
}

}  // namespace zorvel::core
