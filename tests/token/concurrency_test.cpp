// Calls on one session from several threads are serialised: the backend must not be
// driven by two threads in one session.
#include "standin_test_support.h"

#include <atomic>
#include <thread>
#include <vector>

namespace zorvel::test {
namespace {

using Concurrency = LoggedInSession;

TEST_F(Concurrency, ThreadsShareOneSession) {
  constexpr int kThreads = 8;
  constexpr int kCallsEach = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        CK_BYTE random[32];
        CK_SESSION_INFO info{};
        if (f->C_GenerateRandom(session, random, sizeof random) != CKR_OK) ++failures;
        if (f->C_GetSessionInfo(session, &info) != CKR_OK || info.slotID != 0) ++failures;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
}

TEST_F(Concurrency, SessionsOpenAndCloseWhileOthersWork) {
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done.load()) {
      CK_BYTE random[16];
      if (f->C_GenerateRandom(session, random, sizeof random) != CKR_OK) ++failures;
    }
  });
  for (int i = 0; i < 100; ++i) {
    CK_SESSION_HANDLE other = CK_INVALID_HANDLE;
    if (f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &other) != CKR_OK) ++failures;
    if (f->C_CloseSession(other) != CKR_OK) ++failures;
  }
  done = true;
  worker.join();
  EXPECT_EQ(0, failures.load());
}

}  // namespace
}  // namespace zorvel::test
