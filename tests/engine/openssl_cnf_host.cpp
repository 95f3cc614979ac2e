// A host that meets the engine only through its OpenSSL configuration (OPENSSL_CONF with
// an engine section, as servers are set up): the engine is loaded and initialised while
// the configuration loads, serves RSA as OpenSSL's default, and is finished by OpenSSL's
// clean-up when the process exits. Exits 0 when the engine signed on the token.
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstring>

namespace {

int fail(const char *what) {
  std::fprintf(stderr, "openssl_cnf_host: %s\n", what);
  ERR_print_errors_fp(stderr);
  return 1;
}

bool defaultRsaEngineIsZorvel() {
  ENGINE *engine = ENGINE_get_default_RSA();
  if (engine == nullptr) return false;
  const bool zorvel = std::strcmp(ENGINE_get_id(engine), "zorvel") == 0;
  ENGINE_finish(engine);
  return zorvel;
}

// A key pair made on the token through the default RSA method, and a signature with it
// that verifies.
bool signsOnTheToken() {
  RSA *rsa = RSA_new();
  BIGNUM *exponent = BN_new();
  const unsigned char digest[32] = {1, 2, 3};
  unsigned char signature[128];
  unsigned int length = 0;
  const bool ok = rsa != nullptr && exponent != nullptr && BN_set_word(exponent, RSA_F4) == 1 &&
                  RSA_generate_key_ex(rsa, 1024, exponent, nullptr) == 1 &&
                  RSA_sign(NID_sha256, digest, sizeof digest, signature, &length, rsa) == 1 &&
                  RSA_verify(NID_sha256, digest, sizeof digest, signature, length, rsa) == 1;
  BN_free(exponent);
  RSA_free(rsa);
  return ok;
}

}  // namespace

int main() {
  if (OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) != 1) return fail("the configuration did not load");
  if (!defaultRsaEngineIsZorvel()) return fail("the engine is not OpenSSL's default for RSA");
  if (!signsOnTheToken()) return fail("no signature on the token");
  // The engine stays initialised: OpenSSL's clean-up at exit finishes it.
  return 0;
}
