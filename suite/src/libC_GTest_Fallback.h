// Test case libC_GTest_Fallback: the token library survives a failed exchange with the HSM.
// The library is told to let its next exchange fail (provokeCommunicationFail), and the
// next token call must still succeed. Its suite set-up selects HSM 0 first. The two real
// tests are disabled: they run only with --gtest_also_run_disabled_tests. Every check is
// fatal.
#pragma once

#include "ObjectTestValues.h"
#include "libC_GTest_Fixture.h"

// The data object's template `tmpl` (11 entries, CKA_TOKEN twice) with a label of 30
// characters in the buffer `label`.
#define FALLBACK_DATA_OBJECT(labelText, privateFlag)                                           \
    ASSERT_FUNCTION_LIST();                                                                    \
    char label[] = labelText;                                                                  \
    CK_ATTRIBUTE tmpl[] = DATA_OBJECT_TEMPLATE(label, privateFlag);                            \
    const CK_ULONG ulTmpl = 11;                                                                \
    CK_OBJECT_HANDLE objectHandle

// Creates the data object into `objectHandle`.
#define FALLBACK_CREATE_DATA_OBJECT()                                                          \
    objectHandle = 0;                                                                          \
    ASSERT_TRUE(IsCkr(CKR_OK, m_pFList->C_CreateObject(m_hSession, tmpl, ulTmpl , &objectHandle))); \
    ASSERT_TRUE(objectHandle != CK_INVALID_HANDLE)

TEST_F(libC_GTest_Fallback, DISABLED_OneShot)
{
    FALLBACK_DATA_OBJECT("libC_GTest_Fallback-OneShot nn", m_bFalse);
    FALLBACK_CREATE_DATA_OBJECT();

    provokeCommunicationFail(true);
    ASSERT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandle)));
}

TEST_F(libC_GTest_Fallback, DISABLED_MultipleShot)
{
    FALLBACK_DATA_OBJECT("libC_GTest_Fallback-OneShot 00", m_bTrue);
    // The creations of the second and third pass are the first calls after a provoked
    // failure; the one provoked last falls on whatever reaches the HSM after the test.
    for (int r = 0; r < 3; ++r) {
        label[sizeof(label) - 3] = '0';
        label[sizeof(label) - 2] = static_cast<char>('0' + r);
        FALLBACK_CREATE_DATA_OBJECT();
        ASSERT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandle)));
        provokeCommunicationFail(true);
    }
}

// The case leaves no object behind: nothing to clean up.
TEST_F(libC_GTest_Fallback, CleanupPartition) {}
