// The cleanup tests that are registered after every other test, in this order: Multi,
// AES, CAMELLIA, DH, DSA, DES3. A case's place and its tests' order come from
// registration alone, so each still runs last in its own case.
#pragma once

#include "libC_GTest_Fixture.h"

CLEANUP_PARTITION_TEST(libC_GTest_P11_Multi, CleanUpPartition)
CLEANUP_PARTITION_TEST(libC_GTest_AES, CleanupPartition)
CLEANUP_PARTITION_TEST(libC_GTest_CAMELLIA, CleanupPartition)
CLEANUP_PARTITION_TEST(libC_GTest_DH, CleanupPartition)
CLEANUP_PARTITION_TEST(libC_GTest_DSA, CleanupPartition)
CLEANUP_PARTITION_TEST(libC_GTest_DES3, CleanupPartition)
