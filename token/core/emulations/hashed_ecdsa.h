// ECDSA with hashing, which the module lacks (SoftHSM2 answers CKR_MECHANISM_INVALID to
// CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512): the stand-in hashes the data and the module signs
// or verifies the digest with CKM_ECDSA. The module's raw operation is started at the
// Init and stays active until the call that ends the emulated one, so the module still
// judges the key and refuses a second operation on the session meanwhile; C_Sign,
// C_SignFinal, C_Verify and C_VerifyFinal make the one raw call that completes it, and a
// length query or a too small buffer leaves both active. Single-part and multi-part.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_HASHED_ECDSA_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_HASHED_ECDSA_H

#include "operations/emulation.h"
#include "pkcs11.h"

namespace zorvel::core {

// CKM_ECDSA_SHA1, CKM_ECDSA_SHA224, CKM_ECDSA_SHA256, CKM_ECDSA_SHA384, CKM_ECDSA_SHA512.
bool isHashedEcdsa(CK_MECHANISM_TYPE type);

bool claimsHashedEcdsa(const OperationRequest &request);
CK_RV startHashedEcdsa(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

}  // namespace zorvel::core

#endif
