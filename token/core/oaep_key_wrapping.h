// C_WrapKey and C_UnwrapKey with the OAEP variants the module lacks (oaep_emulation.h);
// any other mechanism goes to the module unchanged.
#ifndef ZORVEL_TOKEN_CORE_OAEP_KEY_WRAPPING_H
#define ZORVEL_TOKEN_CORE_OAEP_KEY_WRAPPING_H

#include "pkcs11.h"

namespace zorvel::core {

CK_RV wrapKeyWithOaep(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                      CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen);
CK_RV unwrapKeyWithOaep(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                        CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                        CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey);

}  // namespace zorvel::core

#endif
