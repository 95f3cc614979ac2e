#include "support/namespace_openssl.h"

#include <openssl/crypto.h>

namespace zorvel::core {

void keepApplicationOpensslConfigOut() {
  // Marks the configuration as loaded once and for all: later requests to load it, the
  // backend's among them, do nothing.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

}  // namespace zorvel::core
