// Test case libC_GTest_RSA: two RSA key pairs, at the smallest and the largest size the
// token advertises for key-pair generation, then signatures, encryption and key wrapping
// with them, and last the destruction of the two pairs.
//
// The test shapes are macros. Handle and mechanism names are pasted from their arguments
// (m_rsaPrivateKey##Size##ObjectHandle, CKM_##Digest) rather than passed whole, so that
// they reach the assertions unexpanded and a failure report names them as written.
#pragma once

#include <cstdio>
#include <cstring>

#include "libC_GTest_Fixture.h"

// Key-pair generation ----------------------------------------------------------------

// The class, key-type and modulus-size entries of the two generation templates, and the
// generation itself into the Size pair's handles (fatal).
#define RSA_GENERATE_KEY_PAIR(Size, SizeField)                                                 \
    CK_MECHANISM_INFO keyPairGenInfo;                                                          \
    ASSERT_MECHANISM_INFO(CKM_RSA_PKCS_KEY_PAIR_GEN, keyPairGenInfo);                          \
    ASSERT_FUNCTION_LIST();                                                                    \
    m_mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, NULL_PTR, 0};                                    \
    CK_ULONG ulModulusBits = keyPairGenInfo.SizeField;                                         \
    m_rsaKeyPairPublicGenAttributes[0] = {CKA_CLASS, &m_rsaPublicKeyClass, sizeof(CK_OBJECT_CLASS)}; \
    m_rsaKeyPairPublicGenAttributes[1] = {CKA_KEY_TYPE, &m_rsaKey, sizeof(CK_KEY_TYPE)};      \
    m_rsaKeyPairPublicGenAttributes[10] = {CKA_MODULUS_BITS, &ulModulusBits, sizeof(CK_ULONG)}; \
    m_rsaKeyPairPrivateGenAttributes[0] = {CKA_CLASS, &m_rsaPrivateKeyClass, sizeof(CK_OBJECT_CLASS)}; \
    m_rsaKeyPairPrivateGenAttributes[1] = {CKA_KEY_TYPE, &m_rsaKey, sizeof(CK_KEY_TYPE)};     \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_rsaKeyPairPublicGenAttributes, RSA_PUBLIC_KEY_GEN_ATTR_CNT, m_rsaKeyPairPrivateGenAttributes, RSA_PRIVATE_KEY_GEN_ATTR_CNT, &m_rsaPublicKey##Size##ObjectHandle, &m_rsaPrivateKey##Size##ObjectHandle)))

// The key-usage attributes read back from both keys of the Min pair.
static const CK_ATTRIBUTE kRsaKeyUsageAttributes[17] = {
    {CKA_ID, NULL_PTR, 0},          {CKA_DERIVE, NULL_PTR, 0},
    {CKA_LOCAL, NULL_PTR, 0},       {CKA_ENCRYPT, NULL_PTR, 0},
    {CKA_VERIFY, NULL_PTR, 0},      {CKA_VERIFY_RECOVER, NULL_PTR, 0},
    {CKA_WRAP, NULL_PTR, 0},        {CKA_SENSITIVE, NULL_PTR, 0},
    {CKA_DECRYPT, NULL_PTR, 0},     {CKA_SIGN, NULL_PTR, 0},
    {CKA_SIGN_RECOVER, NULL_PTR, 0}, {CKA_UNWRAP, NULL_PTR, 0},
    {CKA_EXTRACTABLE, NULL_PTR, 0}, {CKA_ALWAYS_SENSITIVE, NULL_PTR, 0},
    {CKA_NEVER_EXTRACTABLE, NULL_PTR, 0}, {CKA_WRAP_WITH_TRUSTED, NULL_PTR, 0},
    {CKA_ALWAYS_AUTHENTICATE, NULL_PTR, 0},
};

// Reads the key-usage attributes of one key into a fresh copy of the list. A key lacks
// some of them (a public key has no CKA_SIGN), so the read itself is not checked; the
// release is.
#define RSA_READ_KEY_USAGE(handle)                                                             \
    do {                                                                                       \
        CK_ATTRIBUTE keyUsage[17];                                                             \
        std::memcpy(keyUsage, kRsaKeyUsageAttributes, sizeof(keyUsage));                       \
        AttributeValuesGuard keyUsageValues(keyUsage, 17);                                     \
        GetAttributeValuesWithAllocation(m_hSession, handle, keyUsage, 17);                    \
        CK_RV rv = FreeAllocatedAttributes(keyUsage, 17);                                      \
        EXPECT_TRUE(IsCkrOk(rv));                                                              \
    } while (0)

TEST_F(libC_GTest_RSA, GeneratePKCS_MinSize)
{
    RSA_GENERATE_KEY_PAIR(MinSize, ulMinKeySize);
    EXPECT_TRUE(IsCkrOk(ReadRSAPublicObject(m_hSession, m_rsaPublicKeyMinSizeObjectHandle)));
    EXPECT_TRUE(IsCkrOk(ReadRSAPrivateObject(m_hSession, m_rsaPrivateKeyMinSizeObjectHandle)));
    RSA_READ_KEY_USAGE(m_rsaPublicKeyMinSizeObjectHandle);
    RSA_READ_KEY_USAGE(m_rsaPrivateKeyMinSizeObjectHandle);
}

TEST_F(libC_GTest_RSA, GeneratePKCS_MaxSize)
{
    RSA_GENERATE_KEY_PAIR(MaxSize, ulMaxKeySize);
}

// Signatures ----------------------------------------------------------------------------

// The data file, read whole into pPlainData (fatal) and released with the test.
#define RSA_READ_DATA_FILE()                                                                   \
    CK_BYTE_PTR pPlainData = NULL_PTR;                                                         \
    CK_ULONG ulPlainDataLength = 0;                                                            \
    ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)));         \
    NewArrayGuard plainData(pPlainData)

// The token's digest of the data file's first ulPlainDataLength bytes (fatal).
#define RSA_DIGEST_DATA(Digest, ulDigestLength)                                                \
    CK_BYTE_PTR pDigestedData = NULL_PTR;                                                      \
    CK_ULONG ulDigestLength = 0;                                                               \
    NewArrayGuard digestedData(pDigestedData);                                                 \
    ASSERT_TRUE(IsCkrOk(DigestData(CKM_##Digest, pPlainData, ulPlainDataLength, &pDigestedData, &ulDigestLength)))

// An empty signature buffer, filled by the routine or the direct sequence.
#define RSA_SIGNATURE_BUFFER(pSignature)                                                       \
    CK_BYTE_PTR pSignature = NULL_PTR;                                                         \
    CK_ULONG ulSigLen = 0;                                                                     \
    NewArrayGuard signature(pSignature)

// Hash-and-sign PKCS#1 v1.5 over the data file, through SignVerifySinglePart or
// SignVerifyMultiPart.
#define RSA_HASH_AND_SIGN_TEST(TestName, Mechanism, Size, Routine, pSignature)                 \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        m_mechanism = {CKM_##Mechanism, NULL_PTR, 0};                                          \
        RSA_READ_DATA_FILE();                                                                  \
        RSA_SIGNATURE_BUFFER(pSignature);                                                      \
        ASSERT_TRUE(IsCkrOk( Routine( m_hSession, &m_mechanism, m_rsaPrivateKey##Size##ObjectHandle, m_rsaPublicKey##Size##ObjectHandle, pPlainData, ulPlainDataLength, &pSignature, ulSigLen))); \
    }

#define RSA_SINGLE_PART_TEST(TestName, Mechanism, Size)                                        \
    RSA_HASH_AND_SIGN_TEST(TestName, Mechanism, Size, SignVerifySinglePart, pSignedData)
#define RSA_MULTI_PART_TEST(TestName, Mechanism, Size)                                         \
    RSA_HASH_AND_SIGN_TEST(TestName, Mechanism, Size, SignVerifyMultiPart, pSigData)

// The digest of the data file signed through SignVerifySinglePart (fatal).
#define RSA_SIGN_DIGEST_SINGLE_PART(Size, ulDigestLength)                                      \
    ASSERT_TRUE(IsCkrOk( SignVerifySinglePart( m_hSession, &m_mechanism, m_rsaPrivateKey##Size##ObjectHandle, m_rsaPublicKey##Size##ObjectHandle, pDigestedData, ulDigestLength, &pSignedData, ulSigLen)))

// Sign and verify with the Size pair, each call a fatal check of its own; the signature
// goes into pSignature, released at Release() or with the test.
#define RSA_SIGN_VERIFY_DIRECT(Size, ulDigestLength, pSignature)                               \
    do {                                                                                       \
        ASSERT_FUNCTION_LIST();                                                                \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_SignInit(m_hSession, &m_mechanism, m_rsaPrivateKey##Size##ObjectHandle))); \
        ulSigLen = 0;                                                                          \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Sign(m_hSession, pDigestedData, ulDigestLength, NULL_PTR, &ulSigLen))); \
        pSignature = new CK_BYTE[ulSigLen]();                                                  \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Sign(m_hSession, pDigestedData, ulDigestLength, pSignature, &ulSigLen))); \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_VerifyInit(m_hSession, &m_mechanism, m_rsaPublicKey##Size##ObjectHandle))); \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Verify(m_hSession, pDigestedData, ulDigestLength, pSignature, ulSigLen))); \
    } while (0)

// PSS over the digest of the data file, made with the scheme's own hash.
#define RSA_PSS_PARAMETERS(Digest, Mgf, SaltLength)                                            \
    CK_RSA_PKCS_PSS_PARAMS pssParams = {CKM_##Digest, CKG_MGF1_##Mgf, SaltLength}

#define RSA_PSS_SINGLE_PART_TEST(TestName, Size)                                               \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        RSA_READ_DATA_FILE();                                                                  \
        RSA_DIGEST_DATA(SHA_1, ulDigestedDataLen);                                             \
        RSA_SIGNATURE_BUFFER(pSignedData);                                                     \
        RSA_PSS_PARAMETERS(SHA_1, SHA1, 64);                                                   \
        m_mechanism = {CKM_SHA1_RSA_PKCS_PSS, &pssParams, sizeof(pssParams)};                  \
        RSA_SIGN_DIGEST_SINGLE_PART(Size, ulDigestedDataLen);                                  \
    }

#define RSA_PSS_DIRECT_TEST(TestName, Size, Digest, Mechanism, Mgf)                            \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        RSA_READ_DATA_FILE();                                                                  \
        RSA_DIGEST_DATA(Digest, ulDigestedDataLen);                                            \
        RSA_SIGNATURE_BUFFER(pSigData);                                                        \
        RSA_PSS_PARAMETERS(Digest, Mgf, 64);                                                   \
        m_mechanism = {CKM_##Mechanism, &pssParams, sizeof(pssParams)};                        \
        RSA_SIGN_VERIFY_DIRECT(Size, ulDigestedDataLen, pSigData);                             \
    }

TEST_F(libC_GTest_RSA, SignPKCS_MinSize)
{
    RSA_READ_DATA_FILE();
    RSA_DIGEST_DATA(SHA_1, ulDigestedDataLength);
    RSA_SIGNATURE_BUFFER(pSignedData);
    // One pass of a counting loop, reporting its progress every hundredth pass.
    int i = 0;
    m_mechanism = {CKM_RSA_PKCS, NULL_PTR, 0};
    while (i < 1) {
        CK_RV rv;
        EXPECT_TRUE(IsCkrOk(rv = SignVerifySinglePart( m_hSession, &m_mechanism, m_rsaPrivateKeyMinSizeObjectHandle, m_rsaPublicKeyMinSizeObjectHandle, pDigestedData, ulDigestedDataLength, &pSignedData, ulSigLen)));
        if (rv != CKR_OK) {
            ASSERT_EQ(1, i);
        }
        if (i % 100 == 0)
            std::printf("%d\n", i);
        ++i;
    }
}

TEST_F(libC_GTest_RSA, SignPKCS_MaxSize)
{
    RSA_READ_DATA_FILE();
    RSA_DIGEST_DATA(SHA_1, ulDigestedDataLength);
    RSA_SIGNATURE_BUFFER(pSignedData);
    m_mechanism = {CKM_RSA_PKCS, NULL_PTR, 0};
    RSA_SIGN_DIGEST_SINGLE_PART(MaxSize, ulDigestedDataLength);
}

RSA_SINGLE_PART_TEST(SignSha1PKCS_MinSize, SHA1_RSA_PKCS, MinSize)
RSA_MULTI_PART_TEST(SignSha1PKCS_Chunked_MinSize, SHA1_RSA_PKCS, MinSize)
RSA_SINGLE_PART_TEST(SignMD5PKCS_MinSize, MD5_RSA_PKCS, MinSize)
RSA_MULTI_PART_TEST(SignMD5PKCS_Chunked_MinSize, MD5_RSA_PKCS, MinSize)
RSA_SINGLE_PART_TEST(SignSha1PKCS_MaxSize, SHA1_RSA_PKCS, MaxSize)
RSA_MULTI_PART_TEST(SignSha1PKCS_Chunked_MaxSize, SHA1_RSA_PKCS, MaxSize)
RSA_SINGLE_PART_TEST(SignSha224PKCS_MinSize, SHA224_RSA_PKCS, MinSize)
RSA_MULTI_PART_TEST(SignSha224PKCS_Chunked_MinSize, SHA224_RSA_PKCS, MinSize)
RSA_SINGLE_PART_TEST(SignSha224PKCS_MaxSize, SHA224_RSA_PKCS, MaxSize)
RSA_MULTI_PART_TEST(SignSha224PKCS_Chunked_MaxSize, SHA224_RSA_PKCS, MaxSize)
RSA_SINGLE_PART_TEST(SignSha256PKCS_MinSize, SHA256_RSA_PKCS, MinSize)
RSA_MULTI_PART_TEST(SignSha256PKCS_Chunked_MinSize, SHA256_RSA_PKCS, MinSize)
RSA_SINGLE_PART_TEST(SignSha256PKCS_MaxSize, SHA256_RSA_PKCS, MaxSize)
RSA_MULTI_PART_TEST(SignSha256PKCS_Chunked_MaxSize, SHA256_RSA_PKCS, MaxSize)
RSA_SINGLE_PART_TEST(SignSha384PKCS_MinSize, SHA384_RSA_PKCS, MinSize)
RSA_MULTI_PART_TEST(SignSha384PKCS_Chunked_MinSize, SHA384_RSA_PKCS, MinSize)
RSA_SINGLE_PART_TEST(SignSha384PKCS_MaxSize, SHA384_RSA_PKCS, MaxSize)
RSA_MULTI_PART_TEST(SignSha384PKCS_Chunked_MaxSize, SHA384_RSA_PKCS, MaxSize)
RSA_SINGLE_PART_TEST(SignSha512PKCS_MinSize, SHA512_RSA_PKCS, MinSize)
RSA_MULTI_PART_TEST(SignSha512PKCS_Chunked_MinSize, SHA512_RSA_PKCS, MinSize)
RSA_SINGLE_PART_TEST(SignSha512PKCS_MaxSize, SHA512_RSA_PKCS, MaxSize)
RSA_MULTI_PART_TEST(SignSha512PKCS_Chunked_MaxSize, SHA512_RSA_PKCS, MaxSize)

TEST_F(libC_GTest_RSA, SignX509_MinSize)
{
    RSA_READ_DATA_FILE();
    RSA_DIGEST_DATA(SHA_1, ulDigestedDataLength);
    RSA_SIGNATURE_BUFFER(pSignedData);
    // A modulus shorter than the digest signs only its first bytes.
    CK_MECHANISM_INFO x509Info;
    ASSERT_MECHANISM_INFO(CKM_RSA_X_509, x509Info);
    if (8 * ulDigestedDataLength > x509Info.ulMinKeySize)
        ulDigestedDataLength = x509Info.ulMinKeySize / 8;
    m_mechanism = {CKM_RSA_X_509, NULL_PTR, 0};
    RSA_SIGN_DIGEST_SINGLE_PART(MinSize, ulDigestedDataLength);
}

TEST_F(libC_GTest_RSA, SignX509_MaxSize)
{
    RSA_READ_DATA_FILE();
    RSA_DIGEST_DATA(SHA_1, ulDigestedDataLength);
    RSA_SIGNATURE_BUFFER(pSignedData);
    m_mechanism = {CKM_RSA_X_509, NULL_PTR, 0};
    RSA_SIGN_VERIFY_DIRECT(MaxSize, ulDigestedDataLength, pSignedData);
}

RSA_PSS_SINGLE_PART_TEST(SignSha1PKCS_PSS_MinSize, MinSize)
RSA_PSS_SINGLE_PART_TEST(SignSha1PKCS_PSS_MaxSize, MaxSize)
RSA_PSS_DIRECT_TEST(SignSha224PKCS_PSS_MinSize, MinSize, SHA224, SHA224_RSA_PKCS_PSS, SHA224)
RSA_PSS_DIRECT_TEST(SignSha224PKCS_PSS_MaxSize, MaxSize, SHA224, SHA224_RSA_PKCS_PSS, SHA224)

TEST_F(libC_GTest_RSA, SignSha256PKCS_PSS_MinSize)
{
    // The SHA-256 digest of the data file's first 32 bytes, signed as a message and then
    // as the hash value itself.
    RSA_READ_DATA_FILE();
    ASSERT_GE(ulPlainDataLength, 32UL) << "the data file is shorter than the 32 bytes signed here";
    ulPlainDataLength = 32;
    RSA_DIGEST_DATA(SHA256, ulDigestedDataLen);
    RSA_SIGNATURE_BUFFER(pSigData);
    RSA_PSS_PARAMETERS(SHA256, SHA256, 32);
    m_mechanism = {CKM_SHA256_RSA_PKCS_PSS, &pssParams, sizeof(pssParams)};
    RSA_SIGN_VERIFY_DIRECT(MinSize, ulDigestedDataLen, pSigData);
    signature.Release();
    m_mechanism.mechanism = CKM_RSA_PKCS_PSS;
    RSA_SIGN_VERIFY_DIRECT(MinSize, ulDigestedDataLen, pSigData);
}

RSA_PSS_DIRECT_TEST(SignSha256PKCS_PSS_MaxSize, MaxSize, SHA256, SHA256_RSA_PKCS_PSS, SHA256)
RSA_PSS_DIRECT_TEST(SignSha384PKCS_PSS_MinSize, MinSize, SHA384, SHA384_RSA_PKCS_PSS, SHA384)
RSA_PSS_DIRECT_TEST(SignSha384PKCS_PSS_MaxSize, MaxSize, SHA384, SHA384_RSA_PKCS_PSS, SHA384)
RSA_PSS_DIRECT_TEST(SignSha512PKCS_PSS_MaxSize, MaxSize, SHA512, SHA512_RSA_PKCS_PSS, SHA512)

// Encryption ----------------------------------------------------------------------------

static const CK_BYTE kRsaPlainText16[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                            0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};

// The buffers of encrypt-and-decrypt cycles.
#define RSA_CYCLE_BUFFERS()                                                                    \
    CK_BYTE_PTR pEncryptedData = NULL_PTR;                                                     \
    CK_ULONG ulOutDataLen = 0;                                                                 \
    NewArrayGuard encryptedData(pEncryptedData);                                               \
    CK_BYTE_PTR pOutData = NULL_PTR;                                                           \
    CK_ULONG ulOutLen = 0;                                                                     \
    CK_ULONG ulOutAllocated = 0;                                                               \
    NewArrayGuard outData(pOutData)

// Encrypts pPlain with the Size pair's public key and decrypts the result with its
// private key into pOutData, each call a fatal check; the caller compares.
#define RSA_ENCRYPT_DECRYPT_CYCLE(Size, pPlain, ulPlainLength)                                 \
    do {                                                                                       \
        ASSERT_FUNCTION_LIST();                                                                \
        encryptedData.Release();                                                               \
        outData.Release();                                                                     \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_EncryptInit(m_hSession, &m_mechanism, m_rsaPublicKey##Size##ObjectHandle))); \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Encrypt(m_hSession, pPlain, ulPlainLength, NULL_PTR, &ulOutDataLen))); \
        pEncryptedData = new CK_BYTE[ulOutDataLen]();                                          \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Encrypt(m_hSession, pPlain, ulPlainLength, pEncryptedData, &ulOutDataLen))); \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_DecryptInit(m_hSession, &m_mechanism, m_rsaPrivateKey##Size##ObjectHandle))); \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Decrypt(m_hSession, pEncryptedData, ulOutDataLen, NULL_PTR, &ulOutLen))); \
        ulOutAllocated = ulOutLen;                                                             \
        pOutData = new CK_BYTE[ulOutAllocated]();                                              \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_Decrypt(m_hSession, pEncryptedData, ulOutDataLen, pOutData, &ulOutLen))); \
    } while (0)

// The decrypted buffer holds at least the compared length, so the comparison that
// follows stays within it.
#define ASSERT_OUTPUT_HOLDS(ulPlainLength)                                                     \
    ASSERT_GE(ulOutAllocated, ulPlainLength) << "the decrypted output is shorter than the plaintext"

// One cycle of the 16-byte plaintext, which must come back.
#define RSA_ENCRYPT_PLAINTEXT_BACK(Size)                                                       \
    CK_BYTE pPlainData[16];                                                                    \
    std::memcpy(pPlainData, kRsaPlainText16, sizeof(pPlainData));                              \
    CK_ULONG ulPlainDataLength = sizeof(pPlainData);                                           \
    RSA_CYCLE_BUFFERS();                                                                       \
    RSA_ENCRYPT_DECRYPT_CYCLE(Size, pPlainData, ulPlainDataLength);                            \
    ASSERT_OUTPUT_HOLDS(ulPlainDataLength);                                                    \
    ASSERT_EQ(0, memcmp(pOutData, pPlainData, ulPlainDataLength))

#define RSA_ENCRYPT_PKCS_TEST(TestName, Size)                                                  \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        m_mechanism = {CKM_RSA_PKCS, NULL_PTR, 0};                                             \
        RSA_ENCRYPT_PLAINTEXT_BACK(Size);                                                      \
    }

// OAEP without a label; the hash in this library's convention, an HMAC mechanism code.
#define RSA_OAEP_PARAMETERS(Hash, Mgf)                                                         \
    CK_RSA_PKCS_OAEP_PARAMS oaepParams = {CKM_##Hash##_HMAC, CKG_MGF1_##Mgf, 0, NULL_PTR, 0}; \
    m_mechanism = {CKM_RSA_PKCS_OAEP, &oaepParams, sizeof(oaepParams)}

#define RSA_ENCRYPT_OAEP_TEST(TestName, Size, Hash, Mgf)                                       \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        RSA_OAEP_PARAMETERS(Hash, Mgf);                                                             \
        RSA_ENCRYPT_PLAINTEXT_BACK(Size);                                                      \
    }

// Raw RSA: the 16-byte plaintext comes back as a whole block, zeros in front, so its
// first bytes differ; a block of the key's length comes back as it was.
#define RSA_ENCRYPT_X509_TEST(TestName, Size, SizeField)                                       \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        CK_MECHANISM_INFO x509Info;                                                            \
        ASSERT_MECHANISM_INFO(CKM_RSA_X_509, x509Info);                                        \
        m_mechanism = {CKM_RSA_X_509, NULL_PTR, 0};                                            \
        CK_BYTE pPlainDataIncomplete[16];                                                      \
        std::memcpy(pPlainDataIncomplete, kRsaPlainText16, sizeof(pPlainDataIncomplete));      \
        CK_ULONG ulPlainDataIncompleteLength = sizeof(pPlainDataIncomplete);                   \
        RSA_CYCLE_BUFFERS();                                                                   \
        RSA_ENCRYPT_DECRYPT_CYCLE(Size, pPlainDataIncomplete, ulPlainDataIncompleteLength);    \
        ASSERT_OUTPUT_HOLDS(ulPlainDataIncompleteLength);                                      \
        ASSERT_NE(0, memcmp(pOutData, pPlainDataIncomplete, ulPlainDataIncompleteLength));     \
                                                                                               \
        CK_ULONG ulPlainDataCompleteLength = x509Info.SizeField / 8;                           \
        CK_BYTE_PTR pPlainDataComplete = new CK_BYTE[ulPlainDataCompleteLength];               \
        NewArrayGuard plainDataComplete(pPlainDataComplete);                                   \
        std::memset(pPlainDataComplete, 0x55, ulPlainDataCompleteLength);                      \
        RSA_ENCRYPT_DECRYPT_CYCLE(Size, pPlainDataComplete, ulPlainDataCompleteLength);        \
        ASSERT_OUTPUT_HOLDS(ulPlainDataCompleteLength);                                        \
        ASSERT_EQ(0, memcmp(pOutData, pPlainDataComplete, ulPlainDataCompleteLength));         \
    }

RSA_ENCRYPT_PKCS_TEST(EncryptPKCS_MinSize, MinSize)
RSA_ENCRYPT_PKCS_TEST(EncryptPKCS_MaxSize, MaxSize)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA1_MinSize, MinSize, SHA_1, SHA1)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA1_MaxSize, MaxSize, SHA_1, SHA1)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA224_MinSize, MinSize, SHA224, SHA224)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA224_MaxSize, MaxSize, SHA224, SHA224)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA256_MinSize, MinSize, SHA256, SHA256)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA256_MaxSize, MaxSize, SHA256, SHA256)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA384_MinSize, MinSize, SHA384, SHA384)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA384_MaxSize, MaxSize, SHA384, SHA384)
RSA_ENCRYPT_OAEP_TEST(EncryptPKCS_OAEP_SHA512_MaxSize, MaxSize, SHA512, SHA512)
RSA_ENCRYPT_X509_TEST(EncryptX509_MinSize, MinSize, ulMinKeySize)
RSA_ENCRYPT_X509_TEST(EncryptX509_MaxSize, MaxSize, ulMaxKeySize)

// Key wrapping --------------------------------------------------------------------------

// A fresh extractable AES token key of the smallest advertised length in
// hSecretKeyHandle, made with the shared secret-key template (fatal).
#define RSA_GENERATE_AES_KEY_TO_WRAP()                                                         \
    CK_MECHANISM_INFO aesKeyGenInfo;                                                           \
    ASSERT_MECHANISM_INFO(CKM_AES_KEY_GEN, aesKeyGenInfo);                                     \
    ASSERT_FUNCTION_LIST();                                                                    \
    CK_ULONG ulAesKeyLength = aesKeyGenInfo.ulMinKeySize;                                      \
    m_secretKeyKeyGenAttributes[0] = {CKA_CLASS, &m_secretKeyClass, sizeof(CK_OBJECT_CLASS)};  \
    m_secretKeyKeyGenAttributes[1] = {CKA_KEY_TYPE, &m_aesKey, sizeof(CK_KEY_TYPE)};          \
    m_secretKeyKeyGenAttributes[8] = {CKA_EXTRACTABLE, &m_bTrue, sizeof(CK_BBOOL)};           \
    m_secretKeyKeyGenAttributes[11] = {CKA_VALUE_LEN, &ulAesKeyLength, sizeof(CK_ULONG)};     \
    CK_OBJECT_HANDLE hSecretKeyHandle = 0;                                                     \
    m_mechanism = {CKM_AES_KEY_GEN, NULL_PTR, 0};                                              \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GenerateKey(m_hSession, &m_mechanism, m_secretKeyKeyGenAttributes, SECRET_KEY_GEN_ATTR_CNT, &hSecretKeyHandle)))

// Wraps hKey under hWrappingKey with m_mechanism into pWrappedKeyData: a length query,
// then the wrap into a zeroed buffer of that length (fatal).
#define RSA_WRAP_KEY(hWrappingKey, hKey)                                                       \
    ulWrappedKeyLen = 0;                                                                       \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_WrapKey(m_hSession, &m_mechanism, hWrappingKey, hKey, NULL_PTR, &ulWrappedKeyLen))); \
    pWrappedKeyData = new CK_BYTE[ulWrappedKeyLen]();                                          \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_WrapKey(m_hSession, &m_mechanism, hWrappingKey, hKey, pWrappedKeyData, &ulWrappedKeyLen)))

#define RSA_WRAPPED_KEY_BUFFER()                                                               \
    CK_BYTE_PTR pWrappedKeyData = NULL_PTR;                                                    \
    CK_ULONG ulWrappedKeyLen = 0;                                                              \
    NewArrayGuard wrappedKeyData(pWrappedKeyData)

// The AES key unwrapped again with the Size pair's private key and the template it was
// generated with (fatal).
#define RSA_UNWRAP_AES_KEY(Size)                                                               \
    hSecretKeyHandle = 0;                                                                      \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_UnwrapKey(m_hSession, &m_mechanism, m_rsaPrivateKey##Size##ObjectHandle, pWrappedKeyData, ulWrappedKeyLen, m_secretKeyKeyGenAttributes, SECRET_KEY_GEN_ATTR_CNT, &hSecretKeyHandle)))

// The second unwrap of the same wrapped bytes in the SHA-1 OAEP tests: none, checked as
// the first, or checked as an equality with the template's element count.
#define RSA_UNWRAP_ONCE(Size)
#define RSA_UNWRAP_AGAIN(Size) RSA_UNWRAP_AES_KEY(Size)
#define RSA_UNWRAP_AGAIN_EQ(Size)                                                              \
    hSecretKeyHandle = 0;                                                                      \
    ASSERT_EQ(CKR_OK, m_pFList->C_UnwrapKey(m_hSession, &m_mechanism, m_rsaPrivateKey##Size##ObjectHandle, pWrappedKeyData, ulWrappedKeyLen, m_secretKeyKeyGenAttributes, sizeof(m_secretKeyKeyGenAttributes) / sizeof(CK_ATTRIBUTE), &hSecretKeyHandle))

// An AES key wrapped with the Size pair's public key and unwrapped with its private key,
// with the mechanism that SetMechanism sets.
#define RSA_WRAP_UNWRAP_TEST(TestName, Size, SetMechanism, UnwrapAgain)                        \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        RSA_GENERATE_AES_KEY_TO_WRAP();                                                        \
        RSA_WRAPPED_KEY_BUFFER();                                                              \
        SetMechanism;                                                                          \
        RSA_WRAP_KEY(m_rsaPublicKey##Size##ObjectHandle, hSecretKeyHandle);                    \
        RSA_UNWRAP_AES_KEY(Size);                                                              \
        UnwrapAgain(Size);                                                                     \
    }

#define RSA_PKCS_MECHANISM() m_mechanism = {CKM_RSA_PKCS, NULL_PTR, 0}

#define RSA_WRAP_PKCS_TEST(TestName, Size)                                                     \
    RSA_WRAP_UNWRAP_TEST(TestName, Size, RSA_PKCS_MECHANISM(), RSA_UNWRAP_ONCE)
#define RSA_WRAP_OAEP_TEST(TestName, Size, Hash, Mgf, UnwrapAgain)                             \
    RSA_WRAP_UNWRAP_TEST(TestName, Size, RSA_OAEP_PARAMETERS(Hash, Mgf), UnwrapAgain)

// Raw RSA is no wrapping mechanism: the length query is refused.
#define RSA_WRAP_X509_TEST(TestName, Size)                                                     \
    TEST_F(libC_GTest_RSA, TestName)                                                           \
    {                                                                                          \
        RSA_GENERATE_AES_KEY_TO_WRAP();                                                        \
        CK_ULONG ulWrappedKeyLen = 0;                                                          \
        m_mechanism = {CKM_RSA_X_509, NULL_PTR, 0};                                            \
        ASSERT_TRUE(IsCkr(CKR_MECHANISM_INVALID, m_pFList->C_WrapKey(m_hSession, &m_mechanism, m_rsaPublicKey##Size##ObjectHandle, hSecretKeyHandle, NULL_PTR, &ulWrappedKeyLen))); \
    }

RSA_WRAP_PKCS_TEST(WrapPKCS_MinSize, MinSize)
RSA_WRAP_PKCS_TEST(WrapPKCS_MaxSize, MaxSize)
RSA_WRAP_X509_TEST(WrapX509_MinSize, MinSize)
RSA_WRAP_X509_TEST(WrapX509_MaxSize, MaxSize)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA1_MinSize, MinSize, SHA_1, SHA1, RSA_UNWRAP_AGAIN)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA1_MaxSize, MaxSize, SHA_1, SHA1, RSA_UNWRAP_AGAIN_EQ)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA224_MinSize, MinSize, SHA224, SHA224, RSA_UNWRAP_ONCE)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA224_MaxSize, MaxSize, SHA224, SHA224, RSA_UNWRAP_ONCE)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA256_MinSize, MinSize, SHA256, SHA256, RSA_UNWRAP_ONCE)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA256_MaxSize, MaxSize, SHA256, SHA256, RSA_UNWRAP_ONCE)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA384_MinSize, MinSize, SHA384, SHA384, RSA_UNWRAP_ONCE)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA384_MaxSize, MaxSize, SHA384, SHA384, RSA_UNWRAP_ONCE)
RSA_WRAP_OAEP_TEST(WrapPKCS_OAEP_SHA512_MaxSize, MaxSize, SHA512, SHA512, RSA_UNWRAP_ONCE)

TEST_F(libC_GTest_RSA, Wrap_RSA_with_AES_CBC_MaxSize)
{
    // An RSA pair and an AES key of their own, both at the smallest advertised sizes; the
    // AES key wraps the private key, which is unwrapped with the shared private-key
    // template.
    CK_MECHANISM_INFO keyPairGenInfo;
    ASSERT_MECHANISM_INFO(CKM_RSA_PKCS_KEY_PAIR_GEN, keyPairGenInfo);
    CK_MECHANISM_INFO aesKeyGenInfo;
    ASSERT_MECHANISM_INFO(CKM_AES_KEY_GEN, aesKeyGenInfo);
    ASSERT_FUNCTION_LIST();

    CK_OBJECT_HANDLE rsaPublicKeyHandle = 0;
    CK_OBJECT_HANDLE rsaPrivateKeyHandle = 0;
    CK_ULONG ulModulusBits = keyPairGenInfo.ulMinKeySize;
    CK_ATTRIBUTE rsaKeyPairPublicGenAttributes[RSA_PUBLIC_KEY_GEN_ATTR_CNT] = {
        {CKA_CLASS, &m_rsaPublicKeyClass, sizeof(CK_OBJECT_CLASS)},
        {CKA_KEY_TYPE, &m_rsaKey, sizeof(CK_KEY_TYPE)},
        {CKA_TOKEN, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_DERIVE, &m_bFalse, sizeof(CK_BBOOL)},
        {CKA_ENCRYPT, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_VERIFY, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_VERIFY_RECOVER, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_WRAP, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_MODIFIABLE, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_PRIVATE, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_MODULUS_BITS, &ulModulusBits, sizeof(CK_ULONG)},
        {CKA_PUBLIC_EXPONENT, m_rsaPublicExponent, sizeof(m_rsaPublicExponent)},
    };
    CK_ATTRIBUTE rsaKeyPairPrivateGenAttributes[RSA_PRIVATE_KEY_GEN_ATTR_CNT] = {
        {CKA_CLASS, &m_rsaPrivateKeyClass, sizeof(CK_OBJECT_CLASS)},
        {CKA_KEY_TYPE, &m_rsaKey, sizeof(CK_KEY_TYPE)},
        {CKA_TOKEN, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_DERIVE, &m_bFalse, sizeof(CK_BBOOL)},
        {CKA_DECRYPT, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_SIGN, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_SIGN_RECOVER, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_UNWRAP, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_EXTRACTABLE, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_MODIFIABLE, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_PRIVATE, &m_bTrue, sizeof(CK_BBOOL)},
    };
    m_mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, NULL_PTR, 0};
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GenerateKeyPair(m_hSession, &m_mechanism, rsaKeyPairPublicGenAttributes, RSA_PUBLIC_KEY_GEN_ATTR_CNT, rsaKeyPairPrivateGenAttributes, RSA_PRIVATE_KEY_GEN_ATTR_CNT, &rsaPublicKeyHandle, &rsaPrivateKeyHandle)));

    CK_OBJECT_HANDLE hSecretKeyHandle = 0;
    CK_ULONG ulAesKeyLength = aesKeyGenInfo.ulMinKeySize;
    CK_ATTRIBUTE secretKeyKeyGenAttributes[SECRET_KEY_GEN_ATTR_CNT] = {
        {CKA_CLASS, &m_secretKeyClass, sizeof(CK_OBJECT_CLASS)},
        {CKA_KEY_TYPE, &m_aesKey, sizeof(CK_KEY_TYPE)},
        {CKA_TOKEN, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_ENCRYPT, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_WRAP, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_DECRYPT, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_UNWRAP, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_SENSITIVE, &m_bFalse, sizeof(CK_BBOOL)},
        {CKA_EXTRACTABLE, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_MODIFIABLE, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_PRIVATE, &m_bFalse, sizeof(CK_BBOOL)},
        {CKA_VALUE_LEN, &ulAesKeyLength, sizeof(CK_ULONG)},
        {CKA_SIGN, &m_bTrue, sizeof(CK_BBOOL)},
        {CKA_VERIFY, &m_bTrue, sizeof(CK_BBOOL)},
    };
    m_mechanism = {CKM_AES_KEY_GEN, NULL_PTR, 0};
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GenerateKey(m_hSession, &m_mechanism, secretKeyKeyGenAttributes, SECRET_KEY_GEN_ATTR_CNT, &hSecretKeyHandle)));

    // The IV is the fixture's, so that wrap and unwrap see the same defined bytes.
    RSA_WRAPPED_KEY_BUFFER();
    m_mechanism = {CKM_AES_CBC_PAD, m_iv16, sizeof(m_iv16)};
    RSA_WRAP_KEY(hSecretKeyHandle, rsaPrivateKeyHandle);
    rsaPrivateKeyHandle = 0;
    ASSERT_TRUE(IsCkrOk(m_pFList->C_UnwrapKey(m_hSession, &m_mechanism, hSecretKeyHandle, pWrappedKeyData, ulWrappedKeyLen, m_rsaKeyPairPrivateGenAttributes, RSA_PRIVATE_KEY_GEN_ATTR_CNT, &rsaPrivateKeyHandle)));
}

// Cleanup: only the case's two pairs, skipping handles that were never set --------------

#define RSA_DESTROY_FIXTURE_KEY(handle)                                                        \
    if (handle != 0) {                                                                         \
        EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, handle)));                   \
    }

TEST_F(libC_GTest_RSA, CleanupPartition)
{
    if (m_rsaPrivateKeyMinSizeObjectHandle == 0 && m_rsaPublicKeyMinSizeObjectHandle == 0 &&
        m_rsaPrivateKeyMaxSizeObjectHandle == 0 && m_rsaPublicKeyMaxSizeObjectHandle == 0)
        return;
    ASSERT_FUNCTION_LIST();
    RSA_DESTROY_FIXTURE_KEY(m_rsaPrivateKeyMinSizeObjectHandle)
    RSA_DESTROY_FIXTURE_KEY(m_rsaPublicKeyMinSizeObjectHandle)
    RSA_DESTROY_FIXTURE_KEY(m_rsaPrivateKeyMaxSizeObjectHandle)
    RSA_DESTROY_FIXTURE_KEY(m_rsaPublicKeyMaxSizeObjectHandle)
}
