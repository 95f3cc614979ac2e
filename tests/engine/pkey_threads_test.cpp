/*
 * Eight threads share the engine with its digests on, as a busy host does: PKCS#1 and PSS
 * signatures, digest-and-sign, verification and OAEP decryption through the key method,
 * SHA-256 digests and random bytes on the token, with the stand-in's own serialisation
 * switched off. Every operation must succeed and every result checks out in software.
 * Forks while those threads run give children that sign on their own.
 */
#include "rsa_engine_fixture.h"

#include "e_zorvel_internal.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

const int kThreads = 8;
const int kOperations = 1000;
const int kForks = 20;
const int kChildSignatures = 100;

// The published SHA-256 of "abc".
const Bytes kAbcSha256 = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                          0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};

struct pkey_ctx_deleter {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using pkey_ctx_ptr = std::unique_ptr<EVP_PKEY_CTX, pkey_ctx_deleter>;

enum operation { pkcs1_sign, pss_sign, digest_sign, engine_verify, token_sha256, random_bytes, oaep_decrypt, kinds };
const char *const kOperationNames[kinds] = {"PKCS#1 sign", "PSS sign",     "digest and sign", "verify",
                                            "SHA-256",     "random bytes", "OAEP decrypt"};

struct tally {
    std::atomic<int> done[kinds] = {};
    std::atomic<int> failures{0};
    std::mutex mutex;
    std::string firstFailure;
};

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
        softwareSha256_ = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    }
    static void TearDownTestSuite()
    {
        EVP_MD_free(softwareSha256_);
        EVP_PKEY_free(engineKey_);
        EVP_PKEY_free(key_);
        unload();
    }

    // A key-method context on the engine's key, set up for signing with SHA-256.
    static pkey_ctx_ptr signing_ctx(int padding)
    {
        pkey_ctx_ptr ctx(EVP_PKEY_CTX_new(engineKey_, engine_));
        if (ctx == nullptr || EVP_PKEY_sign_init(ctx.get()) != 1 ||
            EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1 ||
            EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1)
            return nullptr;
        if (padding == RSA_PKCS1_PSS_PADDING && EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx.get(), RSA_PSS_SALTLEN_DIGEST) != 1)
            return nullptr;
        return ctx;
    }

    // Software: the SHA-256 of data, and the check of a signature of a digest.
    static Bytes software_sha256(const Bytes &data)
    {
        Bytes out(32);
        unsigned int len = 0;
        EVP_Digest(data.data(), data.size(), out.data(), &len, softwareSha256_, nullptr);
        return out;
    }
    static bool software_verifies(int padding, const Bytes &digest, const Bytes &sig)
    {
        pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr));
        return ctx != nullptr && EVP_PKEY_verify_init(ctx.get()) == 1 &&
               EVP_PKEY_CTX_set_signature_md(ctx.get(), softwareSha256_) == 1 &&
               EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) == 1 &&
               EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1;
    }
    static Bytes software_sign(const Bytes &digest)
    {
        pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr));
        Bytes sig(256);
        size_t len = sig.size();
        if (ctx == nullptr || EVP_PKEY_sign_init(ctx.get()) != 1 ||
            EVP_PKEY_CTX_set_signature_md(ctx.get(), softwareSha256_) != 1 ||
            EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()) != 1)
            return {};
        sig.resize(len);
        return sig;
    }

    static bool sign_digest(int padding, const Bytes &digest)
    {
        pkey_ctx_ptr ctx = signing_ctx(padding);
        Bytes sig(256);
        size_t len = sig.size();
        return ctx != nullptr && EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()) == 1 &&
               software_verifies(padding, digest, Bytes(sig.begin(), sig.begin() + static_cast<long>(len)));
    }

    // One operation of the kind, its result checked in software; true when both passed.
    static bool run(operation kind, const Bytes &data)
    {
        switch (kind) {
        case pkcs1_sign:
            return sign_digest(RSA_PKCS1_PADDING, software_sha256(data));
        case pss_sign:
            return sign_digest(RSA_PKCS1_PSS_PADDING, software_sha256(data));
        case digest_sign: { // the digest runs on the token while the signature is made
            EVP_MD_CTX *md = EVP_MD_CTX_new();
            Bytes sig(256);
            size_t len = sig.size();
            bool ok = EVP_DigestSignInit(md, nullptr, EVP_sha256(), engine_, engineKey_) == 1 &&
                      EVP_DigestSign(md, sig.data(), &len, data.data(), data.size()) == 1;
            EVP_MD_CTX_free(md);
            sig.resize(len);
            return ok && software_verifies(RSA_PKCS1_PADDING, software_sha256(data), sig);
        }
        case engine_verify: {
            Bytes digest = software_sha256(data), sig = software_sign(digest);
            pkey_ctx_ptr ctx(EVP_PKEY_CTX_new(engineKey_, engine_));
            return ctx != nullptr && EVP_PKEY_verify_init(ctx.get()) == 1 &&
                   EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) == 1 &&
                   EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1;
        }
        case token_sha256: {
            Bytes out(32);
            unsigned int len = 0;
            return EVP_Digest(data.data(), data.size(), out.data(), &len, ENGINE_get_digest(engine_, NID_sha256),
                              engine_) == 1 &&
                   out == software_sha256(data);
        }
        case random_bytes: {
            Bytes a(32), b(32);
            const RAND_METHOD *rand = ENGINE_get_RAND(engine_);
            return rand->bytes(a.data(), 32) == 1 && rand->bytes(b.data(), 32) == 1 && a != b;
        }
        case oaep_decrypt: {
            Bytes cipher = software_encrypt(key_, RSA_PKCS1_OAEP_PADDING, data);
            pkey_ctx_ptr ctx(EVP_PKEY_CTX_new(engineKey_, engine_));
            Bytes plain(256);
            size_t len = plain.size();
            bool ok = ctx != nullptr && EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
                      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) == 1 &&
                      EVP_PKEY_decrypt(ctx.get(), plain.data(), &len, cipher.data(), cipher.size()) == 1;
            plain.resize(len);
            return ok && plain == data;
        }
        case kinds:
            break;
        }
        return false;
    }

    // Operations of every kind in turn, `count` of them or until `stop` is set.
    static void worker(tally &t, int thread, int count, const std::atomic<bool> &stop)
    {
        for (int i = 0; i < count && !stop; ++i) {
            operation kind = static_cast<operation>((i + thread) % kinds);
            Bytes data(16 + static_cast<size_t>(i % 48), static_cast<unsigned char>(thread * 31 + i));
            if (run(kind, data)) {
                ++t.done[kind];
                continue;
            }
            std::lock_guard<std::mutex> guard(t.mutex);
            if (t.failures++ == 0)
                t.firstFailure = std::string(kOperationNames[kind]) + ": " + drained_errors();
        }
        ERR_clear_error();
    }

    static EVP_PKEY *key_;
    static EVP_PKEY *engineKey_;
    static EVP_MD *softwareSha256_;
};

EVP_PKEY *PkeyThreadsTest::key_ = nullptr;
EVP_PKEY *PkeyThreadsTest::engineKey_ = nullptr;
EVP_MD *PkeyThreadsTest::softwareSha256_ = nullptr;

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

TEST_F(PkeyThreadsTest, EightThreadsOfMixedOperationsAllSucceed)
{
    tally t;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&t, &stop, i] { worker(t, i, kOperations, stop); });
    for (std::thread &thread : threads)
        thread.join();

    EXPECT_EQ(t.failures.load(), 0) << t.firstFailure;
    int total = 0;
    for (int kind = 0; kind < kinds; ++kind) {
        EXPECT_GE(t.done[kind].load(), kThreads * (kOperations / kinds)) << kOperationNames[kind];
        total += t.done[kind];
    }
    EXPECT_EQ(total, kThreads * kOperations);
}

// The child of a fork made while the threads are inside the engine inherits none of its
// locks held: it opens a process context and session of its own and signs (on the
// stand-in the inherited session would sign as well). It runs with no other thread and
// touches only what the engine needs (a key context made before the fork), and stops
// itself after a minute should it hang.
TEST_F(PkeyThreadsTest, ForkWhileThreadsWorkGivesAChildThatSigns)
{
    const Bytes digest = software_sha256(Bytes(20, 'f'));
    const Bytes expected = software_sign(digest); // PKCS#1 v1.5 signatures are deterministic
    ASSERT_EQ(expected.size(), 256u);
    zorvel_ctx *const *processCtx = static_cast<zorvel_ctx **>(engine_harness::engine_symbol("pZorvelCtx"));
    ASSERT_NE(processCtx, nullptr);

    tally t;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&t, &stop, i] { worker(t, i, 1 << 30, stop); });

    int childrenDone = 0;
    for (int round = 0; round < kForks; ++round) {
        pkey_ctx_ptr ctx = signing_ctx(RSA_PKCS1_PADDING);
        ASSERT_NE(ctx, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + round % 7));
        pid_t pid = fork();
        if (pid == 0) {
            alarm(60);
            int good = 0;
            for (int i = 0; i < kChildSignatures; ++i) {
                Bytes sig(256);
                size_t len = sig.size();
                if (EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()) == 1 && sig == expected)
                    ++good;
            }
            const bool ownSession = *processCtx != nullptr && (*processCtx)->pid == getpid();
            _exit(good == kChildSignatures && ownSession ? 0 : 1);
        }
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "round " << round
            << (WIFSIGNALED(status) ? ": child stuck or killed" : ": child failed to sign on a session of its own");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            break;
        ++childrenDone;
    }
    stop = true;
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(childrenDone, kForks);
    EXPECT_EQ(t.failures.load(), 0) << t.firstFailure;
}

} // namespace
