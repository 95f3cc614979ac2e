// The value of a secret key that an emulation uses in software. The key is checked as
// the token checks it before it starts an operation: a secret key of the expected type
// that permits the operation (CKA_ENCRYPT, CKA_SIGN ...). The value is read as
// secret_key_value.h reads it, so a sensitive key must be extractable.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_SOFTWARE_KEY_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_SOFTWARE_KEY_H

#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

// CKR_OK and the value; CKR_KEY_HANDLE_INVALID when the key's attributes cannot be read,
// CKR_KEY_TYPE_INCONSISTENT for another class or type (`backendType` as the module names
// it), CKR_KEY_FUNCTION_NOT_PERMITTED when `permission` is false or the value cannot be
// read (sensitive and not extractable).
CK_RV softwareKeyValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                       CK_KEY_TYPE backendType, CK_ATTRIBUTE_TYPE permission, std::vector<CK_BYTE> *value);

}  // namespace zorvel::core

#endif
