// The symmetric emulations, rows of the table in emulation_table.cpp (emulation.h): the
// mechanisms the stand-in adds, carried out in software with OpenSSL.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_SYMMETRIC_EMULATIONS_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_SYMMETRIC_EMULATIONS_H

#include "operations/emulation.h"

namespace zorvel::core {

// CKM_AES_MAC and CKM_CAMELLIA_MAC (cbc_mac_emulation.cpp): sign and verify.
bool claimsCbcMac(const OperationRequest &request);
CK_RV startCbcMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

// CKM_AES_GMAC (gmac_emulation.cpp): sign and verify.
bool claimsGmac(const OperationRequest &request);
CK_RV startGmac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

// CKM_CAMELLIA_ECB and CKM_CAMELLIA_CBC (camellia_cipher_emulation.cpp): encrypt and
// decrypt.
bool claimsCamelliaCipher(const OperationRequest &request);
CK_RV startCamelliaCipher(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

}  // namespace zorvel::core

#endif
