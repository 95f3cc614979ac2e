#include "emulations/camellia_key_generation.h"

#include "building_blocks/secret_bytes.h"
#include "conventions/camellia_keys.h"
#include "operations/forwarded_operation.h"

#include <openssl/rand.h>

#include <vector>

namespace zorvel::core {

bool claimsCamelliaKeyGeneration(const OperationRequest &request) {
  return request.mechanism->mechanism == CKM_CAMELLIA_KEY_GEN;
}

CK_RV generateCamelliaKey(const OperationRequest &request, AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key) {
  const CK_ATTRIBUTE_PTR tmpl = keyTemplate.attributes;
  const CK_ULONG count = keyTemplate.count;
  const CK_MECHANISM_PTR mechanism = request.mechanism;
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
  Bytes value(length);
  const WipedOnExit valueWiped(value);
  if (RAND_priv_bytes(value.data(), static_cast<int>(length)) != 1) return CKR_GENERAL_ERROR;
  backendTemplate.push_back({CKA_VALUE, value.data(), length});
  return callModule(request.module.C_CreateObject, request.session, backendTemplate.data(), backendTemplate.size(),
                    key);
}

}  // namespace zorvel::core
