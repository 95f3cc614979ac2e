/*
 * The engine's RSA key method against the stand-in token: signing, verification,
 * encryption and decryption checked against OpenSSL's software RSA with the same
 * control strings, the software fallback of public-key operations, size queries and
 * buffer checks, parameters kept per key context, and key generation.
 */
#include "rsa_engine_fixture.h"

#include "e_zorvel_internal.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>
#include <utility>

namespace {

const int kBits = 2048;
const size_t kModulusLen = kBits / 8;

using Options = std::vector<std::pair<std::string, std::string>>;

struct pkey_deleter {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct pkey_ctx_deleter {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using pkey_ptr = std::unique_ptr<EVP_PKEY, pkey_deleter>;
using pkey_ctx_ptr = std::unique_ptr<EVP_PKEY_CTX, pkey_ctx_deleter>;

using init_fn = int (*)(EVP_PKEY_CTX *);
using out_fn = int (*)(EVP_PKEY_CTX *, unsigned char *, size_t *, const unsigned char *, size_t);

bool apply(EVP_PKEY_CTX *ctx, const Options &options)
{
    for (const auto &[name, value] : options)
        if (EVP_PKEY_CTX_ctrl_str(ctx, name.c_str(), value.c_str()) <= 0)
            return false;
    return true;
}

// Runs one operation with its size query first, as OpenSSL's applications do.
Bytes run(EVP_PKEY_CTX *ctx, init_fn init, out_fn op, const Options &options, const Bytes &in)
{
    size_t len = 0;
    Bytes out;
    if (ctx == nullptr || init(ctx) != 1 || !apply(ctx, options) || op(ctx, nullptr, &len, in.data(), in.size()) != 1)
        return out;
    out.resize(len);
    if (op(ctx, out.data(), &len, in.data(), in.size()) != 1)
        return {};
    out.resize(len);
    return out;
}

int verify(EVP_PKEY_CTX *ctx, const Options &options, const Bytes &sig, const Bytes &tbs)
{
    if (ctx == nullptr || EVP_PKEY_verify_init(ctx) != 1 || !apply(ctx, options))
        return -1;
    return EVP_PKEY_verify(ctx, sig.data(), sig.size(), tbs.data(), tbs.size());
}

// OpenSSL's own RSA on the provider key: never the engine.
pkey_ctx_ptr software_ctx(EVP_PKEY *key)
{
    return pkey_ctx_ptr(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
}

class PkeyMethodTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        load(RsaEngineSettings{});
        if (token_ == nullptr)
            return;
        onToken_ = make_software_rsa(kBits);
        offToken_ = make_software_rsa(kBits);
        ASSERT_TRUE(token_->import_pair(onToken_));
    }
    static void TearDownTestSuite()
    {
        EVP_PKEY_free(onToken_);
        EVP_PKEY_free(offToken_);
        onToken_ = offToken_ = nullptr;
        unload();
    }

    // A context of the engine's key method on an OpenSSL key with the key's values.
    pkey_ctx_ptr engine_ctx(EVP_PKEY *key, bool publicOnly = false)
    {
        keys_.emplace_back(engine_pkey_copy(engine_, key, publicOnly));
        return pkey_ctx_ptr(EVP_PKEY_CTX_new(keys_.back().get(), engine_));
    }

    Bytes engine_sign(EVP_PKEY *key, const Options &options, const Bytes &tbs)
    {
        return with_engine(key, false, EVP_PKEY_sign_init, EVP_PKEY_sign, options, tbs);
    }

    // One operation through the engine's key method, or through OpenSSL's software RSA.
    Bytes with_engine(EVP_PKEY *key, bool publicOnly, init_fn init, out_fn op, const Options &options, const Bytes &in)
    {
        return run(engine_ctx(key, publicOnly).get(), init, op, options, in);
    }
    static Bytes in_software(EVP_PKEY *key, init_fn init, out_fn op, const Options &options, const Bytes &in)
    {
        return run(software_ctx(key).get(), init, op, options, in);
    }

    static Bytes digest_of(size_t len)
    {
        Bytes d = test_message(len);
        if (len > 0)
            d[0] = 0x5a;
        return d;
    }

    std::vector<pkey_ptr> keys_;
    static EVP_PKEY *onToken_;
    static EVP_PKEY *offToken_;
};

EVP_PKEY *PkeyMethodTest::onToken_ = nullptr;
EVP_PKEY *PkeyMethodTest::offToken_ = nullptr;

// A table of cases on the key method's fixture; each case prints as its name.
template <typename Case>
class PkeyCaseTest : public PkeyMethodTest, public ::testing::WithParamInterface<Case> {};

template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case> &info)
{
    return info.param.name;
}

// ---- signatures ----

struct sign_case {
    const char *name;
    Options options;
    size_t tbsLen;
    bool deterministic; // PKCS#1 v1.5 and raw signatures equal OpenSSL's
};

[[maybe_unused]] void PrintTo(const sign_case &c, std::ostream *os) { *os << c.name; }

class PkeySignature : public PkeyCaseTest<sign_case> {};

TEST_P(PkeySignature, TokenSignatureVerifiesInSoftware)
{
    const sign_case &c = GetParam();
    const Bytes tbs = digest_of(c.tbsLen);
    Bytes sig = engine_sign(onToken_, c.options, tbs);
    ASSERT_EQ(sig.size(), kModulusLen) << drained_errors();
    EXPECT_EQ(verify(software_ctx(onToken_).get(), c.options, sig, tbs), 1) << drained_errors();
    if (c.deterministic) {
        EXPECT_EQ(in_software(onToken_, EVP_PKEY_sign_init, EVP_PKEY_sign, c.options, tbs), sig);
    }
}

TEST_P(PkeySignature, SoftwareSignatureVerifiesOnTheTokenAndTamperingFails)
{
    const sign_case &c = GetParam();
    const Bytes tbs = digest_of(c.tbsLen);
    Bytes sig = in_software(onToken_, EVP_PKEY_sign_init, EVP_PKEY_sign, c.options, tbs);
    ASSERT_EQ(sig.size(), kModulusLen);
    EXPECT_EQ(verify(engine_ctx(onToken_).get(), c.options, sig, tbs), 1) << drained_errors();
    sig[kModulusLen / 2] ^= 0x40;
    EXPECT_EQ(verify(engine_ctx(onToken_).get(), c.options, sig, tbs), 0);
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PUBLIC_VERIFY", ZORVEL_R_PKCS11_ERROR) ||
                has_error(errors, "ZORVEL_F_RSA_PRIVATE_SIGN", ZORVEL_R_PKCS11_ERROR))
        << describe(errors);
}

TEST_P(PkeySignature, KeyWithoutTokenObjectVerifiesInSoftware)
{
    const sign_case &c = GetParam();
    const Bytes tbs = digest_of(c.tbsLen);
    Bytes sig = in_software(offToken_, EVP_PKEY_sign_init, EVP_PKEY_sign, c.options, tbs);
    ASSERT_EQ(sig.size(), kModulusLen);
    EXPECT_EQ(verify(engine_ctx(offToken_, true).get(), c.options, sig, tbs), 1) << drained_errors();
    EXPECT_TRUE(engine_harness::logged("RSA pkey verify, object handle invalid. SW fallback"));
    sig[3] ^= 1;
    EXPECT_EQ(verify(engine_ctx(offToken_, true).get(), c.options, sig, tbs), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PkeySignature,
    ::testing::Values(
        sign_case{"Pkcs1Md5", {{"digest", "md5"}}, 16, true},
        sign_case{"Pkcs1Sha1", {{"digest", "sha1"}}, 20, true},
        sign_case{"Pkcs1Sha224", {{"digest", "sha224"}}, 28, true},
        sign_case{"Pkcs1Sha256", {{"digest", "sha256"}}, 32, true},
        sign_case{"Pkcs1Sha384", {{"digest", "sha384"}}, 48, true},
        sign_case{"Pkcs1Sha512", {{"digest", "sha512"}}, 64, true},
        sign_case{"Pkcs1WithoutDigest", {{"rsa_padding_mode", "pkcs1"}}, 100, true},
        sign_case{"PssSha256", {{"rsa_padding_mode", "pss"}, {"digest", "sha256"}, {"rsa_pss_saltlen", "32"}}, 32,
                  false},
        sign_case{"PssSha1SaltDigest",
                  {{"rsa_padding_mode", "pss"}, {"digest", "sha1"}, {"rsa_pss_saltlen", "digest"}}, 20, false},
        sign_case{"PssSha512SaltMax", {{"rsa_padding_mode", "pss"}, {"digest", "sha512"}, {"rsa_pss_saltlen", "max"}},
                  64, false},
        sign_case{"PssSha384NamedMgf1",
                  {{"rsa_padding_mode", "pss"}, {"digest", "sha384"}, {"rsa_mgf1_md", "sha384"},
                   {"rsa_pss_saltlen", "20"}},
                  48, false}),
    case_name<sign_case>);

TEST_F(PkeyMethodTest, SoftwareFallbackLeavesTheErrorQueueAsItWas)
{
    const Options options = {{"digest", "sha256"}};
    const Bytes tbs = digest_of(32);
    Bytes sig = in_software(offToken_, EVP_PKEY_sign_init, EVP_PKEY_sign, options, tbs);
    ERR_raise(ERR_LIB_USER, 77); // the application's own entry
    EXPECT_EQ(verify(engine_ctx(offToken_, true).get(), options, sig, tbs), 1);
    std::vector<error_entry> errors = engine_harness::take_errors();
    ASSERT_EQ(errors.size(), 1u) << describe(errors);
    EXPECT_EQ(errors[0].lib, ERR_LIB_USER);
}

TEST_F(PkeyMethodTest, RawSignatureIsTheModularPowerOfTheInput)
{
    const Bytes tbs = test_message(kModulusLen);
    Bytes sig = engine_sign(onToken_, {{"rsa_padding_mode", "raw"}}, tbs);
    ASSERT_EQ(sig.size(), kModulusLen) << drained_errors();
    EXPECT_EQ(software_verify_recover(onToken_, RSA_NO_PADDING, sig), tbs);
}

TEST_F(PkeyMethodTest, SizeQueryIsAnsweredWithoutTheToken)
{
    pkey_ctx_ptr ctx = engine_ctx(onToken_);
    ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    const Bytes tbs = digest_of(32);
    size_t len = 7;
    EXPECT_EQ(EVP_PKEY_sign(ctx.get(), nullptr, &len, tbs.data(), tbs.size()), 1);
    EXPECT_EQ(len, kModulusLen);
    for (const std::string &line : engine_harness::log_messages())
        EXPECT_EQ(line.find("object handle"), std::string::npos) << line;
}

TEST_F(PkeyMethodTest, SignatureBufferSmallerThanModulusIsRefused)
{
    pkey_ctx_ptr ctx = engine_ctx(onToken_);
    ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    const Bytes tbs = digest_of(32);
    Bytes sig(kModulusLen - 1);
    size_t len = sig.size();
    EXPECT_EQ(EVP_PKEY_sign(ctx.get(), sig.data(), &len, tbs.data(), tbs.size()), 0);
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_SIGN", ZORVEL_R_INVALID_VALUE)) << describe(errors);
}

TEST_F(PkeyMethodTest, DigestOfTheWrongLengthIsRefused)
{
    EXPECT_TRUE(engine_sign(onToken_, {{"digest", "sha256"}}, digest_of(31)).empty());
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_SIGN", ZORVEL_R_INVALID_HASH_LENGTH)) << describe(errors);
}

TEST_F(PkeyMethodTest, PssRefusesMd5)
{
    EXPECT_TRUE(engine_sign(onToken_, {{"rsa_padding_mode", "pss"}, {"digest", "md5"}}, digest_of(16)).empty());
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_SIGN", ZORVEL_R_INVALID_HASH_LENGTH)) << describe(errors);
}

TEST_F(PkeyMethodTest, DigestInfoTooLargeForTheKeyIsRefusedBeforeTheToken)
{
    pkey_ptr small(make_software_rsa(512));
    ASSERT_TRUE(token_->import_pair(small.get()));
    EXPECT_TRUE(engine_sign(small.get(), {{"digest", "sha512"}}, digest_of(64)).empty());
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_SIGN", 112)) << describe(errors);
    EXPECT_TRUE(engine_harness::logged("RSA pkey op with DigestInfo, digest too large for this key"));
}

// The trace of a PKCS#1 v1.5 signature and verification of a SHA-256 digest on a key
// whose handle is cached: each line's priority and text after the prefix, in order. A
// line ending in "object handle " is followed by the handle.
using Trace = std::vector<std::pair<int, std::string>>;

void expect_trace(const Trace &expected, const std::string &what)
{
    const std::vector<syslog_capture::line> captured = syslog_capture::lines();
    const std::vector<std::string> messages = engine_harness::log_messages();
    std::string all;
    for (size_t i = 0; i < messages.size(); ++i)
        all += std::to_string(captured[i].priority) + " " + messages[i] + "\n";
    ASSERT_EQ(messages.size(), expected.size()) << what << ":\n" << all;
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string &line = messages[i];
        const std::string &want = expected[i].second;
        const bool handleLine = want.size() > 14 && want.compare(want.size() - 14, 14, "object handle ") == 0;
        EXPECT_EQ(handleLine ? line.substr(0, want.size()) : line, want) << what << " line " << i;
        EXPECT_EQ(captured[i].priority, expected[i].first) << what << " line " << i << ": " << line;
    }
}

TEST_F(PkeyMethodTest, DigestInfoTraceLineByLine)
{
    const Trace hashCheck = {{LOG_DEBUG, "check hash for data len 32"}, {LOG_DEBUG, "check hash for data len, sha256"}};
    const Trace pkcs1Mechanism = {{LOG_DEBUG, "check mech for RSA pkey"},
                                  {LOG_DEBUG, "check mech for RSA pkey, RSA_PKCS1_PADDING"}};
    auto join = [](std::initializer_list<Trace> parts) {
        Trace all;
        for (const Trace &part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const Trace context = {{LOG_DEBUG, "get ctx"}, {LOG_DEBUG, "entering mutex"}, {LOG_DEBUG, "leaving mutex"}};
    auto cachedHandle = [](const std::string &what) {
        return Trace{{LOG_DEBUG, "fetch RSA handle"},
                     {LOG_DEBUG, "entering mutex"},
                     {LOG_DEBUG, "leaving mutex"},
                     {LOG_DEBUG, what + ", object handle "}};
    };
    auto digestInfo = [&](size_t qlen) {
        return join({{{LOG_DEBUG, "RSA pkey must use DigestInfo"},
                      {LOG_DEBUG, "free RSA pkey mechanism"},
                      {LOG_DEBUG, "RSA pkey op with DigestInfo"},
                      {LOG_DEBUG, "RSA pkey op with DigestInfo, modulusLen 256 dataLen " + std::to_string(qlen)}},
                     hashCheck,
                     cachedHandle("RSA pkey op with DigestInfo"),
                     pkcs1Mechanism,
                     {{LOG_DEBUG, "entering mutex"},
                      {LOG_DEBUG, "leaving mutex"},
                      {LOG_DEBUG, "free RSA pkey mechanism"},
                      {LOG_DEBUG, "clear cached input data"}}});
    };

    const Bytes tbs = digest_of(32);
    pkey_ctx_ptr ctx = engine_ctx(onToken_);
    ASSERT_FALSE(run(ctx.get(), EVP_PKEY_sign_init, EVP_PKEY_sign, {{"digest", "sha256"}}, tbs).empty()); // caches
    Bytes sig(kModulusLen);
    size_t len = sig.size();
    syslog_capture::reset();
    ASSERT_EQ(EVP_PKEY_sign(ctx.get(), sig.data(), &len, tbs.data(), tbs.size()), 1) << drained_errors();
    expect_trace(join({{{LOG_DEBUG, "RSA pkey sign, tbs len 32"}},
                       context,
                       {{LOG_DEBUG, "RSA pkey sign, modulusLen 256 dataLen 32"}},
                       hashCheck,
                       cachedHandle("RSA pkey sign"),
                       pkcs1Mechanism,
                       digestInfo(32)}),
                 "sign");

    ASSERT_EQ(verify(ctx.get(), {{"digest", "sha256"}}, sig, tbs), 1) << drained_errors();
    syslog_capture::reset();
    ASSERT_EQ(EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), tbs.data(), tbs.size()), 1) << drained_errors();
    expect_trace(join({{{LOG_DEBUG, "RSA pkey verify, siglen 256 tbslen 32"}},
                       context,
                       cachedHandle("RSA pkey verify"),
                       hashCheck,
                       pkcs1Mechanism,
                       digestInfo(kModulusLen)}),
                 "verify");
}

// ---- encryption ----

struct crypt_case {
    const char *name;
    Options options;
    size_t messageLen;
    Options software = {}; // the same settings in OpenSSL's terms, where they differ
    const Options &in_openssl_terms() const { return software.empty() ? options : software; }
};

[[maybe_unused]] void PrintTo(const crypt_case &c, std::ostream *os) { *os << c.name; }

class PkeyEncryption : public PkeyCaseTest<crypt_case> {};

// The trace names the token object the operation used, and no software fallback.
void expect_run_on_the_token()
{
    EXPECT_TRUE(logged_token_object());
    for (const std::string &line : engine_harness::log_messages())
        EXPECT_EQ(line.find("SW fallback"), std::string::npos) << line;
}

TEST_P(PkeyEncryption, TokenEncryptionDecryptsInSoftware)
{
    const crypt_case &c = GetParam();
    const Bytes message = digest_of(c.messageLen);
    Bytes cipher = with_engine(onToken_, true, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, c.options, message);
    ASSERT_EQ(cipher.size(), kModulusLen) << drained_errors();
    expect_run_on_the_token();
    EXPECT_EQ(in_software(onToken_, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, c.in_openssl_terms(), cipher), message);
}

// The engine's copy of the key holds only the public half: the private key is the
// token's object alone.
TEST_P(PkeyEncryption, SoftwareEncryptionDecryptsOnTheToken)
{
    const crypt_case &c = GetParam();
    const Bytes message = digest_of(c.messageLen);
    Bytes cipher = in_software(onToken_, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, c.in_openssl_terms(), message);
    ASSERT_EQ(cipher.size(), kModulusLen);
    EXPECT_EQ(with_engine(onToken_, true, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, c.options, cipher), message)
        << drained_errors();
    expect_run_on_the_token();
}

TEST_P(PkeyEncryption, KeyWithoutTokenObjectEncryptsInSoftware)
{
    const crypt_case &c = GetParam();
    const Bytes message = digest_of(c.messageLen);
    Bytes cipher = with_engine(offToken_, true, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, c.options, message);
    ASSERT_EQ(cipher.size(), kModulusLen) << drained_errors();
    EXPECT_TRUE(engine_harness::logged("RSA pkey encrypt, object handle invalid. SW fallback"));
    EXPECT_EQ(in_software(offToken_, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, c.in_openssl_terms(), cipher), message);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PkeyEncryption,
    ::testing::Values(
        crypt_case{"Pkcs1", {}, 100}, crypt_case{"Pkcs1Longest", {}, kModulusLen - 11},
        crypt_case{"OaepSha1", {{"rsa_padding_mode", "oaep"}}, 64},
        crypt_case{"OaepSha1Longest", {{"rsa_padding_mode", "oaep"}}, kModulusLen - 42},
        crypt_case{"OaepSha256", {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}}, 64},
        crypt_case{"OaepSha256Longest", {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}}, kModulusLen - 66},
        crypt_case{"OaepSha512Mgf1Sha1",
                   {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha512"}, {"rsa_mgf1_md", "sha1"}},
                   64},
        crypt_case{"OaepSha256Label",
                   {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}, {"hexseed", "5A6f72"}},
                   48,
                   {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}, {"rsa_oaep_label", "5a6f72"}}},
        crypt_case{"OaepSha1Label",
                   {{"rsa_padding_mode", "oaep"}, {"hexseed", "00ff"}},
                   48,
                   {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_label", "00ff"}}}),
    case_name<crypt_case>);

// A block made with another label, or none, is refused by the token's decoding.
TEST_F(PkeyMethodTest, OaepLabelOtherThanTheCiphertextsIsRefusedOnTheToken)
{
    const Options oaepSha256 = {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}};
    Options soft = oaepSha256;
    soft.emplace_back("rsa_oaep_label", "5a6f72");
    Options otherLabel = oaepSha256;
    otherLabel.emplace_back("hexseed", "5a6f73");
    const Bytes message = digest_of(32);
    Bytes cipher = in_software(onToken_, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, soft, message);
    ASSERT_EQ(cipher.size(), kModulusLen);
    for (const Options &engine : {otherLabel, oaepSha256}) {
        EXPECT_TRUE(with_engine(onToken_, true, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, engine, cipher).empty());
        std::vector<error_entry> errors = engine_harness::take_errors();
        EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_DECRYPT", ZORVEL_R_PKCS11_ERROR, "C_Decrypt=0x00000040"))
            << describe(errors);
    }
}

TEST_F(PkeyMethodTest, OaepSha256WithLabelInSoftwareForKeyWithoutTokenObject)
{
    const Options engine = {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}, {"hexseed", "0a1B"}};
    const Options soft = {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_md", "sha256"}, {"rsa_mgf1_md", "sha256"},
                          {"rsa_oaep_label", "0a1b"}};
    const Bytes message = digest_of(40);
    Bytes cipher = with_engine(offToken_, true, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, engine, message);
    ASSERT_EQ(cipher.size(), kModulusLen) << drained_errors();
    EXPECT_EQ(in_software(offToken_, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, soft, cipher), message);
}

TEST_F(PkeyMethodTest, RawEncryptionSendsOneModulusSizedBlock)
{
    const Bytes message = digest_of(16);
    Bytes cipher =
        with_engine(onToken_, true, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, {{"rsa_padding_mode", "raw"}}, message);
    ASSERT_EQ(cipher.size(), kModulusLen) << drained_errors();
    Bytes block = software_decrypt(onToken_, RSA_NO_PADDING, cipher);
    Bytes expected(kModulusLen, 0);
    std::copy(message.begin(), message.end(), expected.begin());
    EXPECT_EQ(block, expected);
}

TEST_F(PkeyMethodTest, InputLongerThanTheModulusIsRefused)
{
    const Bytes tooLong = test_message(kModulusLen + 1);
    EXPECT_TRUE(with_engine(onToken_, false, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, {}, tooLong).empty());
    EXPECT_TRUE(with_engine(onToken_, false, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, {}, tooLong).empty());
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PUBLIC_ENCRYPT", ZORVEL_R_INVALID_VALUE)) << describe(errors);
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_DECRYPT", ZORVEL_R_INVALID_VALUE)) << describe(errors);
}

TEST_F(PkeyMethodTest, DecryptionIntoABufferOfTheMessagesSize)
{
    const Bytes message = digest_of(24);
    Bytes cipher = software_encrypt(onToken_, RSA_PKCS1_PADDING, message);
    pkey_ctx_ptr ctx = engine_ctx(onToken_);
    ASSERT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
    Bytes out(24);
    size_t len = out.size();
    ASSERT_EQ(EVP_PKEY_decrypt(ctx.get(), out.data(), &len, cipher.data(), cipher.size()), 1) << drained_errors();
    EXPECT_EQ(len, 24u);
    EXPECT_EQ(out, message);
    len = 10; // too small for the message: refused, and the next decryption still works
    EXPECT_EQ(EVP_PKEY_decrypt(ctx.get(), out.data(), &len, cipher.data(), cipher.size()), 0);
    len = out.size();
    EXPECT_EQ(EVP_PKEY_decrypt(ctx.get(), out.data(), &len, cipher.data(), cipher.size()), 1) << drained_errors();
}

// ---- parameters per key context ----

TEST_F(PkeyMethodTest, SettingsOfOneContextDoNotReachAnother)
{
    pkey_ctx_ptr oaep = engine_ctx(onToken_, true);
    ASSERT_EQ(EVP_PKEY_encrypt_init(oaep.get()), 1);
    ASSERT_TRUE(apply(oaep.get(), {{"rsa_padding_mode", "oaep"}, {"hexseed", "0102"}}));
    const Bytes tbs = test_message(50);
    Bytes sig = engine_sign(onToken_, {}, tbs);
    ASSERT_EQ(sig.size(), kModulusLen);
    EXPECT_EQ(software_verify_recover(onToken_, RSA_PKCS1_PADDING, sig), tbs) << "PKCS#1 v1.5, not OAEP";
}

TEST_F(PkeyMethodTest, FreeingAnotherContextKeepsTheLabel)
{
    pkey_ctx_ptr ctx = engine_ctx(offToken_, true);
    ASSERT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
    ASSERT_TRUE(apply(ctx.get(), {{"rsa_padding_mode", "oaep"}, {"hexseed", "c0ffee"}}));
    engine_ctx(offToken_, true).reset(); // a context of the same method comes and goes
    pkey_ctx_ptr dup(EVP_PKEY_CTX_dup(ctx.get()));
    ASSERT_NE(dup, nullptr);
    dup.reset();
    const Bytes message = digest_of(20);
    size_t len = kModulusLen;
    Bytes cipher(len);
    ASSERT_EQ(EVP_PKEY_encrypt(ctx.get(), cipher.data(), &len, message.data(), message.size()), 1);
    EXPECT_EQ(in_software(offToken_, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt,
                  {{"rsa_padding_mode", "oaep"}, {"rsa_oaep_label", "c0ffee"}}, cipher),
              message);
}

TEST_F(PkeyMethodTest, GetPaddingAnswersTheModeOfTheContext)
{
    pkey_ctx_ptr ctx = engine_ctx(onToken_);
    ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    ASSERT_TRUE(apply(ctx.get(), {{"rsa_padding_mode", "pss"}}));
    int mode = 0;
    EXPECT_EQ(EVP_PKEY_CTX_get_rsa_padding(ctx.get(), &mode), 1);
    EXPECT_EQ(mode, RSA_PKCS1_PSS_PADDING);
    EXPECT_EQ(EVP_PKEY_CTX_get_rsa_padding(ctx.get(), &mode), 1);
    EXPECT_EQ(mode, RSA_PKCS1_PSS_PADDING) << "asking changes nothing";
}

TEST_F(PkeyMethodTest, ControlStrings)
{
    struct {
        const char *name;
        const char *value;
        int result;
    } cases[] = {
        {"rsa_padding_mode", "pss", 1},     {"rsa_padding_mode", "sslv23", 0}, {"rsa_padding_mode", "oaep", 1},
        {"rsa_oaep_md", "sha384", 1},       {"rsa_oaep_md", "sha3-256", 0},    {"rsa_pss_md", "md5", 1},
        {"rsa_mgf1_md", "sha224", 1},       {"rsa_mgf1_md", "md5", 0},         {"rsa_pss_saltlen", "max", 1},
        {"rsa_pss_saltlen", "digest", 1},   {"rsa_pss_saltlen", "-7", 0},      {"rsa_pss_saltlen", "many", 0},
        {"hexseed", "0a1B", 1},             {"hexseed", "abc", 0},             {"hexseed", "zz", 0},
        {"no_such_control", "1", 0},
    };
    for (const auto &c : cases) {
        pkey_ctx_ptr ctx = engine_ctx(onToken_);
        ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
        EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(ctx.get(), c.name, c.value), c.result) << c.name << " " << c.value;
    }
    pkey_ctx_ptr ctx = engine_ctx(onToken_);
    ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    EXPECT_LE(EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_keygen_bits", "2048"), 0) << "not a key-generation context";
    ERR_clear_error();
}

// ---- key generation ----

pkey_ptr public_half(const EVP_PKEY *key)
{
    const BIGNUM *n = nullptr, *e = nullptr;
    RSA_get0_key(EVP_PKEY_get0_RSA(key), &n, &e, nullptr);
    return pkey_ptr(software_public_key(n, e));
}

TEST_F(PkeyMethodTest, GeneratedKeySignsOnTheToken)
{
    pkey_ctx_ptr gen(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, engine_));
    ASSERT_NE(gen, nullptr);
    ASSERT_EQ(EVP_PKEY_keygen_init(gen.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_ctrl_str(gen.get(), "rsa_keygen_bits", "1024"), 1);
    EVP_PKEY *raw = nullptr;
    ASSERT_EQ(EVP_PKEY_keygen(gen.get(), &raw), 1) << drained_errors();
    pkey_ptr key(raw);
    EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 1024);
    const RSA *rsa = EVP_PKEY_get0_RSA(key.get());
    const BIGNUM *e = nullptr;
    RSA_get0_key(rsa, nullptr, &e, nullptr);
    EXPECT_EQ(BN_get_word(e), 65537u);

    pkey_ctx_ptr sign(EVP_PKEY_CTX_new(key.get(), engine_));
    const Bytes tbs = digest_of(32);
    Bytes sig = run(sign.get(), EVP_PKEY_sign_init, EVP_PKEY_sign, {{"digest", "sha256"}}, tbs);
    ASSERT_EQ(sig.size(), 128u) << drained_errors();
    pkey_ptr pub = public_half(key.get());
    ASSERT_NE(pub, nullptr);
    EXPECT_EQ(verify(software_ctx(pub.get()).get(), {{"digest", "sha256"}}, sig, tbs), 1);
}

} // namespace
