/* RSA key-pair generation on the token through the engine's RSA method. */
#include "rsa_engine_fixture.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

using namespace engine_harness;

namespace {

class RsaKeyGenTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite() { load(RsaEngineSettings{}); }
    static void TearDownTestSuite() { unload(); }
};

TEST_F(RsaKeyGenTest, GeneratesTheKeyPairOnTheToken)
{
    RSA *rsa = RSA_new_method(engine_);
    BIGNUM *e = BN_new();
    ASSERT_TRUE(BN_set_word(e, 65537));
    ASSERT_EQ(RSA_generate_key_ex(rsa, 1024, e, nullptr), 1) << describe(take_errors());

    const BIGNUM *n = nullptr, *pub = nullptr, *d = nullptr;
    RSA_get0_key(rsa, &n, &pub, &d);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(BN_num_bits(n), 1024);
    EXPECT_EQ(BN_cmp(pub, e), 0);
    EXPECT_NE(pub, e) << "the key holds a copy of the exponent";

    /* The modulus is the token's: one public and one private object carry it, each with the
     * attributes it was generated with. */
    EVP_PKEY *sw = software_public_key(n, pub);
    ASSERT_NE(sw, nullptr);
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ULONG bits = 1024;
    unsigned char exponent[] = {0x01, 0x00, 0x01};
    auto generated_with = [&](std::vector<CK_ATTRIBUTE> own) {
        own.insert(own.end(),
                   {{CKA_TOKEN, &yes, 1}, {CKA_DERIVE, &no, 1}, {CKA_MODIFIABLE, &yes, 1}, {CKA_PRIVATE, &yes, 1}});
        return own;
    };
    const std::vector<CK_ATTRIBUTE> publicAttrs = generated_with({{CKA_ENCRYPT, &yes, 1},
                                                                  {CKA_VERIFY, &yes, 1},
                                                                  {CKA_VERIFY_RECOVER, &yes, 1},
                                                                  {CKA_WRAP, &yes, 1},
                                                                  {CKA_MODULUS_BITS, &bits, sizeof bits},
                                                                  {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}});
    const std::vector<CK_ATTRIBUTE> privateAttrs = generated_with({{CKA_DECRYPT, &yes, 1},
                                                                   {CKA_SIGN, &yes, 1},
                                                                   {CKA_SIGN_RECOVER, &yes, 1},
                                                                   {CKA_UNWRAP, &yes, 1},
                                                                   {CKA_EXTRACTABLE, &no, 1}});
    EXPECT_EQ(token_->count(sw, CKO_PUBLIC_KEY), 1u);
    EXPECT_EQ(token_->count(sw, CKO_PRIVATE_KEY), 1u);
    EXPECT_EQ(token_->count(sw, CKO_PUBLIC_KEY, publicAttrs), 1u);
    EXPECT_EQ(token_->count(sw, CKO_PRIVATE_KEY, privateAttrs), 1u);

    /* The private components are placeholders; the key is usable only through the engine. */
    const BIGNUM *p, *q, *dmp1, *dmq1, *iqmp;
    RSA_get0_factors(rsa, &p, &q);
    RSA_get0_crt_params(rsa, &dmp1, &dmq1, &iqmp);
    for (const BIGNUM *part : {d, p, q, dmp1, dmq1, iqmp}) {
        ASSERT_NE(part, nullptr);
        EXPECT_TRUE(BN_is_one(part));
    }
    EXPECT_NE(RSA_test_flags(rsa, RSA_FLAG_EXT_PKEY), 0);
    EXPECT_EQ(RSA_get0_engine(rsa), engine_);

    Bytes message = test_message(32), sig(static_cast<size_t>(RSA_size(rsa)));
    ASSERT_EQ(RSA_private_encrypt(32, message.data(), sig.data(), rsa, RSA_PKCS1_PADDING), 128)
        << describe(take_errors());
    EXPECT_EQ(software_verify_recover(sw, RSA_PKCS1_PADDING, sig), message);

    EVP_PKEY_free(sw);
    BN_free(e);
    RSA_free(rsa);
}

TEST_F(RsaKeyGenTest, TokenRefusalFailsWithTheTokenValue)
{
    RSA *rsa = RSA_new_method(engine_);
    BIGNUM *e = BN_new();
    ASSERT_TRUE(BN_set_word(e, 65537));
    EXPECT_EQ(RSA_generate_key_ex(rsa, 0, e, nullptr), 0);
    std::vector<error_entry> errors = take_errors();
    bool reported = false;
    for (const error_entry &err : errors)
        reported = reported || (err.function == "ZORVEL_F_GEN_RSA" && err.data.rfind("C_GenerateKeyPair=0x", 0) == 0);
    EXPECT_TRUE(reported) << describe(errors);
    const BIGNUM *n = nullptr;
    RSA_get0_key(rsa, &n, nullptr, nullptr);
    EXPECT_EQ(n, nullptr) << "a failed generation leaves the key empty";
    BN_free(e);
    RSA_free(rsa);
}

} // namespace
