/*
 * Many threads on one key and one token session. The stand-in's own serialisation of a
 * session's calls is off (ZORVEL_P11_SERIALIZE_SESSIONS=0), so only the engine keeps the
 * Init and the call that completes it together.
 */
#include "rsa_engine_fixture.h"

#include <openssl/err.h>
#include <openssl/rsa.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

using namespace engine_harness;

namespace {

class RsaThreadsTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite() { load(RsaEngineSettings{}); }
    static void TearDownTestSuite() { unload(); }
};

TEST_F(RsaThreadsTest, PrivateOperationsOfManyThreadsOnOneKeyAllSucceed)
{
    const int kThreads = 8;
    const int kOperations = 500;
    EVP_PKEY *key = make_software_rsa(1024);
    ASSERT_TRUE(token_->import_pair(key));
    RSA *shared = engine_rsa_copy(engine_, key, false);
    const Bytes message = test_message(20);

    std::atomic<int> succeeded{0};
    std::mutex failuresMutex;
    std::set<std::string> failures;
    Bytes lastSignature;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            Bytes sig(static_cast<size_t>(RSA_size(shared)));
            for (int i = 0; i < kOperations; ++i) {
                if (RSA_private_encrypt(static_cast<int>(message.size()), message.data(), sig.data(), shared,
                                        RSA_PKCS1_PADDING) == RSA_size(shared)) {
                    ++succeeded;
                    continue;
                }
                std::lock_guard<std::mutex> guard(failuresMutex);
                failures.insert(describe(take_errors()));
            }
            std::lock_guard<std::mutex> guard(failuresMutex);
            lastSignature = sig;
        });
    for (std::thread &thread : threads)
        thread.join();

    EXPECT_EQ(succeeded.load(), kThreads * kOperations);
    for (const std::string &failure : failures)
        ADD_FAILURE() << failure;
    EXPECT_EQ(software_verify_recover(key, RSA_PKCS1_PADDING, lastSignature), message);
    RSA_free(shared);
    EVP_PKEY_free(key);
}

} // namespace
