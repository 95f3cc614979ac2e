/*
 * The engine's RSA method against the stand-in token: private-key operations on the token,
 * public-key operations on the token object or in software, the key lookup's failures,
 * input checks, and OpenSSL's own signing paths reaching the method.
 */
#include "rsa_engine_fixture.h"

#include <openssl/err.h>
#include <openssl/rsa.h>

#include <algorithm>

using namespace engine_harness;

namespace {

const int kBits = 2048;
const int kModulusLen = kBits / 8;
/* For keys whose size plays no part: quicker to make. */
const int kSmallBits = 1024;
const int kSmallModulusLen = kSmallBits / 8;

struct Padding {
    const char *name;
    int padding;
    size_t messageLen;
};

using RsaFn = int (*)(int, const unsigned char *, unsigned char *, RSA *, int);

int apply(RsaFn fn, const Bytes &in, Bytes *out, RSA *rsa, int padding)
{
    out->assign(static_cast<size_t>(RSA_size(rsa)), 0);
    int len = fn(static_cast<int>(in.size()), in.data(), out->data(), rsa, padding);
    out->resize(len > 0 ? static_cast<size_t>(len) : 0);
    return len;
}

/* The key pair on the token and software keys that are not. */
class RsaMethodTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        load(RsaEngineSettings{});
        if (token_ == nullptr)
            return;
        onToken_ = make_software_rsa(kBits);
        ASSERT_TRUE(token_->import_pair(onToken_));
        elsewhere_ = make_software_rsa(kBits);
        ASSERT_NE(elsewhere_, nullptr);
    }
    static void TearDownTestSuite()
    {
        EVP_PKEY_free(onToken_);
        EVP_PKEY_free(elsewhere_);
        onToken_ = elsewhere_ = nullptr;
        unload();
    }

    /* A fresh RSA object of the token's key, so that no handle is cached yet. */
    RSA *engineKey(bool publicOnly = false) { return keep(engine_rsa_copy(engine_, onToken_, publicOnly)); }
    RSA *keep(RSA *rsa)
    {
        keys_.push_back(rsa);
        return rsa;
    }
    void TearDown() override
    {
        for (RSA *rsa : keys_)
            RSA_free(rsa);
        RsaEngineTest::TearDown();
    }

    static EVP_PKEY *onToken_;
    /* A key the token does not hold. */
    static EVP_PKEY *elsewhere_;
    std::vector<RSA *> keys_;
};

EVP_PKEY *RsaMethodTest::onToken_ = nullptr;
EVP_PKEY *RsaMethodTest::elsewhere_ = nullptr;

TEST_F(RsaMethodTest, PrivateEncryptMakesSignaturesThatVerifyInSoftware)
{
    /* 245 bytes is the longest input PKCS#1 v1.5 block type 1 leaves room for (k - 11). */
    for (size_t len : {size_t(32), size_t(kModulusLen - 11)}) {
        Bytes message = test_message(len), sig;
        ASSERT_EQ(apply(RSA_private_encrypt, message, &sig, engineKey(), RSA_PKCS1_PADDING), kModulusLen)
            << describe(take_errors());
        EXPECT_EQ(software_verify_recover(onToken_, RSA_PKCS1_PADDING, sig), message) << len;
    }
}

TEST_F(RsaMethodTest, PrivateDecryptRecoversSoftwareCiphertexts)
{
    const Padding paddings[] = {
        {"PKCS#1", RSA_PKCS1_PADDING, 40}, {"OAEP", RSA_PKCS1_OAEP_PADDING, 40}, {"raw", RSA_NO_PADDING, kModulusLen}};
    for (const Padding &p : paddings) {
        Bytes message = test_message(p.messageLen), plain;
        Bytes cipher = software_encrypt(onToken_, p.padding, message);
        ASSERT_FALSE(cipher.empty()) << p.name;
        EXPECT_EQ(apply(RSA_private_decrypt, cipher, &plain, engineKey(), p.padding), static_cast<int>(message.size()))
            << p.name << " " << describe(take_errors());
        EXPECT_EQ(plain, message) << p.name;
    }
}

TEST_F(RsaMethodTest, PublicOperationsUseTheTokenObject)
{
    RSA *pub = engineKey(true);
    const Padding paddings[] = {{"PKCS#1", RSA_PKCS1_PADDING, 40}, {"OAEP", RSA_PKCS1_OAEP_PADDING, 40}};
    for (const Padding &p : paddings) {
        Bytes message = test_message(p.messageLen), cipher;
        ASSERT_EQ(apply(RSA_public_encrypt, message, &cipher, pub, p.padding), kModulusLen)
            << p.name << " " << describe(take_errors());
        EXPECT_EQ(software_decrypt(onToken_, p.padding, cipher), message) << p.name;
    }

    Bytes message = test_message(48), recovered;
    Bytes sig = software_sign_raw(onToken_, RSA_PKCS1_PADDING, message);
    EXPECT_EQ(apply(RSA_public_decrypt, sig, &recovered, pub, RSA_PKCS1_PADDING), 48) << describe(take_errors());
    EXPECT_EQ(recovered, message);

    /* The raw result that OpenSSL's own PSS verification asks for: all k bytes. */
    Bytes block = test_message(kModulusLen);
    Bytes rawSig = software_sign_raw(onToken_, RSA_NO_PADDING, block);
    EXPECT_EQ(apply(RSA_public_decrypt, rawSig, &recovered, pub, RSA_NO_PADDING), kModulusLen);
    EXPECT_EQ(recovered, block);

    EXPECT_FALSE(logged("RSA public encrypt, object handle 0"));
    for (const std::string &line : log_messages())
        EXPECT_EQ(line.find("SW fallback"), std::string::npos) << line;
    EXPECT_TRUE(take_errors().empty());
}

TEST_F(RsaMethodTest, RawPublicEncryptionPlacesTheInputAtTheStartOfTheBlock)
{
    Bytes message = test_message(16), cipher;
    ASSERT_EQ(apply(RSA_public_encrypt, message, &cipher, engineKey(true), RSA_NO_PADDING), kModulusLen);
    Bytes block = message;
    block.resize(kModulusLen, 0);
    EXPECT_EQ(software_decrypt(onToken_, RSA_NO_PADDING, cipher), block);
}

TEST_F(RsaMethodTest, PublicDecryptRefusesBlocksWithoutBlockType1)
{
    /* Raw signatures over blocks that are no PKCS#1 v1.5 signature block. */
    Bytes type2(kModulusLen, 0x5A);
    type2[0] = 0x00;
    type2[1] = 0x02;
    struct Case {
        const char *what;
        Bytes block;
        const char *line;
    } cases[] = {
        {"block type 2", type2, "RSA public decrypt, invalid PKCS1 pad value '\x02'"},
        {"all zero", Bytes(kModulusLen, 0), "RSA public decrypt, no PKCS1 padding in an all-zero block"},
    };
    for (const Case &c : cases) {
        Bytes sig = software_sign_raw(onToken_, RSA_NO_PADDING, c.block), out;
        ASSERT_EQ(sig.size(), size_t(kModulusLen)) << c.what;
        syslog_capture::reset();
        EXPECT_EQ(apply(RSA_public_decrypt, sig, &out, engineKey(true), RSA_PKCS1_PADDING), -1) << c.what;
        std::vector<error_entry> errors = take_errors();
        EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PUBLIC_DECRYPT", ZORVEL_R_UNSUPPORTED_PADDING))
            << c.what << ": " << describe(errors);
        EXPECT_FALSE(logged("RSA public decrypt, object handle 0")) << c.what;
        EXPECT_TRUE(logged(c.line)) << c.what;
    }
}

TEST_F(RsaMethodTest, PrivateAndPublicOperationsOnOneKeyUseTheirOwnObjects)
{
    /* The private operation finds and caches the private-key object first; the public
     * operations that follow must still reach the public-key object. */
    RSA *rsa = engineKey();
    Bytes message = test_message(32), sig, recovered, cipher;
    ASSERT_EQ(apply(RSA_private_encrypt, message, &sig, rsa, RSA_PKCS1_PADDING), kModulusLen);
    EXPECT_EQ(apply(RSA_public_decrypt, sig, &recovered, rsa, RSA_PKCS1_PADDING), 32) << describe(take_errors());
    EXPECT_EQ(recovered, message);
    ASSERT_EQ(apply(RSA_public_encrypt, message, &cipher, rsa, RSA_PKCS1_PADDING), kModulusLen);
    EXPECT_EQ(apply(RSA_private_decrypt, cipher, &recovered, rsa, RSA_PKCS1_PADDING), 32) << describe(take_errors());
    EXPECT_EQ(recovered, message);
}

TEST_F(RsaMethodTest, PublicKeyNotOnTheTokenFallsBackToSoftware)
{
    EVP_PKEY *elsewhere = elsewhere_;
    RSA *pub = keep(engine_rsa_copy(engine_, elsewhere, true));
    Bytes message = test_message(40), cipher, recovered;

    ASSERT_EQ(apply(RSA_public_encrypt, message, &cipher, pub, RSA_PKCS1_PADDING), kModulusLen);
    EXPECT_EQ(software_decrypt(elsewhere, RSA_PKCS1_PADDING, cipher), message);
    EXPECT_TRUE(logged("RSA public encrypt, object handle invalid. SW fallback"));
    std::vector<error_entry> errors = take_errors();
    EXPECT_TRUE(
        has_error(errors, "ZORVEL_F_FIND_OBJECT", ZORVEL_R_PKCS11_ERROR, "Expected one object, but got: 00000000"))
        << describe(errors);

    Bytes sig = software_sign_raw(elsewhere, RSA_PKCS1_PADDING, message);
    EXPECT_EQ(apply(RSA_public_decrypt, sig, &recovered, pub, RSA_PKCS1_PADDING), 40);
    EXPECT_EQ(recovered, message);
    EXPECT_TRUE(logged("RSA public decrypt, object handle invalid. SW fallback"));
}

TEST_F(RsaMethodTest, TwoMatchingObjectsFailPrivateOperationsAndFallBackForPublicOnes)
{
    EVP_PKEY *twice = make_software_rsa(kSmallBits);
    ASSERT_TRUE(token_->import_pair(twice));
    ASSERT_TRUE(token_->import_pair(twice));
    RSA *rsa = keep(engine_rsa_copy(engine_, twice, false));
    Bytes message = test_message(40), out;

    struct PrivateCase {
        const char *function;
        RsaFn fn;
        Bytes in;
    } cases[] = {
        {"ZORVEL_F_RSA_PRIVATE_ENCRYPT", RSA_private_encrypt, message},
        {"ZORVEL_F_RSA_PRIVATE_DECRYPT", RSA_private_decrypt, software_encrypt(twice, RSA_PKCS1_PADDING, message)}};
    for (const PrivateCase &c : cases) {
        EXPECT_EQ(apply(c.fn, c.in, &out, rsa, RSA_PKCS1_PADDING), -1) << c.function;
        std::vector<error_entry> errors = take_errors();
        EXPECT_TRUE(
            has_error(errors, "ZORVEL_F_FIND_OBJECT", ZORVEL_R_PKCS11_ERROR, "Expected one object, but got: 00000002"))
            << describe(errors);
        EXPECT_TRUE(has_error(errors, c.function, ZORVEL_R_KEY_HANDLE_NOT_FOUND)) << describe(errors);
    }

    Bytes cipher;
    ASSERT_EQ(apply(RSA_public_encrypt, message, &cipher, rsa, RSA_PKCS1_PADDING), kSmallModulusLen);
    EXPECT_EQ(software_decrypt(twice, RSA_PKCS1_PADDING, cipher), message);
    EXPECT_TRUE(logged("RSA public encrypt, object handle invalid. SW fallback"));
    EVP_PKEY_free(twice);
}

TEST_F(RsaMethodTest, InputsThatCannotBeServedFailBeforeTheTokenOperation)
{
    /* Mostly on a key the token does not hold: a failure that names the input, not the
     * lookup, shows that nothing reached the token. Paddings that only the software path
     * serves fail on the token's key (without a token object software decides). */
    RSA *elsewhere = keep(engine_rsa_copy(engine_, elsewhere_, false));
    RSA *onToken = engineKey(true);
    Bytes out;
    struct Case {
        const char *what;
        RsaFn fn;
        size_t len;
        int padding;
        const char *function;
        int reason;
        bool tokenKey;
    } cases[] = {
        {"private encrypt k+1", RSA_private_encrypt, kModulusLen + 1, RSA_PKCS1_PADDING, "ZORVEL_F_RSA_PRIVATE_ENCRYPT",
         ZORVEL_R_INVALID_VALUE, false},
        {"private decrypt k+1", RSA_private_decrypt, kModulusLen + 1, RSA_PKCS1_PADDING, "ZORVEL_F_RSA_PRIVATE_DECRYPT",
         ZORVEL_R_INVALID_VALUE, false},
        {"public encrypt k+1", RSA_public_encrypt, kModulusLen + 1, RSA_NO_PADDING, "ZORVEL_F_RSA_PUBLIC_ENCRYPT",
         ZORVEL_R_INVALID_VALUE, false},
        {"public decrypt k+1", RSA_public_decrypt, kModulusLen + 1, RSA_PKCS1_PADDING, "ZORVEL_F_RSA_PUBLIC_DECRYPT",
         ZORVEL_R_INVALID_VALUE, false},
        {"private encrypt k-10", RSA_private_encrypt, kModulusLen - 10, RSA_PKCS1_PADDING,
         "ZORVEL_F_RSA_PRIVATE_ENCRYPT", ZORVEL_R_UNSUPPORTED_PADDING, false},
        {"private encrypt SSLv23", RSA_private_encrypt, 16, 2, "ZORVEL_F_RSA_PRIVATE_ENCRYPT",
         ZORVEL_R_UNSUPPORTED_PADDING, false},
        {"private decrypt SSLv23", RSA_private_decrypt, kModulusLen, 2, "ZORVEL_F_RSA_PRIVATE_DECRYPT",
         ZORVEL_R_UNSUPPORTED_PADDING, false},
        {"private encrypt OAEP", RSA_private_encrypt, 16, RSA_PKCS1_OAEP_PADDING, "ZORVEL_F_RSA_PRIVATE_ENCRYPT",
         ZORVEL_R_UNSUPPORTED_PADDING, false},
        {"public encrypt SSLv23", RSA_public_encrypt, 16, 2, "ZORVEL_F_RSA_PUBLIC_ENCRYPT",
         ZORVEL_R_UNSUPPORTED_PADDING, true},
        {"public decrypt OAEP", RSA_public_decrypt, kModulusLen, RSA_PKCS1_OAEP_PADDING, "ZORVEL_F_RSA_PUBLIC_DECRYPT",
         ZORVEL_R_UNSUPPORTED_PADDING, true},
        {"public decrypt X9.31", RSA_public_decrypt, kModulusLen, RSA_X931_PADDING, "ZORVEL_F_RSA_PUBLIC_DECRYPT",
         ZORVEL_R_UNSUPPORTED_PADDING, true},
    };
    for (const Case &c : cases) {
        syslog_capture::reset();
        EXPECT_EQ(apply(c.fn, test_message(c.len), &out, c.tokenKey ? onToken : elsewhere, c.padding), -1) << c.what;
        std::vector<error_entry> errors = take_errors();
        EXPECT_TRUE(has_error(errors, c.function, c.reason)) << c.what << ": " << describe(errors);
        EXPECT_FALSE(has_error(errors, "ZORVEL_F_FIND_OBJECT", ZORVEL_R_PKCS11_ERROR))
            << c.what << ": " << describe(errors);
        /* The context and the lookup take the engine lock; a token operation would take it again. */
        std::vector<std::string> lines = log_messages();
        EXPECT_LE(std::count(lines.begin(), lines.end(), "entering mutex"), 2) << c.what;
    }
}

TEST_F(RsaMethodTest, PublicKeyNotOnTheTokenIsVerifiedInSoftwareWithAnyPaddingSoftwareServes)
{
    RSA *software = EVP_PKEY_get1_RSA(elsewhere_);
    ASSERT_NE(software, nullptr);
    Bytes message = test_message(20), sig(kModulusLen), recovered;
    ASSERT_EQ(RSA_private_encrypt(20, message.data(), sig.data(), software, RSA_X931_PADDING), kModulusLen);
    RSA_free(software);
    EXPECT_EQ(apply(RSA_public_decrypt, sig, &recovered, keep(engine_rsa_copy(engine_, elsewhere_, true)),
                    RSA_X931_PADDING),
              20)
        << describe(take_errors());
    EXPECT_EQ(recovered, message);
    EXPECT_TRUE(logged("RSA public decrypt, object handle invalid. SW fallback"));
}

/* The engine's trace of one operation: each line's priority and its text after the prefix. */
using Trace = std::vector<std::pair<int, std::string>>;

Trace trace()
{
    Trace lines;
    const std::vector<syslog_capture::line> captured = syslog_capture::lines();
    const std::vector<std::string> messages = log_messages();
    for (size_t i = 0; i < captured.size(); ++i)
        lines.emplace_back(captured[i].priority, messages[i]);
    return lines;
}

/* The lines every operation starts with, up to the lookup's search. */
Trace operation_start(const std::string &name, int padding, int inputLen)
{
    return {{LOG_DEBUG, name + ", padding " + std::to_string(padding)},
            {LOG_DEBUG, "get ctx"},
            {LOG_DEBUG, "entering mutex"},
            {LOG_DEBUG, "leaving mutex"},
            {LOG_DEBUG, name + ", modulus len " + std::to_string(kModulusLen) + " input len " + std::to_string(inputLen)}};
}

/* A search on the token that finds no object: the key is not on the token. */
const Trace kNothingFound = {{LOG_DEBUG, "fetch RSA handle"},
                             {LOG_DEBUG, "entering mutex"},
                             {LOG_DEBUG, "fetch RSA handle from attributes"},
                             {LOG_DEBUG, "findObjects"},
                             {LOG_ERR, "findObjects, expected '1' but got '0"},
                             {LOG_DEBUG, "leaving mutex"}};

Trace joined(std::initializer_list<Trace> parts)
{
    Trace all;
    for (const Trace &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(RsaMethodTest, OperationsOnAKeyNotOnTheTokenLogTheirStepsInOrderAtTheirPriorities)
{
    RSA *rsa = keep(engine_rsa_copy(engine_, elsewhere_, false));
    struct Case {
        const char *name;
        RsaFn fn;
        int inputLen;
        Trace end;
    } cases[] = {
        {"RSA public encrypt", RSA_public_encrypt, 40,
         joined({kNothingFound,
                 {{LOG_DEBUG, "RSA public encrypt, object handle 0"},
                  {LOG_NOTICE, "RSA public encrypt, object handle invalid. SW fallback"}}})},
        {"RSA public decrypt", RSA_public_decrypt, kModulusLen,
         joined({kNothingFound,
                 {{LOG_DEBUG, "RSA public decrypt, object handle 0"},
                  {LOG_NOTICE, "RSA public decrypt, object handle invalid. SW fallback"}}})},
        {"RSA private encrypt", RSA_private_encrypt, 40,
         joined({kNothingFound,
                 {{LOG_DEBUG, "RSA private encrypt, object handle 0"},
                  {LOG_DEBUG, "RSA private encrypt, invalid object handle 0"}}})},
        {"RSA private decrypt", RSA_private_decrypt, kModulusLen,
         joined({kNothingFound,
                 {{LOG_DEBUG, "RSA private decrypt, object handle 0"},
                  {LOG_ERR, "RSA private decrypt, invalid object handle 0"}}})},
        {"RSA public encrypt", RSA_public_encrypt, kModulusLen + 1,
         {{LOG_ERR, "RSA public encrypt, modulus len 256 input len 257"}}},
    };
    for (const Case &c : cases) {
        Bytes in = test_message(static_cast<size_t>(c.inputLen)), out;
        if (c.fn == RSA_public_decrypt)
            in = software_sign_raw(elsewhere_, RSA_PKCS1_PADDING, test_message(40));
        syslog_capture::reset();
        apply(c.fn, in, &out, rsa, RSA_PKCS1_PADDING);
        EXPECT_EQ(trace(), joined({operation_start(c.name, RSA_PKCS1_PADDING, c.inputLen), c.end})) << c.name;
        ERR_clear_error();
    }
}

/* Private encryption on a token key that may not sign: the failing call's name in the error
 * data shows which of the two ways the engine took. */
void expect_private_encrypt_call(ENGINE *engine, TokenKeys *token, const char *initData)
{
    EVP_PKEY *key = make_software_rsa(kSmallBits);
    CK_BBOOL no = CK_FALSE;
    ASSERT_NE(token->import_private(key, {{CKA_SIGN, &no, 1}}), CK_OBJECT_HANDLE(0));
    RSA *rsa = engine_rsa_copy(engine, key, false);
    Bytes out;
    EXPECT_EQ(apply(RSA_private_encrypt, test_message(20), &out, rsa, RSA_PKCS1_PADDING), -1);
    std::vector<error_entry> errors = take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_ENCRYPT", ZORVEL_R_PKCS11_ERROR, initData)) << describe(errors);
    RSA_free(rsa);
    EVP_PKEY_free(key);
}

TEST_F(RsaMethodTest, PrivateEncryptEncryptsWithThePrivateKey)
{
    expect_private_encrypt_call(engine_, token_, "C_EncryptInit=0x00000068");
}

TEST_F(RsaMethodTest, PrivateOperationsWithoutATokenObjectFail)
{
    RSA *rsa = keep(engine_rsa_copy(engine_, elsewhere_, false));
    Bytes out;
    EXPECT_EQ(apply(RSA_private_encrypt, test_message(20), &out, rsa, RSA_PKCS1_PADDING), -1);
    std::vector<error_entry> errors = take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_ENCRYPT", ZORVEL_R_KEY_HANDLE_NOT_FOUND)) << describe(errors);
    EXPECT_TRUE(logged("RSA private encrypt, invalid object handle 0"));
}

/* OpenSSL's own signing and verification with the engine as the default RSA engine: the
 * digest and the padding are OpenSSL's, the RSA operations the engine's. */
class DefaultRsaEngine {
public:
    explicit DefaultRsaEngine(ENGINE *e) : e_(e) { ENGINE_set_default_RSA(e_); }
    ~DefaultRsaEngine() { ENGINE_unregister_RSA(e_); }

private:
    ENGINE *e_;
};

Bytes digest_sign(EVP_PKEY *key, int padding, const Bytes &message)
{
    Bytes sig;
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = nullptr;
    size_t len = 0;
    if (EVP_DigestSignInit(md, &pctx, EVP_sha256(), nullptr, key) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(pctx, padding) == 1 &&
        EVP_DigestSign(md, nullptr, &len, message.data(), message.size()) == 1) {
        sig.resize(len);
        if (EVP_DigestSign(md, sig.data(), &len, message.data(), message.size()) == 1)
            sig.resize(len);
        else
            sig.clear();
    }
    EVP_MD_CTX_free(md);
    return sig;
}

bool digest_verify(EVP_PKEY *key, int padding, const Bytes &message, const Bytes &sig)
{
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = nullptr;
    bool ok = EVP_DigestVerifyInit(md, &pctx, EVP_sha256(), nullptr, key) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(pctx, padding) == 1 &&
              EVP_DigestVerify(md, sig.data(), sig.size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(md);
    return ok;
}

TEST_F(RsaMethodTest, DigestSignWithTheEngineAsDefaultMakesSignaturesThatVerify)
{
    const Bytes message = test_message(1000);
    for (int padding : {RSA_PKCS1_PADDING, RSA_PKCS1_PSS_PADDING}) {
        Bytes sig;
        {
            DefaultRsaEngine asDefault(engine_);
            EVP_PKEY *key = engine_pkey_copy(engine_, onToken_, false);
            ASSERT_NE(key, nullptr);
            sig = digest_sign(key, padding, message);
            ASSERT_EQ(sig.size(), size_t(kModulusLen)) << padding << " " << describe(take_errors());
            /* Verified through the engine too: the public-key object on the token. */
            EXPECT_TRUE(digest_verify(key, padding, message, sig)) << padding << " " << describe(take_errors());
            EVP_PKEY_free(key);
        }
        EXPECT_TRUE(digest_verify(onToken_, padding, message, sig)) << padding;
    }
    EXPECT_TRUE(logged("RSA private encrypt, padding 1"));
    EXPECT_TRUE(logged("RSA private encrypt, padding 3"));
    EXPECT_TRUE(logged("RSA public decrypt, padding 3"));
    for (const std::string &line : log_messages())
        EXPECT_EQ(line.find("SW fallback"), std::string::npos) << line;
}

/* With enableSSLv3 private encryption signs on the token instead. */
class RsaMethodSSLv3Test : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        RsaEngineSettings settings;
        settings.enableSSLv3 = true;
        load(settings);
    }
    static void TearDownTestSuite() { unload(); }
};

TEST_F(RsaMethodSSLv3Test, PrivateEncryptSignsOnTheToken)
{
    EVP_PKEY *key = make_software_rsa(kSmallBits);
    ASSERT_TRUE(token_->import_pair(key));
    RSA *rsa = engine_rsa_copy(engine_, key, false);
    Bytes message = test_message(36), sig;
    EXPECT_EQ(apply(RSA_private_encrypt, message, &sig, rsa, RSA_PKCS1_PADDING), kSmallModulusLen)
        << describe(take_errors());
    EXPECT_EQ(software_verify_recover(key, RSA_PKCS1_PADDING, sig), message);
    RSA_free(rsa);
    EVP_PKEY_free(key);

    expect_private_encrypt_call(engine_, token_, "C_SignInit=0x00000068");
}

} // namespace
