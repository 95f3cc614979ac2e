// C_WrapKey and C_UnwrapKey with the OAEP variants the module lacks, emulated
// (emulation.h, oaep_emulation.h):
//
//   C_WrapKey     the CKA_VALUE of an extractable secret key (secret_key_value.h),
//                 encoded and encrypted with the public key's modulus and exponent
//   C_UnwrapKey   raw decryption by the backend on a session of its own, decoding, and
//                 C_CreateObject of the caller's template with CKA_VALUE
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_OAEP_KEY_WRAPPING_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_OAEP_KEY_WRAPPING_H

#include "operations/emulation.h"

namespace zorvel::core {

CK_RV wrapKeyWithOaep(const OperationRequest &request, CK_OBJECT_HANDLE key, Output wrapped);
CK_RV unwrapKeyWithOaep(const OperationRequest &request, Input wrapped, AttributeList keyTemplate,
                        CK_OBJECT_HANDLE_PTR key);

}  // namespace zorvel::core

#endif
