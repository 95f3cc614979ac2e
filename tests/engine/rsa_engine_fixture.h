/*
 * Shared ground of the RSA engine tests: the engine loaded against the stand-in token with
 * a given configuration, a session of the test's own on that token, the error queue read
 * back, and software RSA with plain OpenSSL to check results.
 */
#ifndef RSA_ENGINE_FIXTURE_H
#define RSA_ENGINE_FIXTURE_H

#include "rsa_token_keys.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

struct RsaEngineSettings {
    bool enableRSA = true;
    bool enableSSLv3 = false;
    bool enableDigest = false;
    bool enableRand = false;
};

/* One entry of OpenSSL's error queue. */
struct QueuedError {
    std::string function; /* the engine's function name, such as "ZORVEL_F_FIND_OBJECT" */
    std::string reason;   /* the reason string, such as "Key handle not found" */
    std::string data;     /* error data, such as "C_Sign=0x00000068" */
};

/* Empties the error queue into a list, oldest first. */
std::vector<QueuedError> take_errors();
/* True when an entry has the function name, the reason string and (when given) the data. */
bool has_error(const std::vector<QueuedError> &errors, const std::string &function, const std::string &reason,
               const std::string &data = "");
/* The queue as text, for failure messages. */
std::string describe(const std::vector<QueuedError> &errors);

/* Software RSA on a provider key, without the engine; empty on failure. */
Bytes software_encrypt(EVP_PKEY *key, int padding, const Bytes &in);
Bytes software_decrypt(EVP_PKEY *key, int padding, const Bytes &in);
/* Private-key operation with PKCS#1 block type 1 or no padding, and its public inverse. */
Bytes software_sign_raw(EVP_PKEY *key, int padding, const Bytes &in);
Bytes software_verify_recover(EVP_PKEY *key, int padding, const Bytes &sig);

/* A message of `len` bytes that fits below any modulus (first byte 0). */
Bytes test_message(size_t len);

/*
 * Base fixture of a test suite: SetUpTestSuite loads the engine with the suite's settings
 * (each suite runs in a process of its own) and opens the test's token session.
 */
class RsaEngineTest : public ::testing::Test {
protected:
    static void load(const RsaEngineSettings &settings);
    static void unload();

    void SetUp() override;
    void TearDown() override;

    /* Syslog lines the engine wrote since the test began. */
    static std::vector<std::string> log_lines();
    static bool logged(const std::string &line);
    static void clear_log();

    static ENGINE *engine_;
    static TokenKeys *token_;
};

#endif
