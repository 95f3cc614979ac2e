// An RSA key's modulus as the module sizes the key: by the number's value. CKA_MODULUS is
// a big integer, which may carry leading zero bytes (00||n of 129 bytes for a 1024-bit
// key); the key's block is then shorter than the attribute.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_RSA_MODULUS_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_RSA_MODULUS_H

#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

// PKCS#1 v1.5 padding takes at least this many bytes of the block: a block holds at most
// the modulus length less it.
constexpr CK_ULONG kPkcs1PaddingLength = 11;

// The key's modulus, big-endian, without leading zero bytes; empty when it cannot be read
// (or is zero). Its size is the key's block length in bytes.
std::vector<CK_BYTE> modulusValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);

}  // namespace zorvel::core

#endif
