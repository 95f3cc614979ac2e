/*
 * Shared ground of the RSA engine tests: the engine loaded once per test suite against the
 * stand-in token with the suite's configuration, a session of the test's own on that
 * token, the error queue read back, and software RSA with plain OpenSSL to check results.
 */
#ifndef RSA_ENGINE_FIXTURE_H
#define RSA_ENGINE_FIXTURE_H

#include "engine_harness.h"
#include "rsa_token_keys.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;
using engine_harness::error_entry;

struct RsaEngineSettings {
    bool enableRSA = true;
    bool enableSSLv3 = false;
    bool enableDigest = false;
    bool enableRand = false;
    std::string user_pin; /* configuration text of the PIN; empty: ZORVEL_TEST_USER_PIN */
    std::string lib = ZORVEL_TEST_TOKEN_LIBRARY;
};

/* True when an entry of the engine's library has the function name, the reason and (when
 * given) the data. */
bool has_error(const std::vector<error_entry> &errors, const std::string &function, int reason,
               const std::string &data = "");
/* The queue as text, for failure messages. */
std::string describe(const std::vector<error_entry> &errors);
/* Empties the queue and describes it. */
std::string drained_errors();

/* Software RSA on a provider key, without the engine; empty on failure. */
Bytes software_encrypt(EVP_PKEY *key, int padding, const Bytes &in);
Bytes software_decrypt(EVP_PKEY *key, int padding, const Bytes &in);
/* Private-key operation with PKCS#1 block type 1 or no padding, and its public inverse. */
Bytes software_sign_raw(EVP_PKEY *key, int padding, const Bytes &in);
Bytes software_verify_recover(EVP_PKEY *key, int padding, const Bytes &sig);

/* A message of `len` bytes that fits below any modulus (first byte 0). */
Bytes test_message(size_t len);

/* True when a trace line of the engine names a non-zero token object handle. */
bool logged_token_object();

/*
 * Base fixture of a test suite: the suite's SetUpTestSuite calls load() with its settings
 * (each suite runs in a process of its own) and its TearDownTestSuite unload().
 */
class RsaEngineTest : public ::testing::Test {
protected:
    static void load(const RsaEngineSettings &settings);
    static void unload();

    void SetUp() override;
    void TearDown() override;

    static ENGINE *engine_;
    static TokenKeys *token_;
};

#endif
