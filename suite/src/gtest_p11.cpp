// p11suite: the conformance suite for the token library.
//
// The tests are defined in five translation units, Tests1_Library.cpp to
// Tests5_DSAToSessions.cpp, which suite/CMakeLists.txt links in that order right after
// this one: static registration runs translation unit by translation unit in link order,
// and within each in the order of its includes, so together they give the registration
// order, and with it the run order (suite.test_list checks it against test-names.txt).
// They are five so that they compile side by side. Test cases run in the order of their
// first registered test; each case's tests run in registration order.
// The blocks, in order: NOT_Initialized, libC_GTest_P11, libC_GTest_P11_Multi (all but its
// last test), libC_GTest_AES, libC_GTest_CAMELLIA, libC_GTest_DES3 (each all but its last),
// libC_GTest_RSA, libC_GTest_EC (whole), libC_GTest_DSA, libC_GTest_DH (all but their last),
// libC_GTest_ObjectManagement, libC_GTest_Fallback, libC_GTest_Sessions (whole), and
// last the held-back cleanup tests of Multi, AES, CAMELLIA, DH, DSA and DES3, in that
// order, in a header of their own, each of which still runs last in its own case.
// A case's tests go in a header named after its fixture, included in its place.
#include <gtest/gtest.h>

#include "CommandLine.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv); // takes out googletest's own options
    ParseCommandLine(argc, argv);
    return testing::UnitTest::GetInstance()->Run();
}
