// The key types each mechanism works with. Every Init, C_WrapKey, C_UnwrapKey and
// C_DeriveKey asks it before the module or an emulation sees the key: the module takes a
// key of another type at Init for the mechanisms it does not check itself and then ends
// the process in the operation (measured on SoftHSM2: CKM_DSA with an RSA or AES key,
// CKM_RSA_PKCS verification with an AES key, SIGSEGV; CKM_RSA_X_509 with a DES3 key,
// exit status 5). A mechanism the table does not name goes on as before.
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_MECHANISM_KEY_TYPES_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_MECHANISM_KEY_TYPES_H

#include "operations/emulation.h"
#include "pkcs11.h"

namespace zorvel::core {

// The answer to the request's key when its CKA_KEY_TYPE (as the caller sees it, through
// the template translations) is not one the mechanism works with:
// CKR_WRAPPING_KEY_TYPE_INCONSISTENT for C_WrapKey, CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT
// for C_UnwrapKey, CKR_KEY_TYPE_INCONSISTENT otherwise. CKR_OK for a mechanism the table
// does not name, a call without a key, and a key whose type cannot be read (the module
// answers for the handle).
CK_RV keyTypeRefusal(const OperationRequest &request);

}  // namespace zorvel::core

#endif
