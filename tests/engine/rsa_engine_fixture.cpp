#include "rsa_engine_fixture.h"

#include <openssl/err.h>
#include <openssl/rsa.h>

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

/* ------------------------------------------------------------ syslog capture */

/*
 * The engine writes its trace with syslog(); the test program defines syslog itself and
 * exports it, so the engine's calls land here instead of in the system log.
 */
namespace {

std::mutex log_mutex;
std::vector<std::string> log_store;

void store_line(const char *format, va_list args)
{
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    std::lock_guard<std::mutex> guard(log_mutex);
    log_store.emplace_back(line);
}

} // namespace

extern "C" void syslog(int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    store_line(format, args);
    va_end(args);
}

extern "C" void __syslog_chk(int, int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    store_line(format, args);
    va_end(args);
}

/* --------------------------------------------------------------- error queue */

std::vector<QueuedError> take_errors()
{
    std::vector<QueuedError> errors;
    const char *func = nullptr;
    const char *data = nullptr;
    int flags = 0;
    unsigned long code;
    while ((code = ERR_get_error_all(nullptr, nullptr, &func, &data, &flags)) != 0) {
        const char *reason = ERR_reason_error_string(code);
        errors.push_back({func != nullptr ? func : "", reason != nullptr ? reason : std::to_string(ERR_GET_REASON(code)),
                          (flags & ERR_TXT_STRING) && data != nullptr ? data : ""});
    }
    return errors;
}

bool has_error(const std::vector<QueuedError> &errors, const std::string &function, const std::string &reason,
               const std::string &data)
{
    for (const QueuedError &e : errors)
        if (e.function == function && e.reason == reason && (data.empty() || e.data == data))
            return true;
    return false;
}

std::string describe(const std::vector<QueuedError> &errors)
{
    std::ostringstream out;
    for (const QueuedError &e : errors)
        out << "[" << e.function << " | " << e.reason << " | " << e.data << "] ";
    return out.str();
}

/* ------------------------------------------------------------- software RSA */

namespace {

using pkey_init_fn = int (*)(EVP_PKEY_CTX *);
using pkey_op_fn = int (*)(EVP_PKEY_CTX *, unsigned char *, size_t *, const unsigned char *, size_t);

Bytes software_op(EVP_PKEY *key, int padding, const Bytes &in, pkey_init_fn init, pkey_op_fn op)
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
    return software_op(key, padding, in, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt);
}

Bytes software_decrypt(EVP_PKEY *key, int padding, const Bytes &in)
{
    return software_op(key, padding, in, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt);
}

Bytes software_sign_raw(EVP_PKEY *key, int padding, const Bytes &in)
{
    return software_op(key, padding, in, EVP_PKEY_sign_init, EVP_PKEY_sign);
}

Bytes software_verify_recover(EVP_PKEY *key, int padding, const Bytes &sig)
{
    return software_op(key, padding, sig, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover);
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

/* ------------------------------------------------------------------ fixture */

ENGINE *RsaEngineTest::engine_ = nullptr;
TokenKeys *RsaEngineTest::token_ = nullptr;

namespace {

/* The test engine reads its configuration below the working directory (the token folder
 * that the test runs in). */
void write_config(const RsaEngineSettings &settings)
{
    mkdir("etc", 0755);
    mkdir("etc/zorvel", 0755);
    const char *pin = getenv("ZORVEL_TEST_USER_PIN");
    std::ofstream cfg("etc/zorvel/zorvel.cfg");
    cfg << "zorvel: {\n"
        << "  openssl: {\n"
        << "    lib = \"" << ZORVEL_TEST_TOKEN_LIBRARY << "\";\n"
        << "    user_pin = \"" << (pin != nullptr ? pin : "") << "\";\n"
        << "    slotId = 0;\n"
        << "    enableRSA = " << (settings.enableRSA ? "true" : "false") << ";\n"
        << "    enableSSLv3 = " << (settings.enableSSLv3 ? "true" : "false") << ";\n"
        << "    enableDigest = " << (settings.enableDigest ? "true" : "false") << ";\n"
        << "    enableRand = " << (settings.enableRand ? "true" : "false") << ";\n"
        << "  };\n"
        << "};\n";
}

} // namespace

void RsaEngineTest::load(const RsaEngineSettings &settings)
{
    write_config(settings);
    ENGINE_load_dynamic();
    ENGINE *e = ENGINE_by_id("dynamic");
    ASSERT_NE(e, nullptr);
    if (!ENGINE_ctrl_cmd_string(e, "SO_PATH", ZORVEL_TEST_ENGINE, 0) || !ENGINE_ctrl_cmd_string(e, "ID", "zorvel", 0) ||
        !ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0)) {
        ENGINE_free(e);
        FAIL() << "engine not loaded: " << describe(take_errors());
    }
    if (!ENGINE_init(e)) {
        ENGINE_free(e);
        FAIL() << "engine not initialised: " << describe(take_errors());
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
    clear_log();
}

void RsaEngineTest::clear_log()
{
    std::lock_guard<std::mutex> guard(log_mutex);
    log_store.clear();
}

void RsaEngineTest::TearDown()
{
    ERR_clear_error();
}

std::vector<std::string> RsaEngineTest::log_lines()
{
    std::lock_guard<std::mutex> guard(log_mutex);
    return log_store;
}

bool RsaEngineTest::logged(const std::string &line)
{
    std::lock_guard<std::mutex> guard(log_mutex);
    for (const std::string &stored : log_store) {
        /* Every line is "eZorvel(<thread id>) " and the message. */
        size_t start = stored.find(") ");
        if (stored.rfind("eZorvel(", 0) == 0 && start != std::string::npos && stored.substr(start + 2) == line)
            return true;
    }
    return false;
}
