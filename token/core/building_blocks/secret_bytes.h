// Bytes of key material (a key's value, a shared secret, a block holding either) and their
// wiping before the memory that held them is given back.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_SECRET_BYTES_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_SECRET_BYTES_H

#include "pkcs11.h"

#include <openssl/crypto.h>

#include <vector>

namespace zorvel::core {

using Bytes = std::vector<CK_BYTE>;

// Overwrites key material before its memory is released.
inline void wipe(Bytes *bytes) {
  if (!bytes->empty()) OPENSSL_cleanse(bytes->data(), bytes->size());
}

// Wipes the bytes when it goes out of scope: on every path out, exceptions included.
class WipedOnExit {
 public:
  explicit WipedOnExit(Bytes &bytes) : bytes_(bytes) {}
  ~WipedOnExit() { wipe(&bytes_); }
  WipedOnExit(const WipedOnExit &) = delete;
  WipedOnExit &operator=(const WipedOnExit &) = delete;

 private:
  Bytes &bytes_;
};

}  // namespace zorvel::core

#endif
