// The backend never reaches the application's OpenSSL: with a digest engine and a
// random method of the application's own registered, a login and random numbers
// through the stand-in call neither.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "standin_test_support.h"

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <atomic>
#include <string>

namespace zorvel::test {
namespace {

std::atomic<int> g_digestCalls{0};
std::atomic<int> g_randomCalls{0};

// SHA-256 through the low-level functions, counting every call.
int countingInit(EVP_MD_CTX *ctx) {
  ++g_digestCalls;
  return SHA256_Init(static_cast<SHA256_CTX *>(EVP_MD_CTX_md_data(ctx)));
}
int countingUpdate(EVP_MD_CTX *ctx, const void *data, size_t count) {
  ++g_digestCalls;
  return SHA256_Update(static_cast<SHA256_CTX *>(EVP_MD_CTX_md_data(ctx)), data, count);
}
int countingFinal(EVP_MD_CTX *ctx, unsigned char *md) {
  ++g_digestCalls;
  return SHA256_Final(md, static_cast<SHA256_CTX *>(EVP_MD_CTX_md_data(ctx)));
}

EVP_MD *countingSha256() {
  static EVP_MD *md = [] {
    EVP_MD *m = EVP_MD_meth_new(NID_sha256, NID_sha256WithRSAEncryption);
    EVP_MD_meth_set_result_size(m, SHA256_DIGEST_LENGTH);
    EVP_MD_meth_set_input_blocksize(m, SHA256_CBLOCK);
    EVP_MD_meth_set_app_datasize(m, sizeof(SHA256_CTX));
    EVP_MD_meth_set_init(m, countingInit);
    EVP_MD_meth_set_update(m, countingUpdate);
    EVP_MD_meth_set_final(m, countingFinal);
    return m;
  }();
  return md;
}

int selectDigest(ENGINE *, const EVP_MD **digest, const int **nids, int nid) {
  static const int kNids[] = {NID_sha256};
  if (digest == nullptr) {
    *nids = kNids;
    return 1;
  }
  *digest = nid == NID_sha256 ? countingSha256() : nullptr;
  return *digest != nullptr;
}

int countingBytes(unsigned char *buffer, int count) {
  ++g_randomCalls;
  for (int i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>(i * 7 + 1);
  return 1;
}
int countingStatus() { return 1; }

const RAND_METHOD kCountingRandom = {nullptr, countingBytes, nullptr, nullptr, countingBytes, countingStatus};

class Isolation : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = ENGINE_new();
    ASSERT_NE(nullptr, engine_);
    ASSERT_EQ(1, ENGINE_set_id(engine_, "counting"));
    ASSERT_EQ(1, ENGINE_set_digests(engine_, selectDigest));
    ASSERT_EQ(1, ENGINE_set_default_digests(engine_));
    ASSERT_EQ(1, RAND_set_rand_method(&kCountingRandom));
  }
  void TearDown() override {
    RAND_set_rand_method(nullptr);
    ENGINE_unregister_digests(engine_);
    ENGINE_free(engine_);
    EVP_MD_meth_free(countingSha256());
  }

 private:
  ENGINE *engine_ = nullptr;
};

TEST_F(Isolation, LoginAndRandomThroughTheStandInNeverReachTheApplicationsHooks) {
  // The hooks are live in this process.
  unsigned char digest[SHA256_DIGEST_LENGTH];
  unsigned int length = 0;
  ASSERT_EQ(1, EVP_Digest("abc", 3, digest, &length, EVP_sha256(), nullptr));
  ASSERT_GT(g_digestCalls.load(), 0);
  unsigned char random[16];
  ASSERT_EQ(1, RAND_bytes(random, sizeof random));
  ASSERT_GT(g_randomCalls.load(), 0);

  const int digestsBefore = g_digestCalls.load();
  const int randomBefore = g_randomCalls.load();
  CK_FUNCTION_LIST_PTR f = functionList();
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, openUserSession(f, &session));
  EXPECT_CKR(CKR_OK, f->C_GenerateRandom(session, random, sizeof random));
  CK_MECHANISM sha256 = {CKM_SHA256, nullptr, 0};
  CK_BYTE data[] = {'a', 'b', 'c'};
  CK_ULONG digestLength = sizeof digest;
  EXPECT_CKR(CKR_OK, f->C_DigestInit(session, &sha256));
  EXPECT_CKR(CKR_OK, f->C_Digest(session, data, sizeof data, digest, &digestLength));
  EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
  EXPECT_EQ(digestsBefore, g_digestCalls.load());
  EXPECT_EQ(randomBefore, g_randomCalls.load());
}

}  // namespace
}  // namespace zorvel::test
