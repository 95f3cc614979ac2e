// Test case libC_GTest_DSA: DSA domain parameters at the token's smallest and largest
// size, a key pair from each, and signatures with plain DSA over a SHA-1 digest and with
// the hash-and-sign mechanisms in one part and in parts. Its CleanupPartition test is
// held back (HeldBackCleanups.h).
#pragma once

#include "DomainParameterKeys.h"
#include "libC_GTest_Fixture.h"

TEST_F(libC_GTest_DSA, Generate_DomainParam_MinSize)
{
    GENERATE_DOMAIN_PARAMETERS(ASSERT_EQ_CKR_OK, CKM_DSA_PARAMETER_GEN, m_dsaKey, ulMinKeySize, m_dsaDomainParamsMinSizeObjectHandle);
    ASSERT_TRUE(IsCkrOk(ReadDSADomainParameterObjects(m_hSession, m_dsaDomainParamsMinSizeObjectHandle)));
}

TEST_F(libC_GTest_DSA, Generate_DomainParam_MaxSize)
{
    GENERATE_DOMAIN_PARAMETERS(ASSERT_EQ_CKR_OK, CKM_DSA_PARAMETER_GEN, m_dsaKey, ulMaxKeySize, m_dsaDomainParamsMaxSizeObjectHandle);
}

TEST_F(libC_GTest_DSA, Generate_MinSize)
{
    DomainParameterKeys::GenerateDSAKeyPair(m_dsaDomainParamsMinSizeObjectHandle, m_dsaPublicKeyMinSizeObjectHandle, m_dsaPrivateKeyMinSizeObjectHandle);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(IsCkrOk(ReadDSAKeyObjects(m_hSession, m_dsaPublicKeyMinSizeObjectHandle, m_dsaPrivateKeyMinSizeObjectHandle)));
}

TEST_F(libC_GTest_DSA, Generate_MaxSize)
{
    DomainParameterKeys::GenerateDSAKeyPair(m_dsaDomainParamsMaxSizeObjectHandle, m_dsaPublicKeyMaxSizeObjectHandle, m_dsaPrivateKeyMaxSizeObjectHandle);
}

// The data file, read whole into pPlainData, or the end of the test.
#define DSA_READ_DATA_FILE()                                                                   \
    CK_BYTE_PTR pPlainData = NULL_PTR;                                                         \
    CK_ULONG ulPlainDataLength = 0;                                                            \
    ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)));         \
    NewArrayGuard plainData(pPlainData)

// Signs the 20-byte SHA-1 digest of the data file with plain DSA and verifies the
// signature, with the key pair of one size (MinSize or MaxSize).
#define DSA_SIGN_DIGEST_TEST(TestName, Size)                                                   \
    TEST_F(libC_GTest_DSA, TestName)                                                           \
    {                                                                                          \
        DSA_READ_DATA_FILE();                                                                  \
        CK_BYTE_PTR pDigestedData = NULL_PTR;                                                  \
        CK_ULONG ulDigestedDataLength = 0;                                                     \
        NewArrayGuard digestedData(pDigestedData);                                             \
        ASSERT_TRUE(IsCkrOk(DigestData(CKM_SHA_1, pPlainData, ulPlainDataLength, &pDigestedData, &ulDigestedDataLength))); \
                                                                                               \
        m_mechanism = {CKM_DSA, NULL_PTR, 0};                                                  \
        CK_BYTE_PTR pSignedData = NULL_PTR;                                                    \
        CK_ULONG ulSignedDataLength = 0;                                                       \
        NewArrayGuard signedData(pSignedData);                                                 \
        ASSERT_TRUE(IsCkrOk(SignVerifySinglePart(m_hSession, &m_mechanism, m_dsaPrivateKey##Size##ObjectHandle, m_dsaPublicKey##Size##ObjectHandle, pDigestedData, ulDigestedDataLength, &pSignedData, ulSignedDataLength))); \
    }

DSA_SIGN_DIGEST_TEST(Sign_MinSize, MinSize)
DSA_SIGN_DIGEST_TEST(Sign_MaxSize, MaxSize)

// Hashes and signs the whole data file with a DSA_SHA mechanism and verifies the
// signature, in one part (SignVerifySinglePart) or in parts (SignVerifyMultiPart), with
// the key pair of one size (MinSize or MaxSize).
#define DSA_HASH_SIGN_TEST(TestName, Mechanism, SignVerifyRoutine, Size)                       \
    TEST_F(libC_GTest_DSA, TestName)                                                           \
    {                                                                                          \
        m_mechanism = {Mechanism, NULL_PTR, 0};                                                \
        DSA_READ_DATA_FILE();                                                                  \
        CK_BYTE_PTR pSignedData = NULL_PTR;                                                    \
        CK_ULONG ulSignedDataLength = 0;                                                       \
        NewArrayGuard signedData(pSignedData);                                                 \
        ASSERT_TRUE(IsCkrOk(SignVerifyRoutine(m_hSession, &m_mechanism, m_dsaPrivateKey##Size##ObjectHandle, m_dsaPublicKey##Size##ObjectHandle, pPlainData, ulPlainDataLength, &pSignedData, ulSignedDataLength))); \
    }

DSA_HASH_SIGN_TEST(SignSha1_MinSize, CKM_DSA_SHA1, SignVerifySinglePart, MinSize)
DSA_HASH_SIGN_TEST(SignSha1_Chunked_MinSize, CKM_DSA_SHA1, SignVerifyMultiPart, MinSize)
DSA_HASH_SIGN_TEST(SignSha1_MaxSize, CKM_DSA_SHA1, SignVerifySinglePart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha1_Chunked_MaxSize, CKM_DSA_SHA1, SignVerifyMultiPart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha256_MinSize, CKM_DSA_SHA256, SignVerifySinglePart, MinSize)
DSA_HASH_SIGN_TEST(SignSha256_Chunked_MinSize, CKM_DSA_SHA256, SignVerifyMultiPart, MinSize)
DSA_HASH_SIGN_TEST(SignSha256PKCS_MaxSize, CKM_DSA_SHA256, SignVerifySinglePart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha256PKCS_Chunked_MaxSize, CKM_DSA_SHA256, SignVerifyMultiPart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha384_MinSize, CKM_DSA_SHA384, SignVerifySinglePart, MinSize)
DSA_HASH_SIGN_TEST(SignSha384_Chunked_MinSize, CKM_DSA_SHA384, SignVerifyMultiPart, MinSize)
DSA_HASH_SIGN_TEST(SignSha384_MaxSize, CKM_DSA_SHA384, SignVerifySinglePart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha384_Chunked_MaxSize, CKM_DSA_SHA384, SignVerifyMultiPart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha512_MinSize, CKM_DSA_SHA512, SignVerifySinglePart, MinSize)
DSA_HASH_SIGN_TEST(SignSha512_Chunked_MinSize, CKM_DSA_SHA512, SignVerifyMultiPart, MinSize)
DSA_HASH_SIGN_TEST(SignSha512_MaxSize, CKM_DSA_SHA512, SignVerifySinglePart, MaxSize)
DSA_HASH_SIGN_TEST(SignSha512_Chunked_MaxSize, CKM_DSA_SHA512, SignVerifyMultiPart, MaxSize)
