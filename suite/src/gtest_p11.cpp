// p11suite: the conformance suite for the token library.
//
// This is the one translation unit that defines the tests, so that their registration
// order, and with it the run order, is the order of the includes below. Test cases run in
// the order of their first registered test; each case's tests run in registration order.
// The blocks, in order: NOT_Initialized, libC_GTest_P11, libC_GTest_P11_Multi (all but its
// last test), libC_GTest_AES, libC_GTest_CAMELLIA, libC_GTest_DES3 (each all but its last),
// libC_GTest_RSA, libC_GTest_EC (whole), libC_GTest_DSA, libC_GTest_DH (all but their last),
// libC_GTest_ObjectManagement, libC_GTest_Fallback, libC_GTest_Sessions (whole), and
// last the held-back cleanup tests of Multi, AES, CAMELLIA, DH, DSA and DES3, in that
// order, in a header of their own, each of which still runs last in its own case.
// A case's tests go in a header named after its fixture, included in its place below.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "libC_GTest_Fixture.h"

#include "NOT_Initialized.h"
#include "libC_GTest_P11.h"
#include "libC_GTest_P11_Multi.h"
#include "libC_GTest_AES.h"
#include "libC_GTest_CAMELLIA.h"
#include "libC_GTest_DES3.h"
#include "libC_GTest_RSA.h"
#include "libC_GTest_EC.h"
#include "libC_GTest_DSA.h"
#include "libC_GTest_DH.h"
#include "libC_GTest_ObjectManagement.h"
#include "libC_GTest_Fallback.h"
#include "libC_GTest_Sessions.h"
#include "HeldBackCleanups.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv); // takes out googletest's own options
    ParseCommandLine(argc, argv);
    return testing::UnitTest::GetInstance()->Run();
}
