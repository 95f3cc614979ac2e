// CKM_CAMELLIA_KEY_GEN, which the module lacks: the key is made with C_CreateObject from a
// value the stand-in draws itself, as a generic secret of the module's key type that
// stands for Camellia (conventions/camellia_keys.h), so it is not CKA_LOCAL and has no
// CKA_KEY_GEN_MECHANISM. The template must give CKA_VALUE_LEN 16, 24 or 32 and may give
// CKA_CLASS CKO_SECRET_KEY and CKA_KEY_TYPE CKK_CAMELLIA, but no CKA_VALUE.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_CAMELLIA_KEY_GENERATION_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_CAMELLIA_KEY_GENERATION_H

#include "operations/emulation.h"

namespace zorvel::core {

bool claimsCamelliaKeyGeneration(const OperationRequest &request);
CK_RV generateCamelliaKey(const OperationRequest &request, AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key);

}  // namespace zorvel::core

#endif
