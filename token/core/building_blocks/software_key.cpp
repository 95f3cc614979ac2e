#include "building_blocks/software_key.h"

#include "building_blocks/secret_key_value.h"

namespace zorvel::core {

CK_RV softwareKeyValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                       CK_KEY_TYPE backendType, CK_ATTRIBUTE_TYPE permission, std::vector<CK_BYTE> *value) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_KEY_TYPE keyType = 0;
  CK_ATTRIBUTE kind[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType}};
  CK_RV rv = module.C_GetAttributeValue(session, key, kind, sizeof kind / sizeof kind[0]);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv != CKR_OK) return rv;
  if (keyClass != CKO_SECRET_KEY || keyType != backendType) return CKR_KEY_TYPE_INCONSISTENT;
  // Only now the permission: a key of another class may lack the attribute
  // (CKR_ATTRIBUTE_TYPE_INVALID), which is no answer to the caller's Init.
  CK_BBOOL permitted = CK_FALSE;
  CK_ATTRIBUTE permissionAttribute = {permission, &permitted, sizeof permitted};
  rv = module.C_GetAttributeValue(session, key, &permissionAttribute, 1);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv != CKR_OK) return rv;
  if (permitted != CK_TRUE) return CKR_KEY_FUNCTION_NOT_PERMITTED;
  if (extractableKeyValue(module, session, key, value) != CKR_OK) return CKR_KEY_FUNCTION_NOT_PERMITTED;
  return CKR_OK;
}

}  // namespace zorvel::core
