/* Token failures that a working token does not show, made by a library in front of the
 * stand-in (rsa_fault_token.cpp). */
#include "rsa_engine_fixture.h"

#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <cstdlib>

using namespace engine_harness;

namespace {

class RsaFaultsTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        RsaEngineSettings settings;
        settings.lib = ZORVEL_RSA_FAULT_TOKEN;
        load(settings);
    }
    static void TearDownTestSuite() { unload(); }
    void TearDown() override
    {
        unsetenv("ZORVEL_FAULT_FIND_OBJECTS");
        unsetenv("ZORVEL_FAULT_MODULUS_LEN");
        unsetenv("ZORVEL_FAULT_OUTPUT_ROOM");
        RsaEngineTest::TearDown();
    }
};

TEST_F(RsaFaultsTest, FailingSearchIsClosedSoThatLaterOperationsWork)
{
    EVP_PKEY *key = make_software_rsa(1024);
    ASSERT_TRUE(token_->import_pair(key));
    Bytes message = test_message(20), sig(128);

    setenv("ZORVEL_FAULT_FIND_OBJECTS", "30", 1);
    RSA *first = engine_rsa_copy(engine_, key, false);
    EXPECT_EQ(RSA_private_encrypt(20, message.data(), sig.data(), first, RSA_PKCS1_PADDING), -1);
    std::vector<error_entry> errors = take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_FIND_OBJECT", ZORVEL_R_PKCS11_ERROR, "C_FindObjects=0x00000030"))
        << describe(errors);
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_ENCRYPT", ZORVEL_R_KEY_HANDLE_NOT_FOUND)) << describe(errors);
    unsetenv("ZORVEL_FAULT_FIND_OBJECTS");

    /* A search left open would make every later Init on the session fail. */
    EXPECT_EQ(RSA_private_encrypt(20, message.data(), sig.data(), first, RSA_PKCS1_PADDING), 128) << drained_errors();
    EXPECT_EQ(software_verify_recover(key, RSA_PKCS1_PADDING, sig), message);
    RSA_free(first);
    EVP_PKEY_free(key);
}

TEST_F(RsaFaultsTest, OperationThatRunsOutOfOutputRoomIsNotLeftActive)
{
    EVP_PKEY *key = make_software_rsa(1024);
    ASSERT_TRUE(token_->import_pair(key));
    RSA *rsa = engine_rsa_copy(engine_, key, false);
    Bytes message = test_message(20), sig(128);

    setenv("ZORVEL_FAULT_OUTPUT_ROOM", "10", 1);
    EXPECT_EQ(RSA_private_encrypt(20, message.data(), sig.data(), rsa, RSA_PKCS1_PADDING), -1);
    std::vector<error_entry> errors = take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RSA_PRIVATE_ENCRYPT", ZORVEL_R_PKCS11_ERROR, "C_Encrypt=0x00000150"))
        << describe(errors);

    /* The token kept the operation after CKR_BUFFER_TOO_SMALL; the engine ended it. */
    EXPECT_EQ(RSA_private_encrypt(20, message.data(), sig.data(), rsa, RSA_PKCS1_PADDING), 128) << drained_errors();
    EXPECT_EQ(software_verify_recover(key, RSA_PKCS1_PADDING, sig), message);
    RSA_free(rsa);
    EVP_PKEY_free(key);
}

TEST_F(RsaFaultsTest, KeyGenerationWithoutAModulusFails)
{
    for (const char *length : {"0", "ffffffffffffffff"}) {
        setenv("ZORVEL_FAULT_MODULUS_LEN", length, 1);
        RSA *rsa = RSA_new_method(engine_);
        BIGNUM *e = BN_new();
        ASSERT_TRUE(BN_set_word(e, 65537));
        EXPECT_EQ(RSA_generate_key_ex(rsa, 1024, e, nullptr), 0) << length;
        std::vector<error_entry> errors = take_errors();
        EXPECT_TRUE(has_error(errors, "ZORVEL_F_GEN_RSA", ZORVEL_R_INVALID_VALUE,
                              "C_GetAttributeValue, CKA_MODULUS empty or unavailable"))
            << length << ": " << describe(errors);
        const BIGNUM *n = nullptr;
        RSA_get0_key(rsa, &n, nullptr, nullptr);
        EXPECT_EQ(n, nullptr) << length << ": no key with n = 0";
        BN_free(e);
        RSA_free(rsa);
    }
}

} // namespace
