// p11suite's tests, the third of the five blocks in registration order (gtest_p11.cpp):
// libC_GTest_RSA.
#include <gtest/gtest.h>

#include "libC_GTest_Fixture.h"

#include "libC_GTest_RSA.h"
