/* The lookup of a key's token objects by modulus and public exponent, with and without the
 * RSA method (whose ex-data index holds the cache). */
#include "rsa_engine_fixture.h"

#include <openssl/rsa.h>

#include <algorithm>

using namespace engine_harness;

namespace {

CK_OBJECT_HANDLE fetch_handle(RSA *rsa, int op)
{
    using fetch_fn = CK_OBJECT_HANDLE (*)(zorvel_ctx *, RSA *, int);
    auto fetch = reinterpret_cast<fetch_fn>(engine_symbol("zorvel_rsa_fetch_handle"));
    zorvel_ctx *ctx = get_ctx();
    return fetch != nullptr && ctx != nullptr ? fetch(ctx, rsa, op) : 0;
}

size_t searches()
{
    std::vector<std::string> messages = log_messages();
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), "fetch RSA handle from attributes"));
}

/* The key's pair on the token and an RSA object of its public part, with no engine. */
class LookupSuite : public RsaEngineTest {
protected:
    void SetUp() override
    {
        RsaEngineTest::SetUp();
        key_ = make_software_rsa(1024);
        ASSERT_NE(key_, nullptr);
        publicObject_ = token_->import_public(key_);
        privateObject_ = token_->import_private(key_);
        ASSERT_NE(publicObject_, CK_OBJECT_HANDLE(0));
        ASSERT_NE(privateObject_, CK_OBJECT_HANDLE(0));
        rsa_ = engine_rsa_copy(nullptr, key_, true);
        ASSERT_NE(rsa_, nullptr);
        syslog_capture::reset();
    }
    void TearDown() override
    {
        RSA_free(rsa_);
        EVP_PKEY_free(key_);
        RsaEngineTest::TearDown();
    }

    EVP_PKEY *key_ = nullptr;
    RSA *rsa_ = nullptr;
    CK_OBJECT_HANDLE publicObject_ = 0;
    CK_OBJECT_HANDLE privateObject_ = 0;
};

class RsaLookupTest : public LookupSuite {
protected:
    static void SetUpTestSuite() { load(RsaEngineSettings{}); }
    static void TearDownTestSuite() { unload(); }
};

TEST_F(RsaLookupTest, FindsEachObjectOnceAndKeepsThemApart)
{
    EXPECT_EQ(fetch_handle(rsa_, 1), privateObject_);
    EXPECT_EQ(fetch_handle(rsa_, 0), publicObject_);
    EXPECT_EQ(searches(), 2u);
    EXPECT_EQ(fetch_handle(rsa_, 1), privateObject_);
    EXPECT_EQ(fetch_handle(rsa_, 0), publicObject_);
    EXPECT_EQ(searches(), 2u) << "a cached handle needs no search";
    EXPECT_TRUE(take_errors().empty());
}

/* enableRSA off: no ex-data index, so nothing is cached, but the handle found is the answer. */
class RsaLookupWithoutMethodTest : public LookupSuite {
protected:
    static void SetUpTestSuite()
    {
        RsaEngineSettings settings;
        settings.enableRSA = false;
        load(settings);
    }
    static void TearDownTestSuite() { unload(); }
};

TEST_F(RsaLookupWithoutMethodTest, FindsTheObjectEveryTimeWithoutCaching)
{
    EXPECT_EQ(fetch_handle(rsa_, 1), privateObject_);
    EXPECT_EQ(fetch_handle(rsa_, 1), privateObject_);
    EXPECT_EQ(fetch_handle(rsa_, 0), publicObject_);
    EXPECT_EQ(searches(), 3u);
    EXPECT_TRUE(take_errors().empty());
}

} // namespace
