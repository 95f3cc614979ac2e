#include "rsa_engine_fixture.h"

#include <openssl/err.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <sstream>

using namespace engine_harness;

/* --------------------------------------------------------------- error queue */

bool has_error(const std::vector<error_entry> &errors, const std::string &function, int reason, const std::string &data)
{
    for (const error_entry &e : errors)
        if (is_engine_library(e.lib) && e.function == function && e.reason == reason &&
            (data.empty() || e.data == data))
            return true;
    return false;
}

std::string describe(const std::vector<error_entry> &errors)
{
    std::ostringstream out;
    for (const error_entry &e : errors)
        out << "[" << e.function << " " << e.lib << "/" << e.reason << " " << e.data << "] ";
    return out.str();
}

std::string drained_errors()
{
    return describe(take_errors());
}

/* ------------------------------------------------------------- software RSA */

namespace {

using pkey_init_fn = int (*)(EVP_PKEY_CTX *);
using pkey_op_fn = int (*)(EVP_PKEY_CTX *, unsigned char *, size_t *, const unsigned char *, size_t);

Bytes pkey_op(EVP_PKEY *key, int padding, const Bytes &in, pkey_init_fn init, pkey_op_fn op)
{
    Bytes out;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t len = 0;
    if (ctx != nullptr && init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
        op(ctx, nullptr, &len, in.data(), in.size()) == 1) {
        out.resize(len);
        if (op(ctx, out.data(), &len, in.data(), in.size()) == 1)
            out.resize(len);
        else
            out.clear();
    }
    EVP_PKEY_CTX_free(ctx);
    return out;
}

} // namespace

Bytes software_encrypt(EVP_PKEY *key, int padding, const Bytes &in)
{
    return pkey_op(key, padding, in, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt);
}

Bytes software_decrypt(EVP_PKEY *key, int padding, const Bytes &in)
{
    return pkey_op(key, padding, in, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt);
}

Bytes software_sign_raw(EVP_PKEY *key, int padding, const Bytes &in)
{
    return pkey_op(key, padding, in, EVP_PKEY_sign_init, EVP_PKEY_sign);
}

Bytes software_verify_recover(EVP_PKEY *key, int padding, const Bytes &sig)
{
    return pkey_op(key, padding, sig, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover);
}

Bytes test_message(size_t len)
{
    Bytes message(len);
    for (size_t i = 0; i < len; ++i)
        message[i] = static_cast<unsigned char>(i * 7 + 1);
    if (len > 0)
        message[0] = 0;
    return message;
}

bool logged_token_object()
{
    for (const std::string &message : log_messages()) {
        size_t at = message.find(", object handle ");
        if (at != std::string::npos && std::atoi(message.c_str() + at + 16) != 0)
            return true;
    }
    return false;
}

/* ------------------------------------------------------------------ fixture */

ENGINE *RsaEngineTest::engine_ = nullptr;
TokenKeys *RsaEngineTest::token_ = nullptr;

void RsaEngineTest::load(const RsaEngineSettings &settings)
{
    const char *pin = getenv("ZORVEL_TEST_USER_PIN");
    ASSERT_NE(pin, nullptr) << "the test runs against a provisioned token";
    config cfg;
    cfg.lib = quoted(settings.lib);
    cfg.user_pin = settings.user_pin.empty() ? quoted(pin) : settings.user_pin;
    cfg.openssl_extra = std::string("    enableRSA = ") + (settings.enableRSA ? "true" : "false") +
                        ";\n    enableSSLv3 = " + (settings.enableSSLv3 ? "true" : "false") +
                        ";\n    enableDigest = " + (settings.enableDigest ? "true" : "false") +
                        ";\n    enableRand = " + (settings.enableRand ? "true" : "false") + ";\n";
    write_config(cfg.text());
    ENGINE *e = load_engine().release();
    ASSERT_NE(e, nullptr) << "binding failed: " << drained_errors();
    if (!ENGINE_init(e)) {
        ENGINE_free(e);
        FAIL() << "engine not initialised: " << drained_errors();
    }
    engine_ = e;
    token_ = new TokenKeys;
    ASSERT_TRUE(token_->open(ZORVEL_TEST_TOKEN_LIBRARY)) << "no session of the test's own on the token";
}

void RsaEngineTest::unload()
{
    delete token_;
    token_ = nullptr;
    if (engine_ != nullptr) {
        ENGINE_finish(engine_);
        ENGINE_free(engine_);
        engine_ = nullptr;
    }
}

void RsaEngineTest::SetUp()
{
    ASSERT_NE(engine_, nullptr);
    ERR_clear_error();
    syslog_capture::reset();
}

void RsaEngineTest::TearDown()
{
    ERR_clear_error();
}
