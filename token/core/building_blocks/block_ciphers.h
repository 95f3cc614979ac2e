// The OpenSSL ciphers behind the symmetric emulations: AES and Camellia by mode and key
// length, and an encryption or decryption context that is freed and wiped with its owner.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_BLOCK_CIPHERS_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_BLOCK_CIPHERS_H

#include <openssl/evp.h>

#include <cstddef>
#include <memory>

namespace zorvel::core {

enum class BlockCipher { Aes, Camellia };
enum class CipherMode { Ecb, Cbc, Gcm };

constexpr std::size_t kCipherBlockLength = 16;

// Null when there is no such cipher (Camellia GCM) or the key length is not 16, 24 or 32.
const EVP_CIPHER *evpCipher(BlockCipher cipher, CipherMode mode, std::size_t keyLength);

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// A context set up for encryption (or decryption) without padding; null on failure.
CipherContext newCipherContext(const EVP_CIPHER *cipher, const unsigned char *key, const unsigned char *iv,
                               bool encrypt);

}  // namespace zorvel::core

#endif
