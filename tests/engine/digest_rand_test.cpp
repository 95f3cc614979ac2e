/*
 * The engine's digests and random numbers against the stand-in token: results against
 * published digest values, digests running at once, contexts freed or copied
 * mid-digest, and the random-number method's counts.
 */
#include "rsa_engine_fixture.h"

#include "e_zorvel_internal.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstring>
#include <string>

namespace {

std::string hex(const Bytes &b)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : b) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

struct md_ctx_deleter {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
using md_ctx_ptr = std::unique_ptr<EVP_MD_CTX, md_ctx_deleter>;

class EngineDigestTest : public RsaEngineTest {
protected:
    static void load_with(const std::string &lib)
    {
        RsaEngineSettings settings;
        settings.enableRSA = false;
        settings.enableDigest = true;
        settings.enableRand = true;
        settings.lib = lib;
        load(settings);
    }
    static void SetUpTestSuite() { load_with(ZORVEL_TEST_TOKEN_LIBRARY); }
    static void TearDownTestSuite() { unload(); }

    const EVP_MD *md(int nid) { return ENGINE_get_digest(engine_, nid); }

    md_ctx_ptr started(int nid)
    {
        md_ctx_ptr ctx(EVP_MD_CTX_new());
        EXPECT_EQ(EVP_DigestInit_ex(ctx.get(), md(nid), engine_), 1) << drained_errors();
        return ctx;
    }

    static std::string finish(EVP_MD_CTX *ctx)
    {
        Bytes out(EVP_MAX_MD_SIZE);
        unsigned int len = 0;
        if (EVP_DigestFinal_ex(ctx, out.data(), &len) != 1)
            return "failed";
        out.resize(len);
        return hex(out);
    }

    static void update(EVP_MD_CTX *ctx, const std::string &data, int expected = 1)
    {
        EXPECT_EQ(EVP_DigestUpdate(ctx, data.data(), data.size()), expected);
    }
};

struct known_digest {
    int nid;
    const char *abc;
};

// Published values of the digest of "abc".
const int kSix = 6;
const known_digest kAbc[kSix] = {
    {NID_md5, "900150983cd24fb0d6963f7d28e17f72"},
    {NID_sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {NID_sha224, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {NID_sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {NID_sha384, "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {NID_sha512, "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
                 "454d4423643ce80e2a9ac94fa54ca49f"},
};

TEST_F(EngineDigestTest, AllSixMatchThePublishedDigestOfAbc)
{
    for (const known_digest &k : kAbc) {
        md_ctx_ptr ctx = started(k.nid);
        update(ctx.get(), "a");
        update(ctx.get(), "");
        update(ctx.get(), "bc");
        EXPECT_EQ(finish(ctx.get()), k.abc) << OBJ_nid2sn(k.nid) << " " << drained_errors();
    }
}

TEST_F(EngineDigestTest, MillionBytesInParts)
{
    md_ctx_ptr ctx = started(NID_sha256);
    const std::string part(10000, 'a');
    for (int i = 0; i < 100; ++i)
        update(ctx.get(), part);
    EXPECT_EQ(finish(ctx.get()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(EngineDigestTest, SelectorOffersTheSixDigests)
{
    const int *nids = nullptr;
    ENGINE_DIGESTS_PTR selector = ENGINE_get_digests(engine_);
    ASSERT_NE(selector, nullptr);
    ASSERT_EQ(selector(engine_, nullptr, &nids, 0), 6);
    EXPECT_EQ(nids[0], NID_md5);
    EXPECT_EQ(nids[5], NID_sha512);
    const EVP_MD *sha224 = nullptr;
    EXPECT_EQ(selector(engine_, &sha224, nullptr, NID_sha224), 1);
    ASSERT_NE(sha224, nullptr);
    EXPECT_EQ(EVP_MD_get_type(sha224), NID_sha224);
    EXPECT_EQ(EVP_MD_get_size(sha224), 28);
    const EVP_MD *mdc2 = EVP_sha1();
    EXPECT_EQ(selector(engine_, &mdc2, nullptr, NID_mdc2), 1);
    EXPECT_EQ(mdc2, nullptr);
}

TEST_F(EngineDigestTest, DigestsRunAtOnceInOneThread)
{
    md_ctx_ptr ctxs[kSix];
    for (int i = 0; i < kSix; ++i) {
        ctxs[i] = started(kAbc[i].nid);
        update(ctxs[i].get(), "a");
    }
    for (int i = kSix - 1; i >= 0; --i) {
        update(ctxs[i].get(), "bc");
        EXPECT_EQ(finish(ctxs[i].get()), kAbc[i].abc) << OBJ_nid2sn(kAbc[i].nid) << " " << drained_errors();
    }
}

TEST_F(EngineDigestTest, ContextFreedMidDigestEndsIt)
{
    {
        md_ctx_ptr abandoned = started(NID_sha512);
        update(abandoned.get(), "partial");
    }
    md_ctx_ptr next = started(NID_md5);
    update(next.get(), "abc");
    EXPECT_EQ(finish(next.get()), kAbc[0].abc);
}

// The child replays an inherited running digest onto a session of its own; the parent's
// digest is undisturbed.
TEST_F(EngineDigestTest, ChildAfterForkCompletesTheInheritedDigestOnItsOwnSession)
{
    md_ctx_ptr running = started(NID_sha256);
    update(running.get(), "a");
    EXPECT_EQ(engine_harness::in_child([&] {
                  md_ctx_ptr child = started(NID_sha1);
                  update(child.get(), "abc");
                  EXPECT_EQ(finish(child.get()), kAbc[1].abc) << drained_errors();
                  update(running.get(), "bc");
                  EXPECT_EQ(finish(running.get()), kAbc[3].abc) << drained_errors();
                  md_ctx_ptr again = started(NID_md5);
                  update(again.get(), "abc");
                  EXPECT_EQ(finish(again.get()), kAbc[0].abc);
              }),
              0);
    update(running.get(), "bc");
    EXPECT_EQ(finish(running.get()), kAbc[3].abc);
}

TEST_F(EngineDigestTest, ContextReinitialisedMidDigestStartsAfresh)
{
    md_ctx_ptr ctx = started(NID_sha256);
    update(ctx.get(), "stale data");
    ASSERT_EQ(EVP_DigestInit_ex(ctx.get(), nullptr, nullptr), 1) << drained_errors();
    update(ctx.get(), "abc");
    EXPECT_EQ(finish(ctx.get()), kAbc[3].abc);
}

TEST_F(EngineDigestTest, UpdateOrFinalWithoutTheRunningDigestFails)
{
    md_ctx_ptr ctx = started(NID_sha1);
    update(ctx.get(), "abc");
    ASSERT_EQ(finish(ctx.get()), kAbc[1].abc);
    ERR_clear_error();
    update(ctx.get(), "more", 0);
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_HASH", ZORVEL_R_PKCS11_ERROR, "no digest running in this context"))
        << describe(errors);
}

// libssl copies its transcript digest for every Finished message: a copy is a digest of
// its own, and so is a copy of the copy; the original goes on undisturbed.
TEST_F(EngineDigestTest, CopyMidDigestIsAnIndependentDigest)
{
    md_ctx_ptr original = started(NID_sha256);
    update(original.get(), "a");
    update(original.get(), "b");
    md_ctx_ptr copy(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_MD_CTX_copy_ex(copy.get(), original.get()), 1) << drained_errors();
    md_ctx_ptr copyOfCopy(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_MD_CTX_copy_ex(copyOfCopy.get(), copy.get()), 1) << drained_errors();
    update(original.get(), "x");
    update(copy.get(), "c");
    EXPECT_EQ(finish(copy.get()), kAbc[3].abc) << drained_errors();
    update(copyOfCopy.get(), "c");
    EXPECT_EQ(finish(copyOfCopy.get()), kAbc[3].abc) << drained_errors();
    EXPECT_EQ(finish(original.get()), "b2bdab4230154046ad0b7dfa830a9260caa5bd6ae230e582a2244ab4bf0b4ca5"); // "abx"
}

// The stand-in has no C_GetOperationState: a copy replays what the original was fed, which
// is kept up to 1 MiB. Beyond it a copy fails cleanly and the original is undisturbed.
TEST_F(EngineDigestTest, CopyReplaysUpToOneMebibyte)
{
    md_ctx_ptr original = started(NID_sha256);
    update(original.get(), std::string(1024 * 1024, 'a'));
    md_ctx_ptr copy(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_MD_CTX_copy_ex(copy.get(), original.get()), 1) << drained_errors();
    update(copy.get(), "c");
    EXPECT_EQ(finish(copy.get()), "be4c4bf5829b87611dc04ff389432174d632c85d564dd4a56284a9a782e54ccb");

    update(original.get(), "b");
    md_ctx_ptr refused(EVP_MD_CTX_new());
    EXPECT_EQ(EVP_MD_CTX_copy_ex(refused.get(), original.get()), 0);
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_HASH", ZORVEL_R_INVALID_VALUE,
                          "digest copy, more than 1 MiB fed and no C_GetOperationState"))
        << describe(errors);
    update(original.get(), "c");
    EXPECT_EQ(finish(original.get()), "4e46f2267f19a25e7bc2b39782869b272d1f98d014e9efe658cfa0c5bd4c150b");
}

// The kept bytes span blocks of several sizes: parts that end inside a block, fill it
// exactly or run over into the next, copied at points on either side of a block's end.
TEST_F(EngineDigestTest, CopiesReplayPartsAcrossTheKeptBlocks)
{
    const size_t parts[] = {1, 255, 1000, 70000, 65536, 3};
    std::string fed;
    md_ctx_ptr original = started(NID_sha256);
    for (int round = 0; round < 6; ++round) {
        for (size_t size : parts) {
            std::string part(size, static_cast<char>('a' + fed.size() % 26));
            update(original.get(), part);
            fed += part;
        }
        md_ctx_ptr copy(EVP_MD_CTX_new());
        ASSERT_EQ(EVP_MD_CTX_copy_ex(copy.get(), original.get()), 1) << fed.size() << " " << drained_errors();
        update(copy.get(), "tail");
        Bytes expected(SHA256_DIGEST_LENGTH);
        const std::string withTail = fed + "tail";
        SHA256(reinterpret_cast<const unsigned char *>(withTail.data()), withTail.size(), expected.data());
        EXPECT_EQ(finish(copy.get()), hex(expected)) << fed.size();
    }
}

TEST_F(EngineDigestTest, RandomBytesFromTheToken)
{
    const RAND_METHOD *rand = ENGINE_get_RAND(engine_);
    ASSERT_NE(rand, nullptr);
    Bytes a(32), b(32), zero(32);
    EXPECT_EQ(rand->bytes(a.data(), 32), 1);
    EXPECT_EQ(rand->pseudorand(b.data(), 32), 1);
    EXPECT_NE(a, zero);
    EXPECT_NE(a, b);
    EXPECT_EQ(rand->bytes(a.data(), 0), 1);
    EXPECT_EQ(rand->status(), 1);
}

TEST_F(EngineDigestTest, NegativeRandomCountsAreRefused)
{
    const RAND_METHOD *rand = ENGINE_get_RAND(engine_);
    ASSERT_NE(rand, nullptr);
    unsigned char buf[4] = {};
    EXPECT_EQ(rand->bytes(buf, -1), 0);
    EXPECT_EQ(rand->seed(buf, -5), 0);
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_RAND", ZORVEL_R_INVALID_VALUE)) << describe(errors);
    EXPECT_TRUE(has_error(errors, "ZORVEL_F_SEED", ZORVEL_R_INVALID_VALUE)) << describe(errors);
}

TEST_F(EngineDigestTest, SeedAndAddReachTheToken)
{
    const RAND_METHOD *rand = ENGINE_get_RAND(engine_);
    ASSERT_NE(rand, nullptr);
    const unsigned char seed[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(rand->seed(seed, sizeof seed), 1) << drained_errors();
    EXPECT_EQ(rand->add(seed, sizeof seed, 0.0), 1) << drained_errors();
    EXPECT_TRUE(engine_harness::logged("rand add, num: 16"));
}

TEST_F(EngineDigestTest, DefaultRandomMethodServesRandBytes)
{
    ASSERT_EQ(ENGINE_set_default_RAND(engine_), 1);
    unsigned char buf[48] = {};
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 1);
    EXPECT_TRUE(engine_harness::logged("rand, num: 48"));
    ENGINE_unregister_RAND(engine_);
}

// The stand-in behind the fault library (rsa_fault_token.cpp), for what a working token
// does not show.
class EngineDigestFaultsTest : public EngineDigestTest {
protected:
    static void SetUpTestSuite() { load_with(ZORVEL_RSA_FAULT_TOKEN); }
    void TearDown() override
    {
        unsetenv("ZORVEL_FAULT_DIGEST_LEN");
        unsetenv("ZORVEL_FAULT_STATE_LEN");
        unsetenv("ZORVEL_FAULT_OPERATION_STATE");
        EngineDigestTest::TearDown();
    }
};

// A token that offers its operation state but needs more room for it than it first said:
// the copy replays instead, and the state's buffer is wiped within its bounds (valgrind).
// First in the suite: a token without C_GetOperationState is remembered for the process.
TEST_F(EngineDigestFaultsTest, OperationStateThatGrowsIsLeftForReplay)
{
    md_ctx_ptr original = started(NID_sha256);
    update(original.get(), "ab");
    setenv("ZORVEL_FAULT_STATE_LEN", "20", 1);
    md_ctx_ptr copy(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_MD_CTX_copy_ex(copy.get(), original.get()), 1) << drained_errors();
    update(copy.get(), "c");
    EXPECT_EQ(finish(copy.get()), kAbc[3].abc) << drained_errors();
    update(original.get(), "c");
    EXPECT_EQ(finish(original.get()), kAbc[3].abc) << drained_errors();
}

// A token that offers its operation state: the copy takes the state over, so that even a
// digest fed more than the bytes kept for a replay can be copied. The original goes on.
// Second in the suite, before any copy reaches the stand-in's own C_GetOperationState.
TEST_F(EngineDigestFaultsTest, OperationStateIsCarriedOverBeyondTheReplayCap)
{
    setenv("ZORVEL_FAULT_OPERATION_STATE", "1", 1);
    md_ctx_ptr original = started(NID_sha256);
    update(original.get(), std::string(1024 * 1024, 'a'));
    update(original.get(), "b");
    md_ctx_ptr copy(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_MD_CTX_copy_ex(copy.get(), original.get()), 1) << drained_errors();
    update(original.get(), "x");
    update(copy.get(), "c");
    EXPECT_EQ(finish(copy.get()), "4e46f2267f19a25e7bc2b39782869b272d1f98d014e9efe658cfa0c5bd4c150b")
        << drained_errors();
    EXPECT_EQ(finish(original.get()), "acef7827d23232c75bb021c2a806c3760dda6b1cd2aea9692de17e1d94287286");
}

// A digest the token cannot be made to deliver (it names a length beyond any digest) is
// still running on its session: that session must not serve the next digest.
TEST_F(EngineDigestFaultsTest, DigestThatCannotBeEndedLeavesNoSessionBusy)
{
    struct ending {
        const char *name;
        void (*end)(md_ctx_ptr &ctx);
    };
    const ending endings[] = {
        {"final", [](md_ctx_ptr &ctx) { EXPECT_EQ(finish(ctx.get()), "failed"); }},
        {"free", [](md_ctx_ptr &ctx) { ctx.reset(); }},
        {"init again", [](md_ctx_ptr &ctx) { EXPECT_EQ(EVP_DigestInit_ex(ctx.get(), nullptr, nullptr), 1); }},
    };
    for (const ending &e : endings) {
        md_ctx_ptr ctx = started(NID_sha256);
        update(ctx.get(), "partial");
        setenv("ZORVEL_FAULT_DIGEST_LEN", "41", 1);
        e.end(ctx);
        unsetenv("ZORVEL_FAULT_DIGEST_LEN");
        ERR_clear_error();
        for (int i = 0; i < 2; ++i) {
            md_ctx_ptr next = started(NID_sha1);
            update(next.get(), "abc");
            EXPECT_EQ(finish(next.get()), kAbc[1].abc) << e.name << " " << drained_errors();
        }
    }
}

// A child that frees a digest it inherited mid-way leaves the parent's session alone (the
// fault library ends the child when a digest call reaches a session of the parent).
TEST_F(EngineDigestFaultsTest, ChildFreeingAnInheritedDigestMakesNoCallOnTheParentsSession)
{
    md_ctx_ptr running = started(NID_sha256);
    update(running.get(), "a");
    EXPECT_EQ(engine_harness::in_child([&] {
                  running.reset();
                  md_ctx_ptr child = started(NID_sha1);
                  update(child.get(), "abc");
                  EXPECT_EQ(finish(child.get()), kAbc[1].abc) << drained_errors();
              }),
              0);
    update(running.get(), "bc");
    EXPECT_EQ(finish(running.get()), kAbc[3].abc);
}

// No PIN at login (binding refuses a configuration without one, so the test takes it
// away after binding): no process context, so digests and random numbers fail before any
// call of theirs reaches the token.
class EngineWithoutLoginTest : public RsaEngineTest {
protected:
    static void SetUpTestSuite()
    {
        RsaEngineSettings settings;
        settings.enableDigest = true;
        settings.enableRand = true;
        load(settings);
        zorvel_config_st *read = static_cast<zorvel_config_st *>(engine_harness::engine_symbol("zorvel_config"));
        ASSERT_NE(read, nullptr);
        OPENSSL_clear_free(read->user_pin, std::strlen(read->user_pin));
        read->user_pin = nullptr;
    }
    static void TearDownTestSuite() { unload(); }
};

TEST_F(EngineWithoutLoginTest, DigestsAndRandomNumbersFailWithTheLoginError)
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EXPECT_EQ(EVP_DigestInit_ex(ctx, ENGINE_get_digest(engine_, NID_sha256), engine_), 0);
    EVP_MD_CTX_free(ctx);
    unsigned char buf[16];
    EXPECT_EQ(ENGINE_get_RAND(engine_)->bytes(buf, sizeof buf), 0);
    EXPECT_EQ(ENGINE_get_RAND(engine_)->seed(buf, sizeof buf), 0);
    std::vector<error_entry> errors = engine_harness::take_errors();
    EXPECT_TRUE(has_error(errors, "ZORVEL_INIT", ZORVEL_R_PKCS11_ERROR, "C_Login, no user pin provided"))
        << describe(errors);
    for (const error_entry &e : errors) {
        EXPECT_EQ(e.data.find("C_Digest"), std::string::npos) << e.data;
        EXPECT_EQ(e.data.find("C_GenerateRandom"), std::string::npos) << e.data;
        EXPECT_EQ(e.data.find("C_SeedRandom"), std::string::npos) << e.data;
    }
    EXPECT_FALSE(engine_harness::logged("sha256, init error: 0x"));
}

} // namespace
