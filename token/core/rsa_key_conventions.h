// Two uses of RSA keys that this library accepts and the backend refuses
// (CKR_KEY_FUNCTION_NOT_PERMITTED), carried out with the backend operation that gives
// the same result:
//
//   C_EncryptInit(CKM_RSA_PKCS) with a private key   a PKCS#1 v1.5 block type 1
//                                                     signature: C_SignInit/C_Sign
//   C_DecryptInit(CKM_RSA_X_509) with a public key   the raw public-key operation:
//                                                     C_EncryptInit/C_Encrypt
//
// The session remembers which backend operation its Init started, so that C_Encrypt or
// C_Decrypt completes that one. Every other call passes through unchanged.
#ifndef ZORVEL_TOKEN_CORE_RSA_KEY_CONVENTIONS_H
#define ZORVEL_TOKEN_CORE_RSA_KEY_CONVENTIONS_H

#include "pkcs11.h"

namespace zorvel::core {

CK_RV encryptInitWithKeyConventions(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV encryptWithKeyConventions(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen);
CK_RV decryptInitWithKeyConventions(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV decryptWithKeyConventions(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen);

}  // namespace zorvel::core

#endif
