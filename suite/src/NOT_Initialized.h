// Test case NOT_Initialized: runs first, before anything has initialised the token library,
// and expects every function of the function list to refuse with
// CKR_CRYPTOKI_NOT_INITIALIZED. Plain tests: no fixture, no suite set-up.
#pragma once

#include "libC_GTest_Fixture.h"

// Fetches a function list of the test's own (its checked copy), calls `Function` through it with the given
// arguments and expects CKR_CRYPTOKI_NOT_INITIALIZED. The zeroed locals are there for the
// functions that need somewhere to write a count, a slot, a session or a size.
#define NOT_INITIALIZED_TEST(Function, ...)                                                    \
    TEST(NOT_Initialized, Function)                                                            \
    {                                                                                          \
        CK_FUNCTION_LIST_PTR pFunctionList = NULL_PTR;                                         \
        [[maybe_unused]] CK_ULONG ulZero = 0;                                                  \
        [[maybe_unused]] CK_SLOT_INFO slotInfo = {};                                           \
        CK_RV rv = C_GetFunctionList(&pFunctionList);                                          \
        ASSERT_TRUE(CKR_OK == rv);                                                             \
        ASSERT_TRUE(pFunctionList != NULL_PTR) << "C_GetFunctionList gave no list";            \
        pFunctionList = CheckedFunctionList(pFunctionList);                                    \
        rv = pFunctionList->Function(__VA_ARGS__);                                             \
        ASSERT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, rv);                                           \
    }

TEST(NOT_Initialized, C_GetFunctionList)
{
    CK_RV rv = C_GetFunctionList(NULL_PTR);
    ASSERT_EQ(CKR_ARGUMENTS_BAD, rv);
}

NOT_INITIALIZED_TEST(C_Finalize, NULL_PTR)
NOT_INITIALIZED_TEST(C_GetInfo, NULL_PTR)
NOT_INITIALIZED_TEST(C_GetSlotList, CK_FALSE, NULL_PTR, &ulZero)
NOT_INITIALIZED_TEST(C_GetSlotInfo, 0, &slotInfo)
NOT_INITIALIZED_TEST(C_GetTokenInfo, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_WaitForSlotEvent, 0, &ulZero, NULL_PTR)
NOT_INITIALIZED_TEST(C_GetMechanismList, 0, NULL_PTR, &ulZero)
NOT_INITIALIZED_TEST(C_GetMechanismInfo, 0, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_InitToken, 0, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_InitPIN, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_SetPIN, 0, NULL_PTR, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_OpenSession, 0, 0, NULL_PTR, NULL_PTR, &ulZero)
NOT_INITIALIZED_TEST(C_CloseSession, 0)
NOT_INITIALIZED_TEST(C_CloseAllSessions, 0)
NOT_INITIALIZED_TEST(C_GetSessionInfo, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_GetOperationState, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_SetOperationState, 0, NULL_PTR, 0, 0, 0)
NOT_INITIALIZED_TEST(C_Login, 0, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_Logout, 0)
NOT_INITIALIZED_TEST(C_CreateObject, 0, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_CopyObject, 0, 0, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_DestroyObject, 0, 0)
NOT_INITIALIZED_TEST(C_GetObjectSize, 0, 0, &ulZero)
NOT_INITIALIZED_TEST(C_GetAttributeValue, 0, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_SetAttributeValue, 0, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_FindObjectsInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_FindObjects, 0, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_FindObjectsFinal, 0)
NOT_INITIALIZED_TEST(C_EncryptInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_Encrypt, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_EncryptUpdate, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_EncryptFinal, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DecryptInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_Decrypt, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DecryptUpdate, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DecryptFinal, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DigestInit, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_Digest, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DigestUpdate, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_DigestKey, 0, 0)
NOT_INITIALIZED_TEST(C_DigestFinal, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_SignInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_Sign, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_SignUpdate, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_SignFinal, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_SignRecoverInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_SignRecover, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_VerifyInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_Verify, 0, NULL_PTR, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_VerifyUpdate, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_VerifyFinal, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_VerifyRecoverInit, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_VerifyRecover, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DigestEncryptUpdate, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DecryptDigestUpdate, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_SignEncryptUpdate, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_DecryptVerifyUpdate, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_GenerateKey, 0, NULL_PTR, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_GenerateKeyPair, 0, NULL_PTR, NULL_PTR, 0, NULL_PTR, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_WrapKey, 0, NULL_PTR, 0, 0, NULL_PTR, NULL_PTR)
NOT_INITIALIZED_TEST(C_UnwrapKey, 0, NULL_PTR, 0, NULL_PTR, 0, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_DeriveKey, 0, NULL_PTR, 0, NULL_PTR, 0, NULL_PTR)
NOT_INITIALIZED_TEST(C_SeedRandom, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_GenerateRandom, 0, NULL_PTR, 0)
NOT_INITIALIZED_TEST(C_GetFunctionStatus, 0)
NOT_INITIALIZED_TEST(C_CancelFunction, 0)
