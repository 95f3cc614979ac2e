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

// Runs a slot-taking function on a shown slot and gives the backend slot it reached.
using SlotProbe = CK_RV (*)(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, CK_SLOT_ID *reached);

CK_RV slotInfoReached(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, CK_SLOT_ID *reached) {
  CK_SLOT_INFO info{};
  const CK_RV rv = f->C_GetSlotInfo(slot, &info);
  *reached = info.hardwareVersion.major;
  return rv;
}

CK_RV mechanismListReached(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, CK_SLOT_ID *reached) {
  CK_ULONG count = 0;
  CK_RV rv = f->C_GetMechanismList(slot, nullptr, &count);
  if (rv != CKR_OK) return rv;
  // The module's one mechanism comes first, the stand-in's own after it.
  std::vector<CK_MECHANISM_TYPE> mechanisms(count);
  rv = f->C_GetMechanismList(slot, mechanisms.data(), &count);
  *reached = mechanisms.at(0) - CKM_VENDOR_DEFINED;
  return rv;
}

CK_RV mechanismInfoReached(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, CK_SLOT_ID *reached) {
  CK_MECHANISM_INFO info{};
  const CK_RV rv = f->C_GetMechanismInfo(slot, CKM_AES_KEY_GEN, &info);
  *reached = info.ulMinKeySize;
  return rv;
}

CK_RV initTokenReached(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, CK_SLOT_ID *reached) {
  CK_UTF8CHAR label[32] = {};
  const CK_RV rv = f->C_InitToken(slot, nullptr, 0, label);
  if (rv < CKR_VENDOR_DEFINED) return rv;
  *reached = rv - CKR_VENDOR_DEFINED;
  return CKR_OK;
}

TEST_F(FakeModule, SlotArgumentsReachTheBackendSlotTheyStandFor) {
  const struct {
    const char *function;
    SlotProbe probe;
  } cases[] = {
      {"C_GetSlotInfo", slotInfoReached},
      {"C_GetMechanismList", mechanismListReached},
      {"C_GetMechanismInfo", mechanismInfoReached},
      {"C_InitToken", initTokenReached},
  };
  const CK_SLOT_ID backendSlots[] = {7, 9};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.function);
    for (CK_SLOT_ID slot = 0; slot < 2; ++slot) {
      CK_SLOT_ID reached = 0;
      EXPECT_CKR(CKR_OK, c.probe(f, slot, &reached));
      EXPECT_EQ(backendSlots[slot], reached) << "slot " << slot;
    }
    CK_SLOT_ID reached = 0;
    EXPECT_CKR(CKR_SLOT_ID_INVALID, c.probe(f, 2, &reached));
  }
}

TEST_F(FakeModule, SlotEventsNameTheShownSlot) {
  CK_SLOT_ID slot = 99;
  // The module's first event is on its slot without an initialised token.
  EXPECT_CKR(CKR_NO_EVENT, f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
  EXPECT_EQ(99u, slot);
  EXPECT_CKR(CKR_OK, f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
  EXPECT_EQ(1u, slot);
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

// FRP256v1, which the module's OpenSSL does not know by name, reaches it as the explicit
// parameters (227 bytes) from an unwrap template too; a curve it knows stays as it is.
TEST_F(FakeModule, UnwrapTemplatesNameTheCurveAsTheModuleKnowsIt) {
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
  CK_BYTE frp256v1[] = {0x06, 0x0A, 0x2A, 0x81, 0x7A, 0x01, 0x81, 0x5F, 0x65, 0x82, 0x00, 0x01};
  CK_BYTE secp256r1[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  const struct {
    const char *curve;
    CK_BYTE_PTR identifier;
    CK_ULONG length;
    CK_ULONG lengthGiven;
  } cases[] = {{"FRP256v1", frp256v1, sizeof frp256v1, 227}, {"secp256r1", secp256r1, sizeof secp256r1, 10}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.curve);
    CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &privateKey, sizeof privateKey}, {CKA_EC_PARAMS, c.identifier, c.length}};
    CK_MECHANISM wrapping = {CKM_AES_KEY_WRAP_PAD, nullptr, 0};
    CK_BYTE wrapped[40] = {};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_UnwrapKey(session, &wrapping, 0x21, wrapped, sizeof wrapped, tmpl, 2, &key));
    EXPECT_EQ(c.lengthGiven, key);
  }
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
