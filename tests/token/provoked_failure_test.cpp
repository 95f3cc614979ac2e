// A provoked failure of the next exchange with the HSM: absorbed by default (the call
// succeeds and takes effect), surfaced as CKR_DEVICE_ERROR with
// ZORVEL_P11_PROVOKED_FAILURE=surface. Either way it is counted once.
#include "standin_test_support.h"

namespace zorvel::test {
namespace {

class ProvokedFailure : public LoggedInSession {
 protected:
  CK_ULONG failedExchanges() { return standinList()->failedExchangeCount(); }
};

TEST_F(ProvokedFailure, NextCallSucceedsAndTakesEffect) {
  for (CK_BBOOL isPrivate : {CK_FALSE, CK_TRUE}) {
    const CK_OBJECT_HANDLE object = createDataObject(isPrivate);
    const CK_ULONG before = failedExchanges();
    provokeCommunicationFail(true);
    EXPECT_CKR(CKR_OK, f->C_DestroyObject(session, object));
    EXPECT_EQ(before + 1, failedExchanges());
    EXPECT_FALSE(objectExists(object));
  }
  // A creation right after arming succeeds too, and the failure is used up by it.
  provokeCommunicationFail(true);
  const CK_OBJECT_HANDLE object = createDataObject(CK_TRUE);
  const CK_ULONG after = failedExchanges();
  EXPECT_TRUE(objectExists(object));
  EXPECT_CKR(CKR_OK, C_DestroyObject(session, object));
  EXPECT_EQ(after, failedExchanges());
}

TEST_F(ProvokedFailure, DisarmingCancelsIt) {
  const CK_ULONG before = failedExchanges();
  provokeCommunicationFail(true);
  provokeCommunicationFail(false);
  const CK_OBJECT_HANDLE object = createDataObject(CK_FALSE);
  EXPECT_CKR(CKR_OK, f->C_DestroyObject(session, object));
  EXPECT_EQ(before, failedExchanges());
}

TEST_F(ProvokedFailure, SurfacedAsDeviceError) {
  const CK_OBJECT_HANDLE object = createDataObject(CK_FALSE);
  const CK_ULONG before = failedExchanges();
  provokeCommunicationFail(true);
  EXPECT_CKR(CKR_DEVICE_ERROR, f->C_DestroyObject(session, object));
  EXPECT_EQ(before + 1, failedExchanges());
  // The failed exchange did not reach the token; the next one does.
  EXPECT_TRUE(objectExists(object));
  EXPECT_CKR(CKR_OK, f->C_DestroyObject(session, object));
  EXPECT_EQ(before + 1, failedExchanges());
}

}  // namespace
}  // namespace zorvel::test
