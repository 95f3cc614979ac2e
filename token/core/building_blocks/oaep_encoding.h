// RSA OAEP encoding and decoding (PKCS #1 v2.2, EME-OAEP) with any SHA digest for the
// hash and for MGF1 and with a label, done in software with OpenSSL; and the raw RSA
// public-key operation. The RSA operation on the token's keys is the backend's.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_OAEP_ENCODING_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_OAEP_ENCODING_H

#include "building_blocks/secret_bytes.h"
#include "pkcs11.h"

#include <openssl/evp.h>

#include <cstddef>

namespace zorvel::core {

struct OaepScheme {
  const EVP_MD *digest = nullptr;
  const EVP_MD *mgf1Digest = nullptr;
  Bytes label;
};

// The longest message the scheme encodes into a block of k bytes; 0 when the block
// cannot hold the scheme at all (see fitsBlock).
std::size_t maxMessageLength(const OaepScheme &scheme, std::size_t k);
// Whether a k-byte block holds an encoding, even of an empty message.
bool fitsBlock(const OaepScheme &scheme, std::size_t k);

// Encodes message into a block of k bytes (k bytes at block). False when the message is
// too long or OpenSSL fails.
bool oaepEncode(const OaepScheme &scheme, const CK_BYTE *message, std::size_t length, CK_BYTE *block, std::size_t k);
// Decodes a whole k-byte block, leading zero byte included. False when the block is not
// a valid encoding under the scheme.
bool oaepDecode(const OaepScheme &scheme, const CK_BYTE *block, std::size_t k, Bytes *message);

// block^exponent mod modulus, as many bytes as the modulus, into out. The block must be
// as long as the modulus and smaller than it.
bool rsaPublicRaw(const Bytes &modulus, const Bytes &exponent, const CK_BYTE *block, CK_BYTE *out);

}  // namespace zorvel::core

#endif
