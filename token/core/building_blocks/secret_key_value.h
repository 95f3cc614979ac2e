// The value of an extractable secret key, for the stand-in to wrap it in software. A key
// that is not sensitive shows it in CKA_VALUE; a sensitive one is wrapped by the module
// (CKM_AES_KEY_WRAP_PAD) under a transient session key whose value the stand-in chose,
// and unwrapped again in software.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_SECRET_KEY_VALUE_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_SECRET_KEY_VALUE_H

#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

// Reads an attribute of any length.
CK_RV readAttributeBytes(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                         CK_ATTRIBUTE_TYPE type, std::vector<CK_BYTE> *value);

// What the module wraps of an extractable key, a secret key's value or a private key's
// PKCS#8 PrivateKeyInfo, by its wrapping under a transient key unwrapped in software.
CK_RV keyBytesByTransientKey(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                             std::vector<CK_BYTE> *bytes);

// CKR_ATTRIBUTE_SENSITIVE when the module lets the value out by neither way.
CK_RV extractableKeyValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                          std::vector<CK_BYTE> *value);

}  // namespace zorvel::core

#endif
