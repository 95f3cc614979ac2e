/* Key loading from files through the engine's private-key and public-key loaders. */
#include "rsa_engine_fixture.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ui.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>

using namespace engine_harness;

namespace {

using Writer = std::function<int(BIO *, EVP_PKEY *)>;

/* Writes the key with `write`, through a base64 filter when asked. */
bool write_key_file(const std::string &path, EVP_PKEY *key, const Writer &write, bool base64)
{
    BIO *file = BIO_new_file(path.c_str(), "w");
    if (file == nullptr)
        return false;
    BIO *out = file;
    if (base64)
        out = BIO_push(BIO_new(BIO_f_base64()), file);
    bool ok = write(out, key) == 1 && BIO_flush(out) == 1;
    BIO_free_all(out);
    return ok;
}

struct KeyFile {
    const char *name;
    Writer write;
    bool base64;
};

const KeyFile kPrivateFiles[] = {
    {"private-pkcs8.pem",
     [](BIO *b, EVP_PKEY *k) { return PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr); }, false},
    {"private-rsa.pem",
     [](BIO *b, EVP_PKEY *k) {
         return PEM_write_bio_PrivateKey_traditional(b, k, nullptr, nullptr, 0, nullptr, nullptr);
     },
     false},
    {"private.b64", [](BIO *b, EVP_PKEY *k) { return i2d_PrivateKey_bio(b, k); }, true},
    {"private.der", [](BIO *b, EVP_PKEY *k) { return i2d_PrivateKey_bio(b, k); }, false},
};

const KeyFile kPublicFiles[] = {
    {"public.pem", [](BIO *b, EVP_PKEY *k) { return PEM_write_bio_PUBKEY(b, k); }, false},
    {"public.b64", [](BIO *b, EVP_PKEY *k) { return i2d_PUBKEY_bio(b, k); }, true},
    {"public.der", [](BIO *b, EVP_PKEY *k) { return i2d_PUBKEY_bio(b, k); }, false},
};

class RsaLoadTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        load(RsaEngineSettings{});
        if (token_ == nullptr)
            return;
        key_ = make_software_rsa(1024);
        ASSERT_TRUE(token_->import_pair(key_));
    }
    static void TearDownTestSuite()
    {
        EVP_PKEY_free(key_);
        key_ = nullptr;
        unload();
    }

    /* The loaded key is the file's key, as a legacy key whose operations reach the engine
     * and the token's object. */
    void expectEngineKey(EVP_PKEY *loaded, const char *name, bool isPrivate)
    {
        ASSERT_NE(loaded, nullptr) << name << " " << describe(take_errors());
        EXPECT_EQ(key_param(loaded, "n"), key_param(key_, "n")) << name;
        const RSA *rsa = EVP_PKEY_get0_RSA(loaded);
        ASSERT_NE(rsa, nullptr) << name;
        EXPECT_EQ(RSA_get0_engine(rsa), engine_) << name;

        Bytes message = test_message(32);
        if (isPrivate) {
            Bytes sig = software_sign_raw(loaded, RSA_PKCS1_PADDING, message);
            EXPECT_EQ(software_verify_recover(key_, RSA_PKCS1_PADDING, sig), message) << name;
        } else {
            Bytes cipher = software_encrypt(loaded, RSA_PKCS1_PADDING, message);
            EXPECT_EQ(software_decrypt(key_, RSA_PKCS1_PADDING, cipher), message) << name;
        }
        bool onToken = false;
        for (const std::string &line : log_messages())
            onToken = onToken ||
                      (line.find("object handle") != std::string::npos &&
                       line.find("object handle 0") == std::string::npos && line.find("invalid") == std::string::npos);
        EXPECT_TRUE(onToken) << name << ": the operation did not reach the token object";
        EXPECT_TRUE(take_errors().empty()) << name;
    }

    using Loader = EVP_PKEY *(*)(ENGINE *, const char *, UI_METHOD *, void *);

    /* Writes the key in each form, loads it back and checks what came back. */
    template <size_t N> void loadEach(const KeyFile (&files)[N], Loader loader, bool isPrivate)
    {
        for (const KeyFile &file : files) {
            ASSERT_TRUE(write_key_file(file.name, key_, file.write, file.base64)) << file.name;
            syslog_capture::reset();
            EVP_PKEY *loaded = loader(engine_, file.name, nullptr, nullptr);
            expectEngineKey(loaded, file.name, isPrivate);
            EXPECT_TRUE(logged(std::string("load key ") + file.name + (isPrivate ? " (1)" : " (0)"))) << file.name;
            EVP_PKEY_free(loaded);
        }
    }

    static EVP_PKEY *key_;
};

EVP_PKEY *RsaLoadTest::key_ = nullptr;

TEST_F(RsaLoadTest, PrivateKeysLoadFromPemBase64AndDer)
{
    loadEach(kPrivateFiles, ENGINE_load_private_key, true);
}

TEST_F(RsaLoadTest, PublicKeysLoadFromPemBase64AndDer)
{
    loadEach(kPublicFiles, ENGINE_load_public_key, false);
}

TEST_F(RsaLoadTest, MissingFileGivesNoKey)
{
    EXPECT_EQ(ENGINE_load_private_key(engine_, "no-such.pem", nullptr, nullptr), nullptr);
    EXPECT_TRUE(logged("load private key"));
    EXPECT_TRUE(logged("load key no-such.pem (1)"));
    EXPECT_TRUE(logged("read private key no-such.pem"));
    EXPECT_EQ(ENGINE_load_public_key(engine_, "no-such.pem", nullptr, nullptr), nullptr);
    EXPECT_TRUE(logged("load public key"));
    EXPECT_TRUE(logged("read public key no-such.pem"));
}

/* A UI method that answers every prompt with the callback data, as applications pass a
 * pass phrase they already hold. */
int answer_with_user_data(UI *ui, UI_STRING *uis)
{
    if (UI_get_string_type(uis) == UIT_PROMPT || UI_get_string_type(uis) == UIT_VERIFY)
        return UI_set_result(ui, uis, static_cast<const char *>(UI_get0_user_data(ui))) == 0 ? 1 : 0;
    return 1;
}

TEST_F(RsaLoadTest, EncryptedPemKeyTakesItsPassPhraseFromTheCallersUiMethod)
{
    const char *path = "private-encrypted.pem";
    char secret[] = "pass phrase";
    ASSERT_TRUE(write_key_file(
        path, key_,
        [&](BIO *b, EVP_PKEY *k) {
            return PEM_write_bio_PKCS8PrivateKey(b, k, EVP_aes_128_cbc(), secret, static_cast<int>(strlen(secret)),
                                                 nullptr, nullptr);
        },
        false));

    UI_METHOD *ui = UI_create_method("test pass phrase");
    ASSERT_NE(ui, nullptr);
    UI_method_set_reader(ui, answer_with_user_data);
    EVP_PKEY *loaded = ENGINE_load_private_key(engine_, path, ui, secret);
    expectEngineKey(loaded, path, true);
    EVP_PKEY_free(loaded);

    char wrong[] = "wrong";
    EXPECT_EQ(ENGINE_load_private_key(engine_, path, ui, wrong), nullptr);
    /* Without a UI method the pass phrase is refused; nothing prompts on the terminal. */
    EXPECT_EQ(ENGINE_load_private_key(engine_, path, nullptr, nullptr), nullptr);
    UI_destroy_method(ui);
}

/* The key's public part with placeholder private components: only the token can sign
 * with it. */
EVP_PKEY *placeholder_private_key(const EVP_PKEY *key)
{
    auto one = [] {
        BIGNUM *bn = BN_new();
        BN_one(bn);
        return bn;
    };
    BIGNUM *n = nullptr, *e = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
    RSA *rsa = RSA_new();
    RSA_set0_key(rsa, n, e, one());
    RSA_set0_factors(rsa, one(), one());
    RSA_set0_crt_params(rsa, one(), one(), one());
    EVP_PKEY *placeholder = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(placeholder, rsa);
    return placeholder;
}

TEST_F(RsaLoadTest, OpensslReqSignsACertificateWithTheTokenKey)
{
    if (access(ZORVEL_OPENSSL, X_OK) != 0)
        GTEST_SKIP() << "no openssl command (" << ZORVEL_OPENSSL << ")";
    EVP_PKEY *placeholder = placeholder_private_key(key_);
    ASSERT_TRUE(write_key_file(
        "token-key.pem", placeholder,
        [](BIO *b, EVP_PKEY *k) {
            return PEM_write_bio_PrivateKey_traditional(b, k, nullptr, nullptr, 0, nullptr, nullptr);
        },
        false));
    EVP_PKEY_free(placeholder);

    const std::string openssl = std::string("OPENSSL_ENGINES=") + ZORVEL_TEST_ENGINES_DIR + " " + ZORVEL_OPENSSL;
    ASSERT_EQ(std::system((openssl + " req -new -x509 -engine zorvel -keyform engine -key token-key.pem"
                                     " -subj /CN=zorvel -days 1 -out cert.pem 2>req.log")
                              .c_str()),
              0)
        << "openssl req failed";
    /* Checked in software: the signature was made with the real private key. */
    EXPECT_EQ(std::system((std::string(ZORVEL_OPENSSL) + " verify -CAfile cert.pem cert.pem >/dev/null").c_str()), 0);
}

} // namespace
