// p11suite's tests, the fourth of the five blocks in registration order (gtest_p11.cpp):
// libC_GTest_EC.
#include <gtest/gtest.h>

#include "libC_GTest_Fixture.h"

#include "libC_GTest_EC.h"
