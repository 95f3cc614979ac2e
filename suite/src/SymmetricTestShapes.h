// The test shapes of the symmetric cases libC_GTest_AES, libC_GTest_CAMELLIA and
// libC_GTest_DES3: key generation, round trips in one call, through the shared chunked
// routines and in part loops written out, MACs, AES key wrapping and the mechanisms the
// token must refuse. Each case's header registers its tests with these, names in full.
//
// Buffers are held by NewArrayGuard, so a test that ends at a fatal assertion leaks
// nothing; a passing test still releases each buffer where it is done with it.
#pragma once

#include <cstring>

#include "SymmetricMechanisms.h"
#include "libC_GTest_Fixture.h"

// Forms of a fatal check on a token call's answer, as the written-out part loops use them.
#define ASSERT_OK_EQUALITY(call) ASSERT_EQ(CKR_OK, call)
#define ASSERT_OK_SPACED(call) ASSERT_TRUE(IsCkrOk( call))
#define ASSERT_OK_TIGHT(call) ASSERT_TRUE(IsCkrOk(call))

// Sets m_mechanism for `Mechanism` with the suite's fixed parameters, which live in the
// test's local `parameters`.
#define USE_SYMMETRIC_MECHANISM(Mechanism)                                                     \
    SymmetricParameters parameters;                                                            \
    SetSymmetricMechanism(Mechanism, parameters)

// Cuts `ulLength` down to a whole number of units, the unit being a key size from the
// token's record of `UnitMechanism`. A missing record or a size of 0 ends the test before
// any token call.
#define CUT_DOWN_TO_KEY_SIZE(UnitMechanism, SizeField, ulLength)                                \
    CK_MECHANISM_INFO unitRecord;                                                              \
    ASSERT_MECHANISM_INFO(UnitMechanism, unitRecord);                                          \
    ASSERT_NE(0UL, unitRecord.SizeField) << "the token advertises a key size of 0";            \
    ulLength = CutDownToUnit(ulLength, unitRecord.SizeField)

// Key generation ---------------------------------------------------------------------------

// Fills the class, key type and CKA_VALUE_LEN entries of m_secretKeyKeyGenAttributes; the
// size is `SizeField` of the token's record of `KeyGenMechanism`, held in the test's local
// `ulKeySize`, so the entry is valid only while the test runs.
#define FILL_SECRET_KEY_TEMPLATE(KeyGenMechanism, SizeField, keyType)                          \
    CK_MECHANISM_INFO keyGenRecord;                                                            \
    ASSERT_MECHANISM_INFO(KeyGenMechanism, keyGenRecord);                                      \
    CK_ULONG ulKeySize = keyGenRecord.SizeField;                                               \
    m_secretKeyKeyGenAttributes[0].pValue = &m_secretKeyClass;                                 \
    m_secretKeyKeyGenAttributes[0].ulValueLen = sizeof(m_secretKeyClass);                      \
    m_secretKeyKeyGenAttributes[1].pValue = &keyType;                                          \
    m_secretKeyKeyGenAttributes[1].ulValueLen = sizeof(keyType);                               \
    m_secretKeyKeyGenAttributes[11].pValue = &ulKeySize;                                       \
    m_secretKeyKeyGenAttributes[11].ulValueLen = sizeof(ulKeySize)

// Sets m_mechanism to the key-generation mechanism and fills the template for it.
#define PREPARE_SECRET_KEY_GENERATION(KeyGenMechanism, SizeField, keyType)                      \
    ASSERT_FUNCTION_LIST();                                                                    \
    m_mechanism = {KeyGenMechanism, NULL_PTR, 0};                                              \
    FILL_SECRET_KEY_TEMPLATE(KeyGenMechanism, SizeField, keyType)

// Generates a token secret key of the advertised size into `handle` (AES and CAMELLIA).
#define SECRET_KEY_GENERATE_TEST(Fixture, TestName, KeyGenMechanism, SizeField, keyType, handle) \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        PREPARE_SECRET_KEY_GENERATION(KeyGenMechanism, SizeField, keyType);                    \
        ASSERT_EQ(CKR_OK, m_pFList->C_GenerateKey( m_hSession, &m_mechanism, m_secretKeyKeyGenAttributes, (sizeof(m_secretKeyKeyGenAttributes)/sizeof(CK_ATTRIBUTE)), &handle)); \
    }

// The same, checked with IsCkrOk (DES3).
#define SECRET_KEY_GENERATE_PREDICATE_TEST(Fixture, TestName, KeyGenMechanism, SizeField, keyType, handle) \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        PREPARE_SECRET_KEY_GENERATION(KeyGenMechanism, SizeField, keyType);                    \
        ASSERT_TRUE(IsCkrOk( m_pFList->C_GenerateKey( m_hSession, &m_mechanism, m_secretKeyKeyGenAttributes, SECRET_KEY_GEN_ATTR_CNT, &handle))); \
    }

// Reading the data file ---------------------------------------------------------------------

// Reads the data file into pPlainData/ulPlainDataLength, checked with IsCkrOk.
#define READ_PLAIN_DATA()                                                                      \
    CK_BYTE_PTR pPlainData = NULL_PTR;                                                         \
    CK_ULONG ulPlainDataLength = 0;                                                            \
    NewArrayGuard plainData(pPlainData);                                                       \
    ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)))

// Single-part round trips ----------------------------------------------------------------

// The ciphertext and decrypted-text buffers of a round trip, released at the test's end.
#define DECLARE_ROUND_TRIP_BUFFERS()                                                           \
    CK_BYTE_PTR pEncryptedData = NULL_PTR;                                                     \
    CK_ULONG ulEncryptedDataLength = 0;                                                        \
    CK_BYTE_PTR pDecryptedData = NULL_PTR;                                                     \
    CK_ULONG ulDecryptedDataLength = 0;                                                        \
    NewArrayGuard encryptedData(pEncryptedData);                                               \
    NewArrayGuard decryptedData(pDecryptedData);

// Encrypts the input in one call and decrypts the ciphertext in one call, each after a
// length query, under m_mechanism and `keyHandle`; SINGLE_PART_ROUND_TRIP then requires the
// input back, length and bytes. A call that reports more than the room it was given ends
// the test.
#define SINGLE_PART_ENCRYPT_DECRYPT(pInput, ulInputLength, keyHandle)                           \
    DECLARE_ROUND_TRIP_BUFFERS();                                                          \
    ASSERT_FUNCTION_LIST();                                                                    \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_EncryptInit(m_hSession, &m_mechanism, keyHandle)));        \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_Encrypt(m_hSession, pInput, ulInputLength, NULL_PTR, &ulEncryptedDataLength))); \
    const CK_ULONG ulEncryptedRoom = ulEncryptedDataLength;                                    \
    pEncryptedData = new CK_BYTE[ulEncryptedRoom]();                                           \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_Encrypt(m_hSession, pInput, ulInputLength, pEncryptedData, &ulEncryptedDataLength))); \
    ASSERT_LE(ulEncryptedDataLength, ulEncryptedRoom) << "more ciphertext than the length query gave"; \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_DecryptInit(m_hSession, &m_mechanism, keyHandle)));        \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_Decrypt(m_hSession, pEncryptedData, ulEncryptedDataLength, NULL_PTR, &ulDecryptedDataLength))); \
    const CK_ULONG ulDecryptedRoom = ulDecryptedDataLength;                                    \
    pDecryptedData = new CK_BYTE[ulDecryptedRoom]();                                           \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_Decrypt(m_hSession, pEncryptedData, ulEncryptedDataLength, pDecryptedData, &ulDecryptedDataLength))); \
    ASSERT_LE(ulDecryptedDataLength, ulDecryptedRoom) << "more plaintext than the length query gave"

#define SINGLE_PART_ROUND_TRIP(pInput, ulInputLength, keyHandle)                                \
    SINGLE_PART_ENCRYPT_DECRYPT(pInput, ulInputLength, keyHandle);                             \
    ASSERT_EQ(ulInputLength, ulDecryptedDataLength);                                           \
    ASSERT_EQ(0, memcmp(pInput, pDecryptedData, sizeof(CK_BYTE)*(ulDecryptedDataLength)))

// Reads the data file into pData/ulDataLength, checked as an equality with CKR_OK, and
// puts its copy padded with zeros to whole 4096-byte units in pPlainData/ulPlainDataLength;
// the file as read is released once copied.
#define READ_AES_ECB_PADDED_DATA()                                                             \
    CK_BYTE_PTR pData = NULL_PTR;                                                              \
    CK_ULONG ulDataLength = 0;                                                                 \
    NewArrayGuard data(pData);                                                                 \
    ASSERT_EQ(CKR_OK, ReadBinaryFile(&pData, &ulDataLength, g_DataFile));                      \
    CK_BYTE_PTR pPlainData = NewZeroPaddedCopy(pData, ulDataLength, AES_ECB_PADDING_UNIT);     \
    NewArrayGuard plainData(pPlainData);                                                       \
    CK_ULONG ulPlainDataLength = ZeroPaddedLength(ulDataLength, AES_ECB_PADDING_UNIT);         \
    data.Release()

// Round trips of the prepared data in one call each (ROUND_TRIP = SINGLE_PART_ROUND_TRIP)
// or through the shared chunked routines (CHUNKED_ROUND_TRIP).

// CBC over the data file cut down to whole key sizes of `UnitMechanism`'s record.
#define CBC_ROUND_TRIP_TEST(Fixture, TestName, ROUND_TRIP, Mechanism, keyHandle, UnitMechanism, SizeField) \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        READ_PLAIN_DATA();                                                                     \
        CUT_DOWN_TO_KEY_SIZE(UnitMechanism, SizeField, ulPlainDataLength);                     \
        ROUND_TRIP(pPlainData, ulPlainDataLength, keyHandle);                                  \
    }

// The whole data file as read (CBC with padding, CTR, GCM).
#define WHOLE_FILE_ROUND_TRIP_TEST(Fixture, TestName, ROUND_TRIP, Mechanism, keyHandle)        \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        READ_PLAIN_DATA();                                                                     \
        ROUND_TRIP(pPlainData, ulPlainDataLength, keyHandle);                                  \
    }

// AES ECB over the data file padded with zeros to whole 4096-byte units.
#define AES_ECB_ROUND_TRIP_TEST(Fixture, TestName, ROUND_TRIP, keyHandle)                      \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        USE_SYMMETRIC_MECHANISM(CKM_AES_ECB);                                              \
        READ_AES_ECB_PADDED_DATA();                                                            \
        ROUND_TRIP(pPlainData, ulPlainDataLength, keyHandle);                                  \
    }

// CAMELLIA and DES3 ECB over the data file padded with zeros to whole 256-byte units, in
// one call each.
#define ECB_SINGLE_PART_TEST(Fixture, TestName, Mechanism, keyHandle)                          \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        READ_PLAIN_DATA();                                                                     \
        CK_BYTE_PTR pPlainDataPadded = NewZeroPaddedCopy(pPlainData, ulPlainDataLength, CAMELLIA_DES3_ECB_PADDING_UNIT); \
        NewArrayGuard plainDataPadded(pPlainDataPadded);                                       \
        CK_ULONG ulPlainDataLengthPadded = ZeroPaddedLength(ulPlainDataLength, CAMELLIA_DES3_ECB_PADDING_UNIT); \
        SINGLE_PART_ENCRYPT_DECRYPT(pPlainDataPadded, ulPlainDataLengthPadded, keyHandle);     \
        ASSERT_EQ(ulDecryptedDataLength, ulPlainDataLengthPadded);                             \
        ASSERT_EQ(0, memcmp(pPlainDataPadded, pDecryptedData, sizeof(CK_BYTE)*(ulDecryptedDataLength))); \
    }

// Encrypts the input with ChunkedEncrypt, decrypts the result with ChunkedDecrypt under
// the same mechanism and key, and requires the input back.
#define CHUNKED_ROUND_TRIP(pInput, ulInputLength, keyHandle)                                   \
    DECLARE_ROUND_TRIP_BUFFERS();                                                          \
    ASSERT_TRUE(IsCkrOk( ChunkedEncrypt( m_hSession, &m_mechanism, keyHandle, pInput, ulInputLength, &ulEncryptedDataLength, &pEncryptedData))); \
    ASSERT_TRUE(IsCkrOk( ChunkedDecrypt( m_hSession, &m_mechanism, keyHandle, pEncryptedData, ulEncryptedDataLength, &ulDecryptedDataLength, &pDecryptedData))); \
    ASSERT_EQ(ulInputLength, ulDecryptedDataLength);                                           \
    ASSERT_EQ(0, memcmp(pInput, pDecryptedData, sizeof(CK_BYTE)*ulDecryptedDataLength))

// Part loops written out (CAMELLIA, DES3) ----------------------------------------------------

// One direction of a written-out multi-part operation: `Update` over the `ulInLength`
// bytes at `pIn` in parts of CHUNK_SIZE, then `Final`, all into the one buffer `pOut` of
// `ulRoom` bytes at the running output position; `ulOutLength` counts the bytes written.
// Every call is offered exactly the room left, and a call that reports more than that
// ends the test. CHECK is the form of the calls' checks.
#define WRITTEN_OUT_PART_LOOP(CHECK, Update, Final, pInPointer, pOutPointer, pIn, ulInLength, pOut, ulRoom, ulOutLength) \
    {                                                                                          \
        CK_BYTE_PTR pInPointer = pIn;                                                          \
        CK_BYTE_PTR pOutPointer = pOut;                                                        \
        for (CK_ULONG ulRest = ulInLength; ulRest > 0;) {                                      \
            const CK_ULONG ulInDataLen = ulRest < CHUNK_SIZE ? ulRest : CHUNK_SIZE;            \
            ulRest -= ulInDataLen;                                                             \
            const CK_ULONG ulOffered = ulRoom - ulOutLength;                                   \
            ulOutDataLen = ulOffered;                                                          \
            CHECK(m_pFList->Update( m_hSession, (CK_BYTE_PTR)pInPointer, ulInDataLen, (CK_BYTE_PTR)pOutPointer, &ulOutDataLen)); \
            ASSERT_LE(ulOutDataLen, ulOffered) << "the token reported more output than the room offered"; \
            pInPointer += ulInDataLen;                                                         \
            pOutPointer += ulOutDataLen;                                                       \
            ulOutLength += ulOutDataLen;                                                       \
        }                                                                                      \
        const CK_ULONG ulOffered = ulRoom - ulOutLength;                                       \
        ulOutDataLen = ulOffered;                                                              \
        CK_BYTE_PTR pOutData = pOut + ulOutLength;                                             \
        CHECK(m_pFList->Final(m_hSession, pOutData, &ulOutDataLen));                           \
        ASSERT_LE(ulOutDataLen, ulOffered) << "the token reported more output than the room offered"; \
        ulOutLength += ulOutDataLen;                                                           \
    }

// Encrypts pPlainData (ulPlainDataLength bytes) into a buffer 256 bytes longer and
// decrypts the ciphertext into a buffer of its length, each direction with the part loop
// written out, and requires the plaintext back.
#define WRITTEN_OUT_ROUND_TRIP(CHECK, keyHandle)                                               \
    ASSERT_FUNCTION_LIST();                                                                    \
    const CK_ULONG ulEncryptedRoom = ulPlainDataLength + 256;                                  \
    CK_BYTE_PTR pEncryptedData = new CK_BYTE[ulEncryptedRoom]();                               \
    NewArrayGuard encryptedData(pEncryptedData);                                               \
    ASSERT_TRUE(NULL_PTR != pEncryptedData);                                                   \
    CK_ULONG ulEncryptedDataLength = 0;                                                        \
    CK_ULONG ulOutDataLen = 0;                                                                 \
    CHECK(m_pFList->C_EncryptInit(m_hSession, &m_mechanism, keyHandle));                       \
    WRITTEN_OUT_PART_LOOP(CHECK, C_EncryptUpdate, C_EncryptFinal, pPlainTextPointer, pEncryptedDataPointer, pPlainData, ulPlainDataLength, pEncryptedData, ulEncryptedRoom, ulEncryptedDataLength); \
    CK_BYTE_PTR pDecryptedData = new CK_BYTE[ulEncryptedDataLength]();                         \
    NewArrayGuard decryptedData(pDecryptedData);                                               \
    ASSERT_TRUE(NULL_PTR != pDecryptedData);                                                   \
    CK_ULONG ulDecryptedDataLength = 0;                                                        \
    CHECK(m_pFList->C_DecryptInit(m_hSession, &m_mechanism, keyHandle));                       \
    WRITTEN_OUT_PART_LOOP(CHECK, C_DecryptUpdate, C_DecryptFinal, pCipheredTextPointer, pDecryptedDataPointer, pEncryptedData, ulEncryptedDataLength, pDecryptedData, ulEncryptedDataLength, ulDecryptedDataLength); \
    ASSERT_EQ(ulPlainDataLength, ulDecryptedDataLength);                                       \
    ASSERT_EQ(0, memcmp(pPlainData, pDecryptedData, sizeof(CK_BYTE)*(ulDecryptedDataLength)))

// CAMELLIA CBC over the data file cut down to whole key sizes of CKM_CAMELLIA_KEY_GEN.
#define CAMELLIA_CBC_WRITTEN_OUT_TEST(Fixture, TestName, keyHandle, SizeField)                 \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        USE_SYMMETRIC_MECHANISM(CKM_CAMELLIA_CBC);                                         \
        CK_BYTE_PTR pPlainData = NULL_PTR;                                                     \
        CK_ULONG ulPlainDataLength = 0;                                                        \
        NewArrayGuard plainData(pPlainData);                                                   \
        ASSERT_OK_EQUALITY(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile));       \
        CUT_DOWN_TO_KEY_SIZE(CKM_CAMELLIA_KEY_GEN, SizeField, ulPlainDataLength);              \
        WRITTEN_OUT_ROUND_TRIP(ASSERT_OK_EQUALITY, keyHandle);                                 \
    }

// CAMELLIA or DES3 ECB over the data file padded with zeros to whole 256-byte units; the
// padded copy takes the place of the file as read. READ_CHECK and CHECK are the forms of
// the data-file check and of the token-call checks.
#define ECB_WRITTEN_OUT_TEST(Fixture, TestName, Mechanism, keyHandle, READ_CHECK, CHECK)       \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        CK_BYTE_PTR pPlainData = NULL_PTR;                                                     \
        CK_ULONG ulPlainDataLength = 0;                                                        \
        NewArrayGuard plainData(pPlainData);                                                   \
        READ_CHECK(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile));               \
        CK_BYTE_PTR pPlainDataPadded = NewZeroPaddedCopy(pPlainData, ulPlainDataLength, CAMELLIA_DES3_ECB_PADDING_UNIT); \
        ASSERT_TRUE(pPlainDataPadded != nullptr);                                              \
        plainData.Release();                                                                   \
        pPlainData = pPlainDataPadded;                                                         \
        ulPlainDataLength = ZeroPaddedLength(ulPlainDataLength, CAMELLIA_DES3_ECB_PADDING_UNIT); \
        WRITTEN_OUT_ROUND_TRIP(CHECK, keyHandle);                                              \
    }

// MACs --------------------------------------------------------------------------------------

// Signs the whole data file with m_mechanism and verifies the MAC, one key for both.
#define MAC_TEST(Fixture, TestName, Mechanism, keyHandle)                                      \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        CK_BYTE_PTR pSignedData = NULL_PTR;                                                    \
        CK_ULONG ulSigLen = 0;                                                                 \
        NewArrayGuard signedData(pSignedData);                                                 \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        READ_PLAIN_DATA();                                                                     \
        ASSERT_TRUE(IsCkrOk( SignVerifySinglePart( m_hSession, &m_mechanism, keyHandle, keyHandle, pPlainData, ulPlainDataLength, &pSignedData, ulSigLen))); \
    }

// AES key wrapping ----------------------------------------------------------------------------

// Wraps `wrappedKey` under `wrappingKey` with CKM_AES_KEY_WRAP and unwraps the result into
// a new token AES key of the wrapped key's size (`SizeField` of CKM_AES_KEY_GEN's record),
// whose handle goes to `unwrappedHandle`.
#define WRAP_ROUND_TRIP_TEST(Fixture, TestName, wrappingKey, wrappedKey, unwrappedHandle, SizeField) \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        CK_ULONG ulOutputLen = 0;                                                              \
        m_mechanism = {CKM_AES_KEY_WRAP, NULL_PTR, 0};                                         \
        ASSERT_EQ(CKR_OK, m_pFList->C_WrapKey(m_hSession, &m_mechanism, wrappingKey, wrappedKey, nullptr, &ulOutputLen)); \
        const CK_ULONG ulOutputRoom = ulOutputLen;                                             \
        CK_BYTE_PTR outputBuffer = new CK_BYTE[ulOutputRoom]();                                \
        NewArrayGuard output(outputBuffer);                                                    \
        ASSERT_EQ(CKR_OK, m_pFList->C_WrapKey(m_hSession, &m_mechanism, wrappingKey, wrappedKey, outputBuffer, &ulOutputLen)); \
        ASSERT_LE(ulOutputLen, ulOutputRoom) << "a longer wrapped key than the length query gave"; \
        FILL_SECRET_KEY_TEMPLATE(CKM_AES_KEY_GEN, SizeField, m_aesKey);                        \
        ASSERT_EQ(CKR_OK, m_pFList->C_UnwrapKey( m_hSession, &m_mechanism, wrappingKey, outputBuffer, ulOutputLen, m_secretKeyKeyGenAttributes, (sizeof(m_secretKeyKeyGenAttributes)/sizeof(CK_ATTRIBUTE)) - 1, &unwrappedHandle)); \
    }

// Asks for the length of `wrappedKey` wrapped under `wrappingKey` with
// CKM_AES_KEY_WRAP_PAD; the length itself is not looked at.
#define WRAP_PAD_LENGTH_TEST(Fixture, TestName, wrappingKey, wrappedKey)                       \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        CK_ULONG ulOutputLen = 0;                                                              \
        m_mechanism = {CKM_AES_KEY_WRAP_PAD, NULL_PTR, 0};                                     \
        EXPECT_EQ(CKR_OK, m_pFList->C_WrapKey(m_hSession, &m_mechanism, wrappingKey, wrappedKey, nullptr, &ulOutputLen)); \
    }

// Mechanisms the token must refuse ----------------------------------------------------------

// Ends an encryption that a wrongly accepted C_EncryptInit started, so that it does not
// block the case's later tests; the answer is not looked at.
inline void EndEncryptionStartedByMistake()
{
    CK_BYTE finalBlock[64];
    CK_ULONG ulFinalLength = sizeof(finalBlock);
    libC_GTest_P11::m_pFList->C_EncryptFinal(libC_GTest_P11::m_hSession, finalBlock, &ulFinalLength);
}

// C_EncryptInit with `Mechanism` must answer CKR_MECHANISM_INVALID, whatever the key.
#define ENCRYPT_INIT_REFUSAL_TEST(Fixture, TestName, Mechanism, keyHandle)                     \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        EXPECT_EQ(CKR_MECHANISM_INVALID, m_pFList->C_EncryptInit(m_hSession, &m_mechanism, keyHandle)); \
        if (HasFailure())                                                                      \
            EndEncryptionStartedByMistake();                                                   \
    }

// A C_WrapKey length query with `Mechanism` must answer CKR_MECHANISM_INVALID.
#define WRAP_REFUSAL_TEST(Fixture, TestName, Mechanism, wrappingKey, wrappedKey)               \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        USE_SYMMETRIC_MECHANISM(Mechanism);                                                \
        CK_ULONG ulOutputLen = 0;                                                              \
        EXPECT_EQ(CKR_MECHANISM_INVALID, m_pFList->C_WrapKey(m_hSession, &m_mechanism, wrappingKey, wrappedKey, nullptr, &ulOutputLen)); \
    }
