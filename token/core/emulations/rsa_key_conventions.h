// Two uses of RSA keys that this library accepts and the module refuses
// (CKR_KEY_FUNCTION_NOT_PERMITTED), emulated (emulation.h) with the module operation
// that gives the same result:
//
//   C_EncryptInit(CKM_RSA_PKCS) with a private key   a PKCS#1 v1.5 block type 1
//                                                     signature: C_SignInit/C_Sign
//   C_DecryptInit(CKM_RSA_X_509) with a public key   the raw public-key operation:
//                                                     C_EncryptInit/C_Encrypt
//
// The module's operation stays active from the Init to the C_Encrypt or C_Decrypt that
// completes it; both are single-part.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_RSA_KEY_CONVENTIONS_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_RSA_KEY_CONVENTIONS_H

#include "operations/emulation.h"

namespace zorvel::core {

bool claimsPrivateKeyEncryption(const OperationRequest &request);
CK_RV startPrivateKeyEncryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

bool claimsPublicKeyDecryption(const OperationRequest &request);
CK_RV startPublicKeyDecryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

}  // namespace zorvel::core

#endif
