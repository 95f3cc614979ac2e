// p11suite's tests, the second of the five blocks in registration order (gtest_p11.cpp):
// libC_GTest_AES, libC_GTest_CAMELLIA and libC_GTest_DES3 (each all but its last test).
#include <gtest/gtest.h>

#include "libC_GTest_Fixture.h"

#include "libC_GTest_AES.h"
#include "libC_GTest_CAMELLIA.h"
#include "libC_GTest_DES3.h"
