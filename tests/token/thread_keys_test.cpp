// Thread-specific values of the application beside the stand-in's namespace, whose own C
// library numbers its keys apart but stores their values in the same thread descriptor.
// Each test holds first-level keys of its own before the library is first used, as an
// application may: registered once per test, each in a process of its own.
#include "standin_test_support.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <thread>
#include <vector>

namespace zorvel::test {
namespace {

constexpr pthread_key_t kFirstLevelKeys = 32;

// Keys of the application, each holding a value of its own on every thread.
class ApplicationKeys {
 public:
  // Takes every first-level key and `beyond` keys past them, then gives back the
  // highest `leaveFree` first-level ones.
  ApplicationKeys(pthread_key_t leaveFree, pthread_key_t beyond) {
    std::vector<pthread_key_t> spare;
    pthread_key_t key;
    while (pthread_key_create(&key, nullptr) == 0) {
      const bool isSpare = key >= kFirstLevelKeys - leaveFree && key < kFirstLevelKeys;
      (isSpare ? spare : keys_).push_back(key);
      if (key + 1 >= kFirstLevelKeys + beyond) break;
    }
    for (const pthread_key_t free : spare) pthread_key_delete(free);
  }
  ~ApplicationKeys() {
    for (const pthread_key_t key : keys_) pthread_key_delete(key);
  }

  void add(int count) {
    for (int i = 0; i < count; ++i) {
      pthread_key_t key;
      ASSERT_EQ(0, pthread_key_create(&key, nullptr));
      keys_.push_back(key);
    }
  }
  // Gives every key on the calling thread a value that names the key and the thread.
  void set(int thread) const {
    for (const pthread_key_t key : keys_) pthread_setspecific(key, expected(key, thread));
  }
  // The keys whose value on the calling thread was changed.
  int changed(int thread) const {
    int count = 0;
    for (const pthread_key_t key : keys_) count += pthread_getspecific(key) != expected(key, thread);
    return count;
  }

 private:
  static void *expected(pthread_key_t key, int thread) {
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(0x10000 * (thread + 1) + key));
  }
  std::vector<pthread_key_t> keys_;
};

// What makes the backend and its libcrypto create and use thread keys.
void useTheToken(CK_FUNCTION_LIST_PTR f) {
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, openUserSession(f, &session));
  CK_BYTE random[16];
  EXPECT_CKR(CKR_OK, f->C_GenerateRandom(session, random, sizeof random));
  CK_MECHANISM digest = {CKM_SHA256, nullptr, 0};
  CK_BYTE data[] = {'a', 'b', 'c'};
  CK_BYTE hash[32];
  CK_ULONG hashLength = sizeof hash;
  EXPECT_CKR(CKR_OK, f->C_DigestInit(session, &digest));
  EXPECT_CKR(CKR_OK, f->C_Digest(session, data, sizeof data, hash, &hashLength));
  EXPECT_CKR(CKR_OK, f->C_CloseSession(session));
}

// The library's first use: an initialisation once the keys hold their values.
CK_RV initialiseBeside(const ApplicationKeys &keys) {
  keys.set(0);
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  return functionList()->C_Initialize(&args);
}

TEST(ThreadKeys, ApplicationValuesStayTheirOwn) {
  // Room for the namespace's share, and keys past the first level, before and after.
  ApplicationKeys keys(12, 8);
  ASSERT_CKR(CKR_OK, initialiseBeside(keys));
  CK_FUNCTION_LIST_PTR f = functionList();
  keys.add(40);
  keys.set(0);
  useTheToken(f);
  std::thread other([&] {
    keys.set(1);
    useTheToken(f);
    EXPECT_EQ(0, keys.changed(1));
  });
  other.join();
  EXPECT_EQ(0, keys.changed(0));
  EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
}

TEST(ThreadKeys, TooFewFreeKeysRefuseTheLibrary) {
  ApplicationKeys keys(4, 8);
  EXPECT_CKR(CKR_GENERAL_ERROR, initialiseBeside(keys));
  EXPECT_EQ(0, keys.changed(0));
  // Nothing was initialised for a finalisation (at exit, say) to reach.
  EXPECT_CKR(CKR_CRYPTOKI_NOT_INITIALIZED, functionList()->C_Finalize(nullptr));
  // The keys the library tried to set aside are the application's again.
  pthread_key_t key;
  ASSERT_EQ(0, pthread_key_create(&key, nullptr));
  EXPECT_LT(key, kFirstLevelKeys);
  pthread_key_delete(key);
}

// The core's pthread_key_create, which everything in its namespace binds to, hands out
// first-level keys only. Here the core is loaded into a namespace of the test's own, where
// no key has been set aside, so all first-level keys are free.
TEST(ThreadKeys, NamespaceKeysPastTheFirstLevelAreRefused) {
  void *core = dlmopen(LM_ID_NEWLM, ZORVEL_STANDIN_CORE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, core) << dlerror();
  using KeyCreate = int (*)(pthread_key_t *, void (*)(void *));
  const auto create = reinterpret_cast<KeyCreate>(dlsym(core, "pthread_key_create"));
  ASSERT_NE(nullptr, create);
  pthread_key_t made = 0;
  pthread_key_t key;
  int rc = 0;
  while ((rc = create(&key, nullptr)) == 0) {
    ASSERT_LT(key, kFirstLevelKeys);
    ++made;
  }
  EXPECT_EQ(EAGAIN, rc);
  EXPECT_EQ(kFirstLevelKeys, made);
}

}  // namespace
}  // namespace zorvel::test
