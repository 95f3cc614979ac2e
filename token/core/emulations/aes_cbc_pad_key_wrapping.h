// C_WrapKey and C_UnwrapKey of an RSA private key with CKM_AES_CBC_PAD, which the module
// has for encryption but refuses for wrapping (CKR_MECHANISM_INVALID), emulated
// (emulation.h) with its encryption:
//
//   C_WrapKey    the key's components as a PKCS#8 PrivateKeyInfo (for a sensitive key
//                the one the module wraps, secret_key_value.h), encrypted with the
//                module's C_Encrypt(CKM_AES_CBC_PAD) under the wrapping key
//   C_UnwrapKey  the module's C_Decrypt(CKM_AES_CBC_PAD) with the unwrapping key, the
//                PrivateKeyInfo parsed, and the key made with C_CreateObject from the
//                caller's template and the components
//
// As a token would, the wrapping key must be an AES key with CKA_WRAP, the unwrapping
// key one with CKA_UNWRAP, and the wrapped key extractable (trusted wrapping key for
// CKA_WRAP_WITH_TRUSTED); as the module does the cipher, the AES key also needs
// CKA_ENCRYPT or CKA_DECRYPT. The cipher runs on a session of the emulation's own, so
// that the caller's operations stay as they are. Other keys to wrap, and templates of
// other keys, go to the module unchanged.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_AES_CBC_PAD_KEY_WRAPPING_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_AES_CBC_PAD_KEY_WRAPPING_H

#include "operations/emulation.h"

namespace zorvel::core {

bool claimsAesCbcPadKeyWrapping(const OperationRequest &request);
CK_RV wrapWithAesCbcPad(const OperationRequest &request, CK_OBJECT_HANDLE key, Output wrapped);
CK_RV unwrapWithAesCbcPad(const OperationRequest &request, Input wrapped, AttributeList keyTemplate,
                          CK_OBJECT_HANDLE_PTR key);

}  // namespace zorvel::core

#endif
