// The OAEP variants the backend lacks, emulated (emulation.h) over its raw RSA
// (CKM_RSA_X_509). SoftHSM2 does OAEP only with SHA-1, MGF1-SHA1 and no label; with any
// other SHA digest for the hash or for MGF1, or with a label, the stand-in does the
// encoding itself:
//
//   C_EncryptInit, C_Encrypt   software encoding, raw encryption by the backend
//   C_DecryptInit, C_Decrypt   raw decryption by the backend, software decoding
//   C_WrapKey, C_UnwrapKey     see oaep_key_wrapping.h
//
// An emulated encryption or decryption keeps a raw operation active in the backend from
// its Init to the call that ends it, so that the backend still judges the key, the
// session and the operations that may start meanwhile; the operation object keeps the
// OAEP parameters beside it.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_OAEP_EMULATION_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_OAEP_EMULATION_H

#include "operations/emulation.h"

namespace zorvel::core {

// Whether the mechanism is an OAEP variant the stand-in carries out (any family).
bool claimsEmulatedOaep(const OperationRequest &request);

CK_RV startOaepEncryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);
CK_RV startOaepDecryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);

}  // namespace zorvel::core

#endif
