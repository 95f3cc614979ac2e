// The OAEP variants the backend lacks, carried out over its raw RSA (CKM_RSA_X_509).
// SoftHSM2 does OAEP only with SHA-1, MGF1-SHA1 and no label; with any other SHA digest
// for the hash or for MGF1, or with a label, the stand-in does the encoding itself:
//
//   C_EncryptInit, C_Encrypt   software encoding, raw encryption by the backend
//   C_DecryptInit, C_Decrypt   raw decryption by the backend, software decoding
//   C_WrapKey                  the CKA_VALUE of an extractable, non-sensitive secret key,
//                              encoded and encrypted with the public key's modulus and
//                              exponent
//   C_UnwrapKey                raw decryption by the backend, decoding, and
//                              C_CreateObject of the caller's template with CKA_VALUE
//
// An emulated encryption or decryption keeps a raw operation active in the backend from
// its Init to the call that ends it, so that the backend still judges the key, the
// session and the operations that may start meanwhile; the stand-in keeps the OAEP
// parameters per session beside it. Every other call goes to the backend unchanged.
//
// These functions sit between the stand-in and the module: they take the module's slot
// IDs and the mechanisms as already translated (mechanism_translation.h).
#ifndef ZORVEL_TOKEN_CORE_OAEP_EMULATION_H
#define ZORVEL_TOKEN_CORE_OAEP_EMULATION_H

#include "pkcs11.h"

namespace zorvel::core {

// The module's functions with the emulation in front of them. A module that lacks a
// function the emulation needs gets none.
CK_FUNCTION_LIST withOaepEmulation(const CK_FUNCTION_LIST &module);

}  // namespace zorvel::core

#endif
