// p11suite's tests, the first of the five blocks in registration order (gtest_p11.cpp):
// NOT_Initialized, libC_GTest_P11 and libC_GTest_P11_Multi (all but its last test).
#include <gtest/gtest.h>

#include "libC_GTest_Fixture.h"

#include "NOT_Initialized.h"
#include "libC_GTest_P11.h"
#include "libC_GTest_P11_Multi.h"
