// What the OAEP emulation (oaep_emulation.h) builds on: the OAEP mechanisms the stand-in
// carries out, and the module's raw RSA (CKM_RSA_X_509).
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_OAEP_RAW_RSA_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_OAEP_RAW_RSA_H

#include "building_blocks/oaep_encoding.h"
#include "pkcs11.h"

namespace zorvel::core {

// The scheme of an OAEP mechanism that the backend cannot carry out and the stand-in
// can; false for every other mechanism, which goes to the backend as it is.
bool emulatedScheme(const CK_MECHANISM *mechanism, OaepScheme *scheme);

enum class Direction { Encrypt, Decrypt };

using InitFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
using RunFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);

// One direction of the module's raw RSA.
struct RawOperation {
  Direction direction;
  InitFunction CK_FUNCTION_LIST::*init;
  RunFunction CK_FUNCTION_LIST::*run;
};

extern const RawOperation kRawEncrypt;
extern const RawOperation kRawDecrypt;

CK_RV startRaw(const CK_FUNCTION_LIST &module, const RawOperation &raw, CK_SESSION_HANDLE session,
               CK_OBJECT_HANDLE key);
// The block length (the modulus length k) of the raw operation active on the session,
// from its length query, which leaves it active. Fails when none is active.
CK_RV activeBlockLength(const CK_FUNCTION_LIST &module, const RawOperation &raw, CK_SESSION_HANDLE session,
                        CK_ULONG *k);
// Ends the raw operation active on the session.
void abortRaw(const CK_FUNCTION_LIST &module, const RawOperation &raw, CK_SESSION_HANDLE session, CK_ULONG k);
// The raw decryption of input (k bytes) by the operation active on the session, which
// ends with it, decoded; CKR_ENCRYPTED_DATA_INVALID when the block is no encoding.
CK_RV decryptAndDecode(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, const OaepScheme &scheme,
                       CK_BYTE_PTR input, CK_ULONG k, Bytes *message);

}  // namespace zorvel::core

#endif
