// Slots, sessions, the exported C_DestroyObject, the vendor list and the life cycle.
#include "standin_test_support.h"

#include <string>
#include <vector>

namespace zorvel::test {
namespace {

std::string tokenLabel(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot) {
  CK_TOKEN_INFO info{};
  if (f->C_GetTokenInfo(slot, &info) != CKR_OK) return "";
  std::string label(reinterpret_cast<const char *>(info.label), sizeof info.label);
  return label.substr(0, label.find_last_not_of(' ') + 1);
}

using Slots = InitializedLibrary;

TEST_F(Slots, OnlyInitialisedTokensAreListedFromZero) {
  const CK_ULONG tokens = provisionedTokens();
  for (CK_BBOOL tokenPresent : {CK_TRUE, CK_FALSE}) {
    CK_ULONG count = 0;
    ASSERT_CKR(CKR_OK, f->C_GetSlotList(tokenPresent, nullptr, &count));
    ASSERT_EQ(tokens, count);
    std::vector<CK_SLOT_ID> slots(count + 1, 99);
    ASSERT_CKR(CKR_OK, f->C_GetSlotList(tokenPresent, slots.data(), &count));
    for (CK_ULONG i = 0; i < tokens; ++i) EXPECT_EQ(i, slots[i]);
    EXPECT_EQ(99u, slots[tokens]) << "written past the count";
  }
  for (CK_SLOT_ID slot = 0; slot < tokens; ++slot) {
    CK_TOKEN_INFO info{};
    ASSERT_CKR(CKR_OK, f->C_GetTokenInfo(slot, &info));
    EXPECT_NE(0u, info.flags & CKF_TOKEN_INITIALIZED);
    EXPECT_EQ(0u, tokenLabel(f, slot).rfind("zorvel", 0)) << tokenLabel(f, slot);
  }
  // The backend's spare slot without a token is not reachable under any number.
  CK_SLOT_INFO slotInfo{};
  EXPECT_CKR(CKR_SLOT_ID_INVALID, f->C_GetSlotInfo(tokens, &slotInfo));
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_SLOT_ID_INVALID, f->C_OpenSession(tokens, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
}

TEST_F(Slots, ShortSlotListBufferGivesTheCount) {
  CK_SLOT_ID slot = 99;
  CK_ULONG count = 0;
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_GetSlotList(CK_TRUE, &slot, &count));
  EXPECT_EQ(provisionedTokens(), count);
  EXPECT_EQ(99u, slot);
  EXPECT_CKR(CKR_ARGUMENTS_BAD, f->C_GetSlotList(CK_TRUE, nullptr, nullptr));
}

TEST_F(Slots, CloseAllSessionsClosesThatSlotsSessionsOnly) {
  const CK_ULONG tokens = provisionedTokens();
  std::vector<CK_SESSION_HANDLE> sessions(tokens);
  for (CK_SLOT_ID slot = 0; slot < tokens; ++slot) {
    ASSERT_CKR(CKR_OK, f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &sessions[slot]));
  }
  for (CK_SLOT_ID slot = tokens; slot-- > 0;) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    ASSERT_CKR(CKR_OK, f->C_CloseAllSessions(slot));
    CK_SESSION_INFO info{};
    EXPECT_CKR(CKR_SESSION_HANDLE_INVALID, f->C_CloseSession(sessions[slot]));
    for (CK_SLOT_ID other = 0; other < slot; ++other) {
      ASSERT_CKR(CKR_OK, f->C_GetSessionInfo(sessions[other], &info));
      EXPECT_EQ(other, info.slotID);
    }
  }
  EXPECT_CKR(CKR_SLOT_ID_INVALID, f->C_CloseAllSessions(tokens));
}

TEST_F(LoggedInSession, SessionInfoReportsSlotZero) {
  CK_SESSION_INFO info{};
  info.slotID = 99;
  ASSERT_CKR(CKR_OK, f->C_GetSessionInfo(session, &info));
  EXPECT_EQ(0u, info.slotID);
  EXPECT_EQ(static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS), info.state);
}

TEST_F(LoggedInSession, ExportedDestroyObjectDestroysTheObject) {
  const CK_OBJECT_HANDLE object = createDataObject(CK_FALSE);
  ASSERT_TRUE(objectExists(object));
  EXPECT_CKR(CKR_OK, C_DestroyObject(session, object));
  EXPECT_FALSE(objectExists(object));
  EXPECT_CKR(CKR_OBJECT_HANDLE_INVALID, C_DestroyObject(session, object));
}

TEST(VendorList, InitialisesOnceAndYieldsAWorkingList) {
  const ZorvelStandinFunctionList *vendor = standinList();
  ASSERT_NE(nullptr, vendor);
  ASSERT_CKR(CKR_OK, vendor->vendor.C_Initialize("/nonexistent/zorvel.cfg"));
  EXPECT_CKR(CKR_CRYPTOKI_ALREADY_INITIALIZED, vendor->vendor.C_Initialize("/nonexistent/zorvel.cfg"));
  CK_FUNCTION_LIST_PTR f = nullptr;
  ASSERT_CKR(CKR_OK, vendor->vendor.C_GetFunctionList(&f));
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  EXPECT_CKR(CKR_CRYPTOKI_ALREADY_INITIALIZED, f->C_Initialize(&args));
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, openUserSession(f, &session));
  EXPECT_CKR(CKR_OK, f->C_Logout(session));
  EXPECT_CKR(CKR_OK, vendor->vendor.C_Finalize(nullptr));
  EXPECT_CKR(CKR_CRYPTOKI_NOT_INITIALIZED, vendor->vendor.C_Finalize(nullptr));
}

TEST(LifeCycle, InitialiseAndFinaliseTwentyTimes) {
  CK_FUNCTION_LIST_PTR f = functionList();
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    CK_SESSION_INFO info{};
    EXPECT_CKR(CKR_OK, f->C_GetSessionInfo(session, &info));
    EXPECT_EQ(0u, info.slotID);
    ASSERT_CKR(CKR_OK, f->C_Finalize(nullptr));
    // Finalising closed the session.
    EXPECT_CKR(CKR_CRYPTOKI_NOT_INITIALIZED, f->C_GetSessionInfo(session, &info));
  }
}

TEST(LifeCycle, OnlyHsmZeroCanBeReached) {
  CK_FUNCTION_LIST_PTR f = functionList();
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  setHSM(1);
  EXPECT_CKR(CKR_DEVICE_ERROR, f->C_Initialize(&args));
  setHSM(0);
  ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
  EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
}

TEST(LifeCycle, FinaliseRefusesAReservedArgument) {
  CK_FUNCTION_LIST_PTR f = functionList();
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
  int reserved = 0;
  EXPECT_CKR(CKR_ARGUMENTS_BAD, f->C_Finalize(&reserved));
  EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
}

}  // namespace
}  // namespace zorvel::test
