/*
 * Eight threads share the engine's one token session: signatures through the key
 * method, digests on the token and random bytes at the same time, with the stand-in's
 * own serialisation switched off. Signatures and random bytes must all succeed; a digest
 * may meet another thread's running digest, which must show only as a clean failure.
 */
#include "rsa_engine_fixture.h"

#include "e_zorvel_internal.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace {

const int kThreads = 8;
const int kRounds = 25;

// The published SHA-256 of "abc".
const Bytes kAbcSha256 = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                          0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};

struct tally {
    std::atomic<int> signatures{0}, digestSignatures{0}, digests{0}, randoms{0};
    std::atomic<int> cleanDigestFailures{0}, otherFailures{0}, wrongResults{0};
    std::mutex mutex;
    std::vector<std::string> failures;         // descriptions of failures that are not clean
    std::vector<std::pair<Bytes, Bytes>> made; // (signed data, signature) to verify afterwards
};

// A digest that met another thread's: the engine refused it without a token call.
bool clean_digest_failure(const std::vector<error_entry> &errors)
{
    for (const error_entry &e : errors)
        if (e.data == "digest already running for another context" ||
            e.data == "context does not own the running digest")
            return true;
    return false;
}

class PkeyThreadsTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        RsaEngineSettings settings;
        settings.enableDigest = true;
        settings.enableRand = true;
        load(settings);
        if (token_ == nullptr)
            return;
        key_ = make_software_rsa(2048);
        ASSERT_TRUE(token_->import_pair(key_));
        engineKey_ = engine_pkey_copy(engine_, key_, false);
    }
    static void TearDownTestSuite()
    {
        EVP_PKEY_free(engineKey_);
        EVP_PKEY_free(key_);
        unload();
    }

    static void failure(tally &t, const char *what)
    {
        std::lock_guard<std::mutex> guard(t.mutex);
        t.failures.push_back(std::string(what) + ": " + drained_errors());
        ++t.otherFailures;
    }

    static void one_round(tally &t, int round)
    {
        Bytes digest(32, static_cast<unsigned char>(round));
        // Key-method signature of a digest (DigestInfo on the token).
        {
            EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(engineKey_, engine_);
            Bytes sig(256);
            size_t len = sig.size();
            if (ctx != nullptr && EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
                EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()) == 1) {
                ++t.signatures;
                std::lock_guard<std::mutex> guard(t.mutex);
                t.made.emplace_back(digest, sig);
            } else {
                failure(t, "EVP_PKEY_sign");
            }
            EVP_PKEY_CTX_free(ctx);
        }
        // Digest-and-sign: the digest runs on the token too.
        {
            EVP_MD_CTX *md = EVP_MD_CTX_new();
            EVP_PKEY_CTX *pctx = nullptr;
            Bytes sig(256);
            size_t len = sig.size();
            const unsigned char abc[] = {'a', 'b', 'c'};
            if (EVP_DigestSignInit(md, &pctx, EVP_sha256(), engine_, engineKey_) == 1 &&
                EVP_DigestSign(md, sig.data(), &len, abc, sizeof abc) == 1) {
                ++t.digestSignatures;
                std::lock_guard<std::mutex> guard(t.mutex);
                t.made.emplace_back(kAbcSha256, sig);
            } else {
                std::vector<error_entry> errors = engine_harness::take_errors();
                if (clean_digest_failure(errors)) {
                    ++t.cleanDigestFailures;
                } else {
                    std::lock_guard<std::mutex> guard(t.mutex);
                    t.failures.push_back("EVP_DigestSign: " + describe(errors));
                    ++t.otherFailures;
                }
            }
            EVP_MD_CTX_free(md);
        }
        // A digest on the token.
        {
            Bytes out(32);
            unsigned int len = 0;
            const unsigned char abc[] = {'a', 'b', 'c'};
            if (EVP_Digest(abc, sizeof abc, out.data(), &len, ENGINE_get_digest(engine_, NID_sha256), engine_) == 1) {
                ++t.digests;
                if (out != kAbcSha256)
                    ++t.wrongResults;
            } else if (clean_digest_failure(engine_harness::take_errors())) {
                ++t.cleanDigestFailures;
            } else {
                failure(t, "EVP_Digest");
            }
        }
        // Random bytes.
        {
            unsigned char buf[32];
            if (ENGINE_get_RAND(engine_)->bytes(buf, sizeof buf) == 1)
                ++t.randoms;
            else
                failure(t, "RAND bytes");
        }
    }

    static EVP_PKEY *key_;
    static EVP_PKEY *engineKey_;
};

EVP_PKEY *PkeyThreadsTest::key_ = nullptr;
EVP_PKEY *PkeyThreadsTest::engineKey_ = nullptr;

TEST_F(PkeyThreadsTest, RunningDigestDoesNotBlockSigning)
{
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestInit_ex(md, ENGINE_get_digest(engine_, NID_sha256), engine_), 1);
    ASSERT_EQ(EVP_DigestUpdate(md, "ab", 2), 1);

    EVP_PKEY *fresh = engine_pkey_copy(engine_, key_, false); // no cached handle: the lookup runs too
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(fresh, engine_);
    Bytes digest(32, 7), sig(256);
    size_t len = sig.size();
    ASSERT_EQ(EVP_PKEY_sign_init(ctx), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()), 1);
    EXPECT_EQ(EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()), 1) << drained_errors();
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(fresh);

    ASSERT_EQ(EVP_DigestUpdate(md, "c", 1), 1);
    Bytes out(32);
    unsigned int outLen = 0;
    EXPECT_EQ(EVP_DigestFinal_ex(md, out.data(), &outLen), 1);
    EXPECT_EQ(out, kAbcSha256);
    EVP_MD_CTX_free(md);
}

TEST_F(PkeyThreadsTest, EightThreadsShareTheSession)
{
    tally t;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&t] {
            for (int round = 0; round < kRounds; ++round)
                one_round(t, round);
            ERR_clear_error();
        });
    for (std::thread &thread : threads)
        thread.join();

    EXPECT_EQ(t.otherFailures.load(), 0) << (t.failures.empty() ? "" : t.failures.front());
    EXPECT_EQ(t.wrongResults.load(), 0);
    EXPECT_EQ(t.signatures.load(), kThreads * kRounds);
    EXPECT_EQ(t.randoms.load(), kThreads * kRounds);
    EXPECT_EQ(t.digests + t.digestSignatures + t.cleanDigestFailures, 2 * kThreads * kRounds);
    EXPECT_GT(t.digests.load(), 0);
    EXPECT_GT(t.digestSignatures.load(), 0);

    // Every signature checks out in software (after the threads, so that no verification
    // digest meets a running one).
    for (const auto &[digest, sig] : t.made) {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr);
        ASSERT_EQ(EVP_PKEY_verify_init(ctx), 1);
        ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()), 1);
        EXPECT_EQ(EVP_PKEY_verify(ctx, sig.data(), sig.size(), digest.data(), digest.size()), 1);
        EVP_PKEY_CTX_free(ctx);
    }
}

} // namespace
