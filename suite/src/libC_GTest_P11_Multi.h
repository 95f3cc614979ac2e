// Test case libC_GTest_P11_Multi: several sessions at once on one slot and on every slot,
// closed one by one or all together, a token key seen from a second session and found by
// its identifier, and one half of an RSA key pair destroyed. Its CleanUpPartition is held
// back to the end of the registration (HeldBackCleanups.h) but still runs last here.
#pragma once

#include <vector>

#include "FixtureSessionRebuild.h"
#include "ObjectTestValues.h"
#include "libC_GTest_Fixture.h"

// Opens ten read-only sessions on the first listed slot into the list `sessions`.
#define MULTI_OPEN_TEN_SESSIONS()                                                              \
    ASSERT_FUNCTION_LIST();                                                                    \
    const CK_SLOT_ID slotID = m_pSlotIDs[0];                                                   \
    std::vector<CK_SESSION_HANDLE> sessions;                                                   \
    for (int i = 0; i < 10; ++i) {                                                             \
        CK_SESSION_HANDLE session = 0;                                                         \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_OpenSession(slotID, CKF_SERIAL_SESSION, NULL_PTR, NULL_PTR, &session))); \
        sessions.push_back(session);                                                           \
    }

// Every listed session is closed already: closing it again is refused.
#define MULTI_EXPECT_ALL_CLOSED()                                                              \
    for (auto it = sessions.begin(); it != sessions.end(); ++it)                               \
    ASSERT_TRUE(IsCkr(CKR_SESSION_HANDLE_INVALID, m_pFList->C_CloseSession(*it)))

TEST_F(libC_GTest_P11_Multi, One_Slot_Multiple_Open_Multiple_Close)
{
    MULTI_OPEN_TEN_SESSIONS();
    for (auto it = sessions.begin(); it != sessions.end(); ++it)
        ASSERT_TRUE(IsCkrOk(m_pFList->C_CloseSession(*it)));
    MULTI_EXPECT_ALL_CLOSED();
}

TEST_F(libC_GTest_P11_Multi, One_Slot_Multiple_Open_CloseAll)
{
    MULTI_OPEN_TEN_SESSIONS();
    // Closing all sessions of the slot closes the fixture session too.
    FixtureSessionRebuild rebuild;
    ASSERT_TRUE(IsCkrOk(m_pFList->C_CloseAllSessions(slotID)));
    MULTI_EXPECT_ALL_CLOSED();
}

TEST_F(libC_GTest_P11_Multi, Multiple_Slots_Open_Close)
{
    ASSERT_FUNCTION_LIST();
    std::vector<CK_SESSION_HANDLE> sessions;
    for (CK_ULONG slotIndex = 0; slotIndex < m_slotsCount; ++slotIndex) {
        CK_SESSION_HANDLE session = 0;
        ASSERT_TRUE(IsCkrOk(m_pFList->C_OpenSession(m_pSlotIDs[slotIndex], CKF_SERIAL_SESSION, NULL_PTR, NULL_PTR, &session)));
        sessions.push_back(session);
    }
    FixtureSessionRebuild rebuild;
    for (CK_ULONG slotIndex = 0; slotIndex < m_slotsCount; ++slotIndex)
        ASSERT_TRUE(IsCkrOk(m_pFList->C_CloseAllSessions(m_pSlotIDs[slotIndex])));
    MULTI_EXPECT_ALL_CLOSED();
}

// Generates the AES token key `keyHandle` of the smallest size, with CKA_ID 01 02 03 in
// the array `id`, which also serves as the buffer of later reads.
#define MULTI_GENERATE_AES_KEY()                                                               \
    CK_MECHANISM_INFO aesInfo;                                                                 \
    ASSERT_MECHANISM_INFO(CKM_AES_KEY_GEN, aesInfo);                                           \
    CK_ULONG keyLength = aesInfo.ulMinKeySize;                                                 \
    CK_BYTE id[] = {0x01, 0x02, 0x03};                                                         \
    CK_ATTRIBUTE secretKeyKeyGenAttributes[] = {                                               \
        ULONG_ENTRY(CKA_CLASS, m_secretKeyClass),                                              \
        ULONG_ENTRY(CKA_KEY_TYPE, m_aesKey),                                                   \
        BOOL_ENTRY(CKA_TOKEN, m_bTrue),                                                        \
        BOOL_ENTRY(CKA_ENCRYPT, m_bTrue),                                                      \
        BOOL_ENTRY(CKA_WRAP, m_bTrue),                                                         \
        BOOL_ENTRY(CKA_DECRYPT, m_bTrue),                                                      \
        BOOL_ENTRY(CKA_UNWRAP, m_bTrue),                                                       \
        BOOL_ENTRY(CKA_SENSITIVE, m_bFalse),                                                   \
        BOOL_ENTRY(CKA_EXTRACTABLE, m_bFalse),                                                 \
        BOOL_ENTRY(CKA_MODIFIABLE, m_bTrue),                                                   \
        BOOL_ENTRY(CKA_PRIVATE, m_bFalse),                                                     \
        ULONG_ENTRY(CKA_VALUE_LEN, keyLength),                                                 \
        BYTES_ENTRY(CKA_ID, id),                                                               \
    };                                                                                         \
    CK_ULONG attributesCount = sizeof(secretKeyKeyGenAttributes) / sizeof(CK_ATTRIBUTE);       \
    m_mechanism = {CKM_AES_KEY_GEN, NULL_PTR, 0};                                              \
    CK_OBJECT_HANDLE keyHandle = CK_INVALID_HANDLE;                                            \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GenerateKey(m_hSession, &m_mechanism, secretKeyKeyGenAttributes, attributesCount, &keyHandle))); \
    CK_RV rv = CKR_OK;                                                                         \
    bool testPass = true

TEST_F(libC_GTest_P11_Multi, Object_Across_Session)
{
    ASSERT_FUNCTION_LIST();
    MULTI_GENERATE_AES_KEY();

    // A public token key: a second, read-only session reads its identifier.
    CK_SESSION_HANDLE session = 0;
    EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_OpenSession(m_pSlotIDs[m_slotID], CKF_SERIAL_SESSION, NULL_PTR, NULL_PTR, &session)));
    testPass = rv == CKR_OK;
    if (rv == CKR_OK) {
        CK_ATTRIBUTE foundAttributes[] = {BYTES_ENTRY(CKA_ID, id)};
        attributesCount = 1;
        EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_GetAttributeValue(session, keyHandle, foundAttributes, attributesCount)));
        testPass = testPass && rv == CKR_OK;
        EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_CloseSession(session)));
        testPass = testPass && rv == CKR_OK;
    }
    EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_DestroyObject(m_hSession, keyHandle)));
    testPass = testPass && rv == CKR_OK;
    ASSERT_TRUE(testPass);
}

TEST_F(libC_GTest_P11_Multi, FindObjectsByID)
{
    ASSERT_FUNCTION_LIST();
    MULTI_GENERATE_AES_KEY();

    CK_ATTRIBUTE searchAttributes[] = {BYTES_ENTRY(CKA_ID, id)};
    attributesCount = 1;
    CK_OBJECT_HANDLE hObjectHandles[100] = {};
    const CK_ULONG ulMaxObjCount = 100;
    CK_ULONG ulObjectCount = 0;
    EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_FindObjectsInit(m_hSession, searchAttributes, attributesCount)));
    testPass = testPass && rv == CKR_OK;
    EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_FindObjects(m_hSession, hObjectHandles, ulMaxObjCount, &ulObjectCount)));
    testPass = testPass && rv == CKR_OK;
    EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_FindObjectsFinal(m_hSession)));
    testPass = testPass && rv == CKR_OK;
    EXPECT_EQ(1UL, ulObjectCount);
    EXPECT_EQ(keyHandle, hObjectHandles[0]);
    testPass = testPass && ulObjectCount == 1 && hObjectHandles[0] == keyHandle;

    // The key is read and destroyed through the handle found only when that is the key
    // generated here; otherwise the generated key is destroyed and nothing else touched.
    if (ulObjectCount >= 1 && hObjectHandles[0] == keyHandle) {
        CK_ATTRIBUTE foundAttributes[] = {BYTES_ENTRY(CKA_ID, id)};
        EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_GetAttributeValue(m_hSession, hObjectHandles[0], foundAttributes, attributesCount)));
        testPass = testPass && rv == CKR_OK;
        EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_DestroyObject(m_hSession, hObjectHandles[0])));
        testPass = testPass && rv == CKR_OK;
    } else {
        EXPECT_TRUE(IsCkrOk(rv = m_pFList->C_DestroyObject(m_hSession, keyHandle)));
    }
    ASSERT_TRUE(testPass);
}

TEST_F(libC_GTest_P11_Multi, DeletePublicKey)
{
    ASSERT_FUNCTION_LIST();
    CK_MECHANISM_INFO rsaInfo;
    ASSERT_MECHANISM_INFO(CKM_RSA_PKCS_KEY_PAIR_GEN, rsaInfo);
    // Static: the shared template keeps pointing to it after the test.
    static CK_ULONG modulusBits;
    modulusBits = rsaInfo.ulMinKeySize;

    m_mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, NULL_PTR, 0};
    m_rsaKeyPairPublicGenAttributes[0] = {CKA_CLASS, &m_rsaPublicKeyClass, sizeof(m_rsaPublicKeyClass)};
    m_rsaKeyPairPublicGenAttributes[1] = {CKA_KEY_TYPE, &m_rsaKey, sizeof(m_rsaKey)};
    m_rsaKeyPairPublicGenAttributes[10] = {CKA_MODULUS_BITS, &modulusBits, sizeof(modulusBits)};
    m_rsaKeyPairPrivateGenAttributes[0] = {CKA_CLASS, &m_rsaPrivateKeyClass, sizeof(m_rsaPrivateKeyClass)};
    m_rsaKeyPairPrivateGenAttributes[1] = {CKA_KEY_TYPE, &m_rsaKey, sizeof(m_rsaKey)};
    ASSERT_TRUE(IsCkrOk( m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_rsaKeyPairPublicGenAttributes, RSA_PUBLIC_KEY_GEN_ATTR_CNT, m_rsaKeyPairPrivateGenAttributes, RSA_PRIVATE_KEY_GEN_ATTR_CNT, &m_rsaPublicKeyMinSizeObjectHandle, &m_rsaPrivateKeyMinSizeObjectHandle)));
    EXPECT_TRUE(IsCkrOk(ReadRSAPublicObject(m_hSession, m_rsaPublicKeyMinSizeObjectHandle)));
    EXPECT_TRUE(IsCkrOk(ReadRSAPrivateObject(m_hSession, m_rsaPrivateKeyMinSizeObjectHandle)));

    // Through the library's exported function, not the function list.
    CK_RV rv = C_DestroyObject(m_hSession, m_rsaPublicKeyMinSizeObjectHandle);
    EXPECT_TRUE(IsCkrOk(rv));

    CK_ATTRIBUTE foundAttributes[] = {{CKA_ID, NULL_PTR, 0}};
    const CK_ULONG attributesCount = 1;
    ASSERT_TRUE(IsCkr(CKR_OBJECT_HANDLE_INVALID, m_pFList->C_GetAttributeValue(m_hSession, m_rsaPublicKeyMinSizeObjectHandle, foundAttributes, attributesCount)));
    // The private half is still there.
    rv = ReadRSAPrivateObject(m_hSession, m_rsaPrivateKeyMinSizeObjectHandle);
    EXPECT_TRUE(IsCkrOk(rv));
}

// Searches every object of the session again and again; ends only when a search cannot
// start. Never run by default.
TEST_F(libC_GTest_P11_Multi, DISABLED_WaitForRollover)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_HANDLE hObjectHandles[100] = {};
    CK_ULONG ulObjectCount = 0;
    for (;;) {
        ulObjectCount = 0;
        if (m_pFList->C_FindObjectsInit(m_hSession, NULL_PTR, 0) != CKR_OK)
            return;
        do {
            m_pFList->C_FindObjects(m_hSession, hObjectHandles, 100, &ulObjectCount);
        } while (ulObjectCount != 0);
        m_pFList->C_FindObjectsFinal(m_hSession);
    }
}
