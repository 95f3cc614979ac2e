// Which mechanisms the stand-in offers for which operations, where that differs from the
// backend: mechanisms it carries out itself (added to the backend's list, with their
// records) and operations it refuses with CKR_MECHANISM_INVALID before it looks at the
// key, as the vendor's token does.
//
//   added     CKM_AES_MAC, CKM_AES_GMAC (sign, verify; 16..32 bytes)
//             CKM_CAMELLIA_KEY_GEN (generate), CKM_CAMELLIA_ECB, CKM_CAMELLIA_CBC
//             (encrypt, decrypt), CKM_CAMELLIA_MAC (sign, verify); 16..32 bytes
//   refused   an added mechanism for any operation it does not offer (so no Camellia
//             wrapping), CKM_CAMELLIA_CBC_PAD for everything, CKM_DES3_CBC for encryption
#ifndef ZORVEL_TOKEN_CORE_OFFERED_MECHANISMS_H
#define ZORVEL_TOKEN_CORE_OFFERED_MECHANISMS_H

#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

// The backend's list with the added mechanisms behind it (each once).
std::vector<CK_MECHANISM_TYPE> offeredMechanismList(const std::vector<CK_MECHANISM_TYPE> &backendList);

// The record of an added mechanism; false for any other.
bool addedMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info);

// Takes the refused operations out of a backend record's flags.
void withdrawRefusedOperations(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info);

// CKR_MECHANISM_INVALID when the stand-in refuses the mechanism for the operation, named
// by its CKF_ flag (CKF_ENCRYPT, CKF_DECRYPT, CKF_SIGN, CKF_VERIFY, CKF_WRAP, CKF_UNWRAP,
// CKF_GENERATE, CKF_DERIVE ...); CKR_OK when it is left to the emulations or the backend.
CK_RV refusalOf(CK_MECHANISM_TYPE type, CK_FLAGS operation);

}  // namespace zorvel::core

#endif
