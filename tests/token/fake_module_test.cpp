// The stand-in over a module of known behaviour (fake_module.cpp): slot numbering,
// serialisation per session, and values passed through unchanged.
#include "standin_test_support.h"

#include <atomic>
#include <thread>
#include <vector>

namespace zorvel::test {
namespace {

using FakeModule = InitializedLibrary;

// The most overlapping backend calls seen on the session and in the whole module.
struct Overlap {
  CK_ULONG session;
  CK_ULONG module;
};

Overlap overlapSeen(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session) {
  CK_SESSION_INFO info{};
  EXPECT_CKR(CKR_OK, f->C_GetSessionInfo(session, &info));
  return {info.ulDeviceError & 0xFFFF, info.ulDeviceError >> 16};
}

// Runs `threads` threads per session, each drawing random bytes a few times.
void drawRandomTogether(CK_FUNCTION_LIST_PTR f, const std::vector<CK_SESSION_HANDLE> &sessions, int threads) {
  std::atomic<int> failures{0};
  std::vector<std::thread> running;
  for (CK_SESSION_HANDLE session : sessions) {
    for (int t = 0; t < threads; ++t) {
      running.emplace_back([&, session] {
        for (int i = 0; i < 5; ++i) {
          CK_BYTE random[8];
          if (f->C_GenerateRandom(session, random, sizeof random) != CKR_OK) ++failures;
        }
      });
    }
  }
  for (std::thread &thread : running) thread.join();
  EXPECT_EQ(0, failures.load());
}

TEST_F(FakeModule, SlotsAreTheInitialisedTokensInOrder) {
  CK_SLOT_ID slots[4] = {};
  CK_ULONG count = 4;
  ASSERT_CKR(CKR_OK, f->C_GetSlotList(CK_FALSE, slots, &count));
  ASSERT_EQ(2u, count);
  const CK_SLOT_ID backendSlots[] = {7, 9};
  for (CK_SLOT_ID slot = 0; slot < 2; ++slot) {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    EXPECT_EQ(backendSlots[slot], session / 100) << "slot " << slot << " reached the wrong backend slot";
    CK_SESSION_INFO info{};
    ASSERT_CKR(CKR_OK, f->C_GetSessionInfo(session, &info));
    EXPECT_EQ(slot, info.slotID);
  }
  CK_TOKEN_INFO info{};
  EXPECT_CKR(CKR_SLOT_ID_INVALID, f->C_GetTokenInfo(2, &info));
}

TEST_F(FakeModule, ValuesPassThroughUnchanged) {
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
  CK_BYTE seed[4] = {};
  EXPECT_CKR(CKR_VENDOR_DEFINED + 0x42, f->C_SeedRandom(session, seed, sizeof seed));
  // Functions the module does not export.
  CK_MECHANISM digest = {CKM_SHA256, nullptr, 0};
  EXPECT_CKR(CKR_FUNCTION_NOT_SUPPORTED, f->C_DigestInit(session, &digest));
  EXPECT_CKR(CKR_FUNCTION_NOT_SUPPORTED, f->C_Logout(session));
}

TEST_F(FakeModule, CallsOnOneSessionAreSerialisedAndSessionsRunTogether) {
  std::vector<CK_SESSION_HANDLE> sessions(2);
  for (CK_SESSION_HANDLE &session : sessions) {
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
  }
  drawRandomTogether(f, sessions, 4);
  for (CK_SESSION_HANDLE session : sessions) EXPECT_EQ(1u, overlapSeen(f, session).session);
  EXPECT_GT(overlapSeen(f, sessions[0]).module, 1u);
}

// Registered with ZORVEL_P11_SERIALIZE_SESSIONS=0.
TEST_F(FakeModule, CallsOnOneSessionOverlapWithoutSerialisation) {
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
  drawRandomTogether(f, {session}, 4);
  EXPECT_GT(overlapSeen(f, session).session, 1u);
}

}  // namespace
}  // namespace zorvel::test
