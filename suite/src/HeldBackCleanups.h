// The CleanupPartition tests held back from their cases' blocks: registered after every
// other test, each still runs last in its own case, since googletest groups a case's
// tests in the order they joined it. Order: Multi, AES, CAMELLIA, DH, DSA, DES3.
#pragma once

#include "libC_GTest_Fixture.h"

// Destroys every object the fixture session can find.
TEST_F(libC_GTest_AES, CleanupPartition)
{
    ASSERT_EQ(CKR_OK, CleanupPartition());
}

TEST_F(libC_GTest_CAMELLIA, CleanupPartition)
{
    ASSERT_EQ(CKR_OK, CleanupPartition());
}

TEST_F(libC_GTest_DES3, CleanupPartition)
{
    ASSERT_EQ(CKR_OK, CleanupPartition());
}
