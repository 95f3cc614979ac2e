// ECDH with a key derivation function the module lacks (SoftHSM2 takes only CKD_NULL and
// refuses CKD_SHA256_KDF with CKR_MECHANISM_PARAM_INVALID). CKM_ECDH1_DERIVE with
// CKD_SHA1_KDF, CKD_SHA224_KDF, CKD_SHA256_KDF, CKD_SHA384_KDF or CKD_SHA512_KDF runs as:
//
//   1. the module's ECDH with CKD_NULL into a temporary session key (generic secret,
//      extractable, not sensitive): the shared secret Z;
//   2. the ANSI X9.63 KDF over Z and the caller's shared data, as long as the new key;
//   3. C_CreateObject of the caller's template with CKA_VALUE in place of CKA_VALUE_LEN;
//   4. the temporary key destroyed, whatever happened.
//
// The new key's length is the fixed length of a DES key type, else the template's
// CKA_VALUE_LEN, which for an AES key must be 16, 24 or 32 bytes, as the module's own
// derivation requires; a DES key is given odd parity, as the module gives it.
#ifndef ZORVEL_TOKEN_CORE_EMULATIONS_ECDH_KDF_H
#define ZORVEL_TOKEN_CORE_EMULATIONS_ECDH_KDF_H

#include "operations/emulation.h"
#include "pkcs11.h"

#include <cstddef>
#include <vector>

namespace zorvel::core {

// The X9.63 KDF: the concatenation of Hash(Z || counter || sharedInfo) for the counter
// 1, 2, ... as a 32-bit big-endian number, cut to `length` bytes. False when the KDF
// type is not one of the five SHA KDFs.
bool x963Kdf(CK_EC_KDF_TYPE kdf, const std::vector<CK_BYTE> &z, const CK_BYTE *sharedInfo,
             std::size_t sharedInfoLength, std::size_t length, std::vector<CK_BYTE> *key);

bool claimsEcdhWithKdf(const OperationRequest &request);
CK_RV deriveEcdhWithKdf(const OperationRequest &request, AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key);

}  // namespace zorvel::core

#endif
