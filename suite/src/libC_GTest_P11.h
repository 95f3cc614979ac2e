// Test case libC_GTest_P11: the general information calls, seeding and random numbers, and
// digests of the data file, on the base fixture's initialised library and user session.
#pragma once

#include "libC_GTest_Fixture.h"

TEST_F(libC_GTest_P11, Version)
{
    // The interface version the suite was built against.
    ASSERT_EQ(2, CRYPTOKI_VERSION_MAJOR);
}

// Calls an information routine into a record of the test's own and expects CKR_OK; the
// record is not looked at.
#define INFORMATION_TEST(TestName, RecordType, record, Routine)                                \
    TEST_F(libC_GTest_P11, TestName)                                                           \
    {                                                                                          \
        RecordType record;                                                                     \
        ASSERT_EQ(CKR_OK, Routine(record));                                                    \
    }

INFORMATION_TEST(Info, CK_INFO, info, GetInfo)
INFORMATION_TEST(SlotInfo, CK_SLOT_INFO, slotInfo, GetSlotInfo)
INFORMATION_TEST(TokenInfo, CK_TOKEN_INFO, tokenInfo, GetTokenInfo)
INFORMATION_TEST(SessionInfo, CK_SESSION_INFO, info, GetSessionInfo)

TEST_F(libC_GTest_P11, MechanismList)
{
    ASSERT_EQ(CKR_OK, GetMechanismList());
}

TEST_F(libC_GTest_P11, SeedRandom)
{
    // Every seed length from empty to the whole pattern, ten times over.
    for (int pass = 0; pass < 10; ++pass)
        for (CK_ULONG j = 0; j <= 16; ++j)
            ASSERT_EQ(CKR_OK, SeedRandom(j));
}

TEST_F(libC_GTest_P11, GenerateRandom)
{
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(CKR_OK, GenerateRandom());
}

// Digests the data file in one part into a 1000-byte buffer; the digest itself is not
// compared with anything.
#define DIGEST_TEST(TestName, Mechanism)                                                       \
    TEST_F(libC_GTest_P11, TestName)                                                           \
    {                                                                                          \
        CK_BYTE_PTR pPlainData = NULL_PTR;                                                     \
        CK_ULONG ulPlainDataLength = 0;                                                        \
        ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)));     \
        NewArrayGuard plainData(pPlainData);                                                   \
        ASSERT_FUNCTION_LIST();                                                                \
                                                                                               \
        m_mechanism = {Mechanism, NULL_PTR, 0};                                                \
        CK_BYTE pDigestedData[1000] = {};                                                      \
        CK_ULONG ulDigestedDataLength = sizeof(pDigestedData);                                 \
        EXPECT_TRUE(IsCkrOk(m_pFList->C_DigestInit(m_hSession, &m_mechanism)));                \
        EXPECT_TRUE(IsCkrOk(m_pFList->C_Digest(m_hSession, pPlainData, ulPlainDataLength, pDigestedData, &ulDigestedDataLength))); \
        plainData.Release();                                                                   \
    }

DIGEST_TEST(DigestSHA1, CKM_SHA_1)
DIGEST_TEST(DigestSHA224, CKM_SHA224)
DIGEST_TEST(DigestSHA256, CKM_SHA256)
DIGEST_TEST(DigestSHA384, CKM_SHA384)
DIGEST_TEST(DigestSHA512, CKM_SHA512)
DIGEST_TEST(DigestMD5, CKM_MD5)
