#include "building_blocks/block_ciphers.h"

#include <openssl/err.h>

namespace zorvel::core {

const EVP_CIPHER *evpCipher(BlockCipher cipher, CipherMode mode, std::size_t keyLength) {
  const int index = keyLength == 16 ? 0 : keyLength == 24 ? 1 : keyLength == 32 ? 2 : -1;
  if (index < 0) return nullptr;
  using Getter = const EVP_CIPHER *(*)();
  static const Getter kAes[3][3] = {{EVP_aes_128_ecb, EVP_aes_192_ecb, EVP_aes_256_ecb},
                                    {EVP_aes_128_cbc, EVP_aes_192_cbc, EVP_aes_256_cbc},
                                    {EVP_aes_128_gcm, EVP_aes_192_gcm, EVP_aes_256_gcm}};
  static const Getter kCamellia[2][3] = {{EVP_camellia_128_ecb, EVP_camellia_192_ecb, EVP_camellia_256_ecb},
                                         {EVP_camellia_128_cbc, EVP_camellia_192_cbc, EVP_camellia_256_cbc}};
  const int row = static_cast<int>(mode);
  if (cipher == BlockCipher::Aes) return kAes[row][index]();
  return mode == CipherMode::Gcm ? nullptr : kCamellia[row][index]();
}

CipherContext newCipherContext(const EVP_CIPHER *cipher, const unsigned char *key, const unsigned char *iv,
                               bool encrypt) {
  CipherContext ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr || cipher == nullptr ||
      EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return ctx;
}

}  // namespace zorvel::core
