// The cleanup tests held back to the end of the registration: registered after every other
// test, each still runs last within its own case (a case's tests run in registration
// order, the cases in the order of their first test).
#pragma once

#include "libC_GTest_Fixture.h"

CLEANUP_PARTITION_TEST(libC_GTest_P11_Multi, CleanUpPartition)
