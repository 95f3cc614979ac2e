// p11suite's tests, the last of the five blocks in registration order (gtest_p11.cpp):
// libC_GTest_DSA and libC_GTest_DH (all but their last test), libC_GTest_ObjectManagement,
// libC_GTest_Fallback, libC_GTest_Sessions, and last the held-back cleanup tests.
#include <gtest/gtest.h>

#include "libC_GTest_Fixture.h"

#include "libC_GTest_DSA.h"
#include "libC_GTest_DH.h"
#include "libC_GTest_ObjectManagement.h"
#include "libC_GTest_Fallback.h"
#include "libC_GTest_Sessions.h"
#include "HeldBackCleanups.h"
