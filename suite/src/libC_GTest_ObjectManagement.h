// Test case libC_GTest_ObjectManagement: objects of every kind created from complete
// templates, the attribute rules the token keeps for them, finding them again, and what a
// read-only session may do with them. The objects come from the fixed values of
// ObjectTestValues.h. CheckROSession replaces the fixture session, and the logout of
// CreatePublicKeyInROSession ends the user's login, so CleanupPartition runs without it.
#pragma once

#include <cstring>

#include "ObjectTestValues.h"
#include "libC_GTest_Fixture.h"

// Creation steps of the first four tests, on the locals `tmpl` and `objectHandle`, every
// check non-fatal.
#define OBJECTS_EXPECT_CREATED()                                                               \
    objectHandle = CK_INVALID_HANDLE;                                                          \
    EXPECT_TRUE(IsCkrOk(m_pFList->C_CreateObject(m_hSession, tmpl, sizeof(tmpl)/sizeof(CK_ATTRIBUTE), &objectHandle))); \
    EXPECT_TRUE(objectHandle != CK_INVALID_HANDLE)

#define OBJECTS_EXPECT_DESTROYED()                                                             \
    EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandle)))

// A Diffie-Hellman key of the creation tests, public or private: the same ten entries,
// with CKA_SENSITIVE, CKA_DECRYPT and CKA_SIGN, created and destroyed.
#define OBJECTS_EXPECT_DH_KEY(keyClass, label)                                                 \
    {                                                                                          \
        CK_KEY_TYPE keyType = CKK_DH;                                                          \
        CK_ATTRIBUTE tmpl[] = {                                                                \
            ULONG_ENTRY(CKA_CLASS, keyClass),                                                  \
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),                                                \
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),                                                    \
            TEXT_ENTRY(CKA_LABEL, label),                                                      \
            BOOL_ENTRY(CKA_SENSITIVE, m_bTrue),                                                \
            BOOL_ENTRY(CKA_DECRYPT, m_bTrue),                                                  \
            BOOL_ENTRY(CKA_SIGN, m_bTrue),                                                     \
            BYTES_ENTRY(CKA_PRIME, TestValues::dsaPrime),                                      \
            BYTES_ENTRY(CKA_BASE, TestValues::dsaBase),                                        \
            BYTES_ENTRY(CKA_VALUE, TestValues::dsaKeyValue),                                   \
        };                                                                                     \
        OBJECTS_EXPECT_CREATED();                                                              \
        OBJECTS_EXPECT_DESTROYED();                                                            \
    }

TEST_F(libC_GTest_ObjectManagement, CreationCertificate)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    // No CKA_CERTIFICATE_TYPE.
    CK_ATTRIBUTE tmpl[] = {
        ULONG_ENTRY(CKA_CLASS, certificateClass),
        TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-CERTIFICATE3"),
        BYTES_ENTRY(CKA_VALUE, TestValues::certificateValue),
    };
    CK_OBJECT_HANDLE objectHandle;
    OBJECTS_EXPECT_CREATED();
    OBJECTS_EXPECT_DESTROYED();
}

TEST_F(libC_GTest_ObjectManagement, CreationSecretKeys)
{
    ASSERT_FUNCTION_LIST();
    struct SecretKey {
        CK_KEY_TYPE keyType;
        const char* label;
        CK_BYTE_PTR value;
        CK_ULONG valueLength;
    };
    const SecretKey keys[] = {
        {CKK_AES, "libC_GTest_ObjectManagement-CKK_AES", TestValues::secretKeyValue, 16},
        {CKK_CAMELLIA, "libC_GTest_ObjectManagement-CKK_CAMELLIA", TestValues::secretKeyValue, 16},
        {CKK_DES3, "libC_GTest_ObjectManagement-CKK_DES3", TestValues::des3KeyValue, 24},
    };
    CK_OBJECT_CLASS secretKeyClass = CKO_SECRET_KEY;
    for (const SecretKey& key : keys) {
        SCOPED_TRACE(key.label);
        CK_KEY_TYPE keyType = key.keyType;
        CK_ATTRIBUTE tmpl[] = {
            ULONG_ENTRY(CKA_CLASS, secretKeyClass),
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),
            {CKA_LABEL, const_cast<char*>(key.label), std::strlen(key.label)},
            BOOL_ENTRY(CKA_DERIVE, m_bTrue),
            {CKA_VALUE, key.value, key.valueLength},
        };
        CK_OBJECT_HANDLE objectHandle;
        OBJECTS_EXPECT_CREATED();
        OBJECTS_EXPECT_DESTROYED();
    }
}

TEST_F(libC_GTest_ObjectManagement, CreationPublicKeys)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_CLASS publicKeyClass = CKO_PUBLIC_KEY;
    CK_OBJECT_HANDLE objectHandle;
    {
        CK_KEY_TYPE keyType = CKK_RSA;
        CK_ATTRIBUTE tmpl[] = {
            ULONG_ENTRY(CKA_CLASS, publicKeyClass),
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),
            TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-RSA-public"),
            BOOL_ENTRY(CKA_WRAP, m_bTrue),
            BOOL_ENTRY(CKA_ENCRYPT, m_bTrue),
            BYTES_ENTRY(CKA_MODULUS, TestValues::rsaPublicModulus129),
            BYTES_ENTRY(CKA_PUBLIC_EXPONENT, m_rsaPublicExponent),
        };
        OBJECTS_EXPECT_CREATED();
        OBJECTS_EXPECT_DESTROYED();
    }
    // The DSA and Diffie-Hellman public keys also state CKA_SENSITIVE, CKA_DECRYPT and
    // CKA_SIGN.
    {
        CK_KEY_TYPE keyType = CKK_DSA;
        CK_ATTRIBUTE tmpl[] = {
            ULONG_ENTRY(CKA_CLASS, publicKeyClass),
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),
            TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-DSA-public"),
            BOOL_ENTRY(CKA_SENSITIVE, m_bTrue),
            BOOL_ENTRY(CKA_DECRYPT, m_bTrue),
            BOOL_ENTRY(CKA_SIGN, m_bTrue),
            BYTES_ENTRY(CKA_PRIME, TestValues::dsaPrime),
            BYTES_ENTRY(CKA_SUBPRIME, TestValues::dsaSubprime),
            BYTES_ENTRY(CKA_BASE, TestValues::dsaBase),
            BYTES_ENTRY(CKA_VALUE, TestValues::dsaKeyValue),
        };
        OBJECTS_EXPECT_CREATED();
        OBJECTS_EXPECT_DESTROYED();
    }
    OBJECTS_EXPECT_DH_KEY(publicKeyClass, "libC_GTest_ObjectManagement-DH-public");
}

TEST_F(libC_GTest_ObjectManagement, CreationPrivateKeys)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_CLASS privateKeyClass = CKO_PRIVATE_KEY;
    CK_OBJECT_HANDLE objectHandle;
    // The RSA and DSA keys are read back and destroyed only with a valid handle.
    {
        CK_KEY_TYPE keyType = CKK_RSA;
        CK_ATTRIBUTE tmpl[] = {
            ULONG_ENTRY(CKA_CLASS, privateKeyClass),
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),
            TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-RSA-private"),
            BOOL_ENTRY(CKA_SENSITIVE, m_bTrue),
            BOOL_ENTRY(CKA_DECRYPT, m_bTrue),
            BOOL_ENTRY(CKA_SIGN, m_bTrue),
            RSA_TEST_KEY_ENTRIES,
        };
        OBJECTS_EXPECT_CREATED();
        if (objectHandle != CK_INVALID_HANDLE) {
            CK_OBJECT_CLASS classOut = 0;
            CK_BBOOL tokenOut = CK_FALSE, sensitiveOut = CK_FALSE, extractableOut = CK_FALSE;
            CK_ATTRIBUTE tmplOut[] = {
                ULONG_ENTRY(CKA_CLASS, classOut),
                BOOL_ENTRY(CKA_TOKEN, tokenOut),
                BOOL_ENTRY(CKA_SENSITIVE, sensitiveOut),
                BOOL_ENTRY(CKA_EXTRACTABLE, extractableOut),
            };
            const CK_ULONG ulTmplOut = 4;
            EXPECT_TRUE(IsCkrOk(m_pFList->C_GetAttributeValue(m_hSession, objectHandle, tmplOut, ulTmplOut)));
            OBJECTS_EXPECT_DESTROYED();
        }
    }
    // A session object: no CKA_TOKEN.
    {
        CK_KEY_TYPE keyType = CKK_DSA;
        CK_ATTRIBUTE tmpl[] = {
            ULONG_ENTRY(CKA_CLASS, privateKeyClass),
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),
            TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-DSA-private"),
            BYTES_ENTRY(CKA_PRIME, TestValues::dsaPrime),
            BYTES_ENTRY(CKA_SUBPRIME, TestValues::dsaSubprime),
            BYTES_ENTRY(CKA_BASE, TestValues::dsaBase),
            BYTES_ENTRY(CKA_VALUE, TestValues::dsaKeyValue),
        };
        OBJECTS_EXPECT_CREATED();
        if (objectHandle != CK_INVALID_HANDLE) {
            OBJECTS_EXPECT_DESTROYED();
        }
    }
    OBJECTS_EXPECT_DH_KEY(privateKeyClass, "libC_GTest_ObjectManagement-DH-private");
}

TEST_F(libC_GTest_ObjectManagement, CreationObjectData)
{
    ASSERT_FUNCTION_LIST();
    char label[] = "libC_GTest_ObjectManagement-CreationObjectData";
    CK_ATTRIBUTE tmpl[] = DATA_OBJECT_TEMPLATE(label, m_bTrue);
    const CK_ULONG ulTmpl = 11;
    CK_OBJECT_HANDLE objectHandle = CK_INVALID_HANDLE;
    ASSERT_TRUE(IsCkrOk(m_pFList->C_CreateObject(m_hSession, tmpl, ulTmpl , &objectHandle)));
    ASSERT_TRUE(objectHandle != CK_INVALID_HANDLE);
    ASSERT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandle)));
}

TEST_F(libC_GTest_ObjectManagement, CheckObjectDataAttributes)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE tmpl[] = {
        ULONG_ENTRY(CKA_CLASS, dataClass),
        TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-CheckObjectDataAttributes"),
        TEXT_ENTRY(CKA_APPLICATION, "GTest"),
        TEXT_Z_ENTRY(CKA_VALUE, "Gtest Data"),
        BYTES_ENTRY(CKA_OBJECT_ID, TestValues::dataObjectId),
        BOOL_ENTRY(CKA_TOKEN, m_bTrue),
        BOOL_ENTRY(CKA_PRIVATE, m_bTrue),
        BOOL_ENTRY(CKA_MODIFIABLE, m_bTrue),
        BOOL_ENTRY(CKA_COPYABLE, m_bTrue),
        BOOL_ENTRY(CKA_DESTROYABLE, m_bTrue),
    };
    const CK_ULONG ulTmpl = 10;
    CK_OBJECT_HANDLE objectHandle = CK_INVALID_HANDLE;
    ASSERT_TRUE(IsCkr(CKR_OK, m_pFList->C_CreateObject(m_hSession, tmpl, ulTmpl , &objectHandle)));
    ASSERT_TRUE(objectHandle != CK_INVALID_HANDLE);

    // Read buffers at least as long as the values written, holding other contents.
    CK_OBJECT_CLASS classOut = 0x63;
    char labelOut[58];
    std::memset(labelOut, 'x', sizeof(labelOut) - 5);
    std::memset(labelOut + sizeof(labelOut) - 5, 'y', 5);
    char applicationOut[] = {'x', 'x', 'x', 'x', 'x', 'y', 'y', 'y', 'y'};
    char valueOut[] = "xxxxx xxxxyyyy";
    CK_BYTE objectIdOut[] = {0x00, 0x00, 0x00, 0x00, 0xff, 0xff};
    CK_BBOOL tokenOut = CK_FALSE, privateOut = CK_FALSE, modifiableOut = CK_FALSE;
    CK_BBOOL copyableOut = CK_FALSE, destroyableOut = CK_FALSE;
    CK_ATTRIBUTE tmplOut[] = {
        ULONG_ENTRY(CKA_CLASS, classOut),
        BYTES_ENTRY(CKA_LABEL, labelOut),
        BYTES_ENTRY(CKA_APPLICATION, applicationOut),
        BYTES_ENTRY(CKA_VALUE, valueOut),
        BYTES_ENTRY(CKA_OBJECT_ID, objectIdOut),
        BOOL_ENTRY(CKA_TOKEN, tokenOut),
        BOOL_ENTRY(CKA_PRIVATE, privateOut),
        BOOL_ENTRY(CKA_MODIFIABLE, modifiableOut),
        BOOL_ENTRY(CKA_COPYABLE, copyableOut),
        BOOL_ENTRY(CKA_DESTROYABLE, destroyableOut),
    };
    const CK_ULONG ulTmplOut = 10;
    EXPECT_TRUE(IsCkrOk(m_pFList->C_GetAttributeValue(m_hSession, objectHandle, tmplOut, ulTmplOut)));
    for (CK_ULONG iAtt = 0; iAtt < ulTmpl; ++iAtt) {
        EXPECT_TRUE(tmplOut[iAtt].ulValueLen == tmpl[iAtt].ulValueLen);
        EXPECT_TRUE(0 == memcmp(tmplOut[iAtt].pValue, tmpl[iAtt].pValue, tmpl[iAtt].ulValueLen));
    }

    // Clearing CKA_PRIVATE, then CKA_DESTROYABLE, is answered CKR_OK and changes nothing.
    CK_BBOOL valueGet = CK_FALSE;
    CK_ATTRIBUTE tmplSet[] = {BOOL_ENTRY(CKA_PRIVATE, m_bFalse)};
    CK_ATTRIBUTE tmplGet[] = {BOOL_ENTRY(CKA_PRIVATE, valueGet)};
    for (const CK_ATTRIBUTE_TYPE type : {CKA_PRIVATE, CKA_DESTROYABLE}) {
        SCOPED_TRACE(type == CKA_PRIVATE ? "CKA_PRIVATE" : "CKA_DESTROYABLE");
        tmplSet[0].type = type;
        tmplGet[0].type = type;
        EXPECT_TRUE(IsCkrOk(m_pFList->C_SetAttributeValue(m_hSession, objectHandle, tmplSet, 1)));
        EXPECT_TRUE(IsCkrOk(m_pFList->C_GetAttributeValue(m_hSession, objectHandle, tmplGet, 1)));
        EXPECT_TRUE(tmplGet[0].ulValueLen == tmplSet[0].ulValueLen);
        EXPECT_TRUE(0 != memcmp(tmplGet[0].pValue, tmplSet[0].pValue, tmplSet[0].ulValueLen));
    }
    ASSERT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandle)));
}

namespace {

// One search of at most `maxCount` handles into `handles`, which must find exactly one
// object; every step is a non-fatal check. The count found is left in `ulObjectCount`.
void ExpectOneFound(CK_SESSION_HANDLE session, CK_ATTRIBUTE* searchTemplate,
                    CK_ULONG templateCount, CK_OBJECT_HANDLE* handles, CK_ULONG maxCount,
                    CK_ULONG& ulObjectCount)
{
    CK_FUNCTION_LIST_PTR functions = libC_GTest_P11::m_pFList;
    ulObjectCount = 0;
    CK_RV rv = functions->C_FindObjectsInit(session, searchTemplate, templateCount);
    EXPECT_TRUE(IsCkrOk(rv));
    rv = functions->C_FindObjects(session, handles, maxCount, &ulObjectCount);
    EXPECT_TRUE(IsCkrOk(rv));
    EXPECT_EQ(1UL, ulObjectCount);
    rv = functions->C_FindObjectsFinal(session);
    EXPECT_TRUE(IsCkrOk(rv));
}

// Reads one attribute of the object into `attributes` with GetAttributeValuesWithAllocation
// (the caller frees it): true when the read answers CKR_OK with the expected length and,
// only then compared, the expected bytes.
bool ReadBackMatches(CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE* attributes,
                     CK_ATTRIBUTE_TYPE type, const void* expected, CK_ULONG length)
{
    attributes[0] = {type, NULL_PTR, 0};
    const CK_RV rv = libC_GTest_P11::GetAttributeValuesWithAllocation(
        libC_GTest_P11::m_hSession, objectHandle, attributes, 1);
    return rv == CKR_OK && attributes[0].ulValueLen == length &&
           std::memcmp(attributes[0].pValue, expected, length) == 0;
}

} // namespace

// Four AES token keys that differ in the first byte of their CKA_ID, the last character of
// their label and the eleventh byte of their value; one search on the class and the entry
// given (on the ID or the label of the last key) must find exactly one. Every check is
// non-fatal, so the keys are always destroyed.
#define FIND_ONE_OF_FOUR_KEYS_TEST(TestName, ...)                                              \
    TEST_F(libC_GTest_ObjectManagement, TestName)                                              \
    {                                                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        CK_OBJECT_CLASS secretKeyClass = CKO_SECRET_KEY;                                       \
        CK_KEY_TYPE keyType = CKK_AES;                                                         \
        CK_BYTE id[] = {0x00, 0x02, 0x03};                                                     \
        char label[] = "libC_GTest_ObjectManagement-CKK_AES 0";                                \
        CK_BYTE value[sizeof(TestValues::secretKeyValue)];                                     \
        std::memcpy(value, TestValues::secretKeyValue, sizeof(value));                         \
        CK_ATTRIBUTE tmpl[] = {                                                                \
            ULONG_ENTRY(CKA_CLASS, secretKeyClass),                                            \
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),                                                \
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),                                                    \
            BOOL_ENTRY(CKA_MODIFIABLE, m_bTrue),                                               \
            BYTES_ENTRY(CKA_ID, id),                                                           \
            {CKA_LABEL, label, sizeof(label) - 1},                                             \
            BOOL_ENTRY(CKA_DERIVE, m_bFalse),                                                  \
            BYTES_ENTRY(CKA_VALUE, value),                                                     \
        };                                                                                     \
        CK_OBJECT_HANDLE objectHandles[4];                                                     \
        for (CK_ULONG i = 0; i < 4; ++i) {                                                     \
            id[0] = static_cast<CK_BYTE>(i);                                                   \
            label[sizeof(label) - 2] = static_cast<char>('0' + i);                             \
            value[10] = static_cast<CK_BYTE>(i);                                               \
            objectHandles[i] = 0;                                                              \
            EXPECT_TRUE(IsCkrOk(m_pFList->C_CreateObject(m_hSession, tmpl, sizeof(tmpl)/sizeof(CK_ATTRIBUTE), &objectHandles[i]))); \
            EXPECT_TRUE(objectHandles[i] != CK_INVALID_HANDLE);                                \
        }                                                                                      \
                                                                                               \
        CK_ATTRIBUTE searchTemplate[] = {ULONG_ENTRY(CKA_CLASS, secretKeyClass), __VA_ARGS__}; \
        CK_OBJECT_HANDLE foundHandles[4] = {};                                                 \
        CK_ULONG ulObjectCount = 0;                                                            \
        ExpectOneFound(m_hSession, searchTemplate, 2, foundHandles, 4, ulObjectCount);         \
        for (CK_ULONG i = 0; i < 4; ++i) {                                                     \
            if (objectHandles[i] != 0) {                                                       \
                EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandles[i]))); \
            }                                                                                  \
        }                                                                                      \
    }

FIND_ONE_OF_FOUR_KEYS_TEST(FindById, BYTES_ENTRY(CKA_ID, id))
FIND_ONE_OF_FOUR_KEYS_TEST(FindFastLane, {CKA_LABEL, label, sizeof(label) - 1})

// An RSA private key made of the test key's components, non-sensitive or sensitive: its
// attributes read back one at a time match what was written (a sensitive key refuses its
// private exponent), and CKA_SENSITIVE cannot be flipped either way.
#define MANDATORY_RSA_PRIVATE_KEY_TEST(TestName, sensitiveFlag)                                \
    TEST_F(libC_GTest_ObjectManagement, TestName)                                              \
    {                                                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        const bool sensitive = (sensitiveFlag) == CK_TRUE;                                     \
        CK_OBJECT_CLASS privateKeyClass = CKO_PRIVATE_KEY;                                     \
        CK_KEY_TYPE keyType = CKK_RSA;                                                         \
        CK_ATTRIBUTE tmpl[] = {                                                                \
            ULONG_ENTRY(CKA_CLASS, privateKeyClass),                                           \
            ULONG_ENTRY(CKA_KEY_TYPE, keyType),                                                \
            BOOL_ENTRY(CKA_TOKEN, m_bTrue),                                                    \
            TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-RSA-private"),                  \
            BOOL_ENTRY(CKA_EXTRACTABLE, m_bTrue),                                              \
            BOOL_ENTRY(CKA_SENSITIVE, sensitiveFlag),                                          \
            BOOL_ENTRY(CKA_DECRYPT, m_bTrue),                                                  \
            BOOL_ENTRY(CKA_SIGN, m_bTrue),                                                     \
            RSA_TEST_KEY_ENTRIES,                                                              \
        };                                                                                     \
        CK_OBJECT_HANDLE objectHandle = CK_INVALID_HANDLE;                                     \
        ASSERT_TRUE(IsCkrOk(m_pFList->C_CreateObject(m_hSession, tmpl, sizeof(tmpl)/sizeof(CK_ATTRIBUTE), &objectHandle))); \
        ASSERT_TRUE(objectHandle != CK_INVALID_HANDLE);                                        \
                                                                                               \
        CK_ATTRIBUTE attributes[1];                                                            \
        const bool sensitiveMatch = ReadBackMatches(objectHandle, attributes, CKA_SENSITIVE, &(sensitiveFlag), 1); \
        EXPECT_TRUE(sensitiveMatch);                                                           \
        EXPECT_TRUE(IsCkrOk(FreeAllocatedAttributes(attributes, 1)));                          \
        const bool modulusMatch = ReadBackMatches(objectHandle, attributes, CKA_MODULUS, TestValues::rsaModulus, 128); \
        EXPECT_TRUE(modulusMatch);                                                             \
        EXPECT_TRUE(IsCkrOk(FreeAllocatedAttributes(attributes, 1)));                          \
        const bool publicExponentMatch = ReadBackMatches(objectHandle, attributes, CKA_PUBLIC_EXPONENT, m_rsaPublicExponent, 3); \
        EXPECT_TRUE(publicExponentMatch);                                                      \
        EXPECT_TRUE(IsCkrOk(FreeAllocatedAttributes(attributes, 1)));                          \
        if (sensitive) {                                                                       \
            CK_RV rv;                                                                          \
            attributes[0] = {CKA_PRIVATE_EXPONENT, NULL_PTR, 0};                               \
            EXPECT_TRUE(IsCkr(CKR_ATTRIBUTE_SENSITIVE, rv = GetAttributeValuesWithAllocation(m_hSession, objectHandle, attributes, 1))); \
        } else {                                                                               \
            const bool privateExponentMatch = ReadBackMatches(objectHandle, attributes, CKA_PRIVATE_EXPONENT, TestValues::rsaPrivateExponent, 128); \
            EXPECT_TRUE(privateExponentMatch);                                                 \
        }                                                                                      \
        EXPECT_TRUE(IsCkrOk(FreeAllocatedAttributes(attributes, 1)));                          \
                                                                                               \
        attributes[0] = {CKA_SENSITIVE, sensitive ? &m_bFalse : &m_bTrue, 1};                  \
        EXPECT_TRUE(IsCkr(CKR_ACTION_PROHIBITED, m_pFList->C_SetAttributeValue(m_hSession, objectHandle, attributes, 1))); \
        EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, objectHandle)));             \
    }

MANDATORY_RSA_PRIVATE_KEY_TEST(CheckMandatoryRSAPrivateKeyAttributes, m_bFalse)
MANDATORY_RSA_PRIVATE_KEY_TEST(CheckMandatoryRSASensitivePrivateKeyAttributes, m_bTrue)

TEST_F(libC_GTest_ObjectManagement, RetrieveCertificate)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_BBOOL isToken = CK_TRUE;
    CK_BBOOL isPrivate = CK_FALSE;
    CK_CERTIFICATE_TYPE certificateType = CKC_X_509;
    CK_DATE startDate = {{'2', '0', '1', '7'}, {'0', '6'}, {'0', '6'}};
    CK_DATE endDate = {{'2', '0', '1', '8'}, {'0', '5'}, {'0', '8'}};
    CK_ATTRIBUTE certTemplate[] = {
        ULONG_ENTRY(CKA_CLASS, certificateClass),
        BOOL_ENTRY(CKA_TOKEN, isToken),
        BOOL_ENTRY(CKA_PRIVATE, isPrivate),
        TEXT_Z_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-CHECKCERT"),
        ULONG_ENTRY(CKA_CERTIFICATE_TYPE, certificateType),
        BYTES_ENTRY(CKA_SUBJECT, TestValues::certificateValue),
        BYTES_ENTRY(CKA_ISSUER, TestValues::certificateValue),
        TEXT_Z_ENTRY(CKA_ID, "libC_GTest_ObjectManagement-DUMMYCERT-ID"),
        BYTES_ENTRY(CKA_VALUE, TestValues::certificateValue),
        {CKA_START_DATE, &startDate, sizeof(startDate)},
        {CKA_END_DATE, &endDate, sizeof(endDate)},
    };
    CK_OBJECT_HANDLE certificateHandle = 0;
    ASSERT_TRUE(IsCkrOk(m_pFList->C_CreateObject(m_hSession, certTemplate, sizeof(certTemplate)/sizeof(CK_ATTRIBUTE), &certificateHandle)));
    ASSERT_TRUE(certificateHandle != CK_INVALID_HANDLE);

    // Found by class alone: no other certificate may be visible.
    CK_ATTRIBUTE searchTemplate[] = {ULONG_ENTRY(CKA_CLASS, certificateClass)};
    CK_OBJECT_HANDLE foundHandles[10] = {};
    CK_ULONG ulObjectCount = 0;
    ExpectOneFound(m_hSession, searchTemplate, 1, foundHandles, 10, ulObjectCount);
    CK_ATTRIBUTE attributes[] = {
        {CKA_VALUE, NULL_PTR, 0},
        {CKA_ID, NULL_PTR, 0},
        {CKA_ISSUER, NULL_PTR, 0},
        {CKA_SUBJECT, NULL_PTR, 0},
    };
    // Read only when the search found something; the values are not compared.
    if (ulObjectCount >= 1)
        GetAttributeValuesWithAllocation(m_hSession, foundHandles[0], attributes, sizeof(attributes) / sizeof(CK_ATTRIBUTE));
    EXPECT_TRUE(IsCkrOk(FreeAllocatedAttributes(attributes, sizeof(attributes)/sizeof(CK_ATTRIBUTE))));
    EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, certificateHandle)));
}

TEST_F(libC_GTest_ObjectManagement, CheckROSession)
{
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_CLASS privateKeyClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    char label[] = "libC_GTest_ObjectManagement-CheckROSession";
    CK_ATTRIBUTE tmpl[] = {
        ULONG_ENTRY(CKA_CLASS, privateKeyClass),
        ULONG_ENTRY(CKA_KEY_TYPE, keyType),
        BOOL_ENTRY(CKA_TOKEN, m_bTrue),
        {CKA_LABEL, label, sizeof(label) - 1},
        BOOL_ENTRY(CKA_SENSITIVE, m_bFalse),
        BOOL_ENTRY(CKA_DECRYPT, m_bTrue),
        BOOL_ENTRY(CKA_SIGN, m_bTrue),
        RSA_TEST_KEY_ENTRIES,
    };
    CK_RV rv;
    CK_OBJECT_HANDLE objectHandle = 0;
    ASSERT_TRUE(IsCkrOk(rv = m_pFList->C_CreateObject(m_hSession, tmpl, sizeof(tmpl)/sizeof(CK_ATTRIBUTE), &objectHandle)));
    ASSERT_TRUE(objectHandle != CK_INVALID_HANDLE);

    // The session juggling is unchecked: a failure shows in the searches.
    m_pFList->C_Logout(m_hSession);
    m_pFList->C_CloseSession(m_hSession);
    CK_SESSION_HANDLE sessionRO = 0;
    m_pFList->C_OpenSession(0, CKF_SERIAL_SESSION, NULL_PTR, NULL_PTR, &sessionRO);
    LoginUser(m_pFList, sessionRO);

    CK_ATTRIBUTE searchTemplate[] = {
        ULONG_ENTRY(CKA_CLASS, privateKeyClass),
        {CKA_LABEL, label, sizeof(label) - 1},
    };
    CK_OBJECT_HANDLE foundHandle = CK_INVALID_HANDLE;
    CK_ULONG ulObjectCount = 0;
    ExpectOneFound(sessionRO, searchTemplate, 2, &foundHandle, 1, ulObjectCount);
    // A read-only session may not destroy a token object: the second search shows whether
    // the key survived.
    if (ulObjectCount >= 1)
        m_pFList->C_DestroyObject(sessionRO, foundHandle);
    m_pFList->C_Logout(sessionRO);
    m_pFList->C_CloseSession(sessionRO);

    m_pFList->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, NULL_PTR, NULL_PTR, &m_hSession);
    LoginUser(m_pFList, m_hSession);
    foundHandle = CK_INVALID_HANDLE;
    ExpectOneFound(m_hSession, searchTemplate, 2, &foundHandle, 1, ulObjectCount);
    // The key goes in any case: through the handle found, else through its own.
    m_pFList->C_DestroyObject(m_hSession, ulObjectCount >= 1 ? foundHandle : objectHandle);
}

TEST_F(libC_GTest_ObjectManagement, CreatePublicKeyInROSession)
{
    ASSERT_FUNCTION_LIST();
    // The user is logged in through the fixture session already: this login's answer
    // does not matter.
    CK_SESSION_HANDLE sessionRO = 0;
    m_pFList->C_OpenSession(0, CKF_SERIAL_SESSION, NULL_PTR, NULL_PTR, &sessionRO);
    LoginUser(m_pFList, sessionRO);

    // A session object may be created and destroyed in a read-only session.
    CK_OBJECT_CLASS publicKeyClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_ATTRIBUTE tmpl[] = {
        ULONG_ENTRY(CKA_CLASS, publicKeyClass),
        ULONG_ENTRY(CKA_KEY_TYPE, keyType),
        BOOL_ENTRY(CKA_TOKEN, m_bFalse),
        TEXT_ENTRY(CKA_LABEL, "libC_GTest_ObjectManagement-RSA-public-in-RO"),
        BOOL_ENTRY(CKA_WRAP, m_bTrue),
        BOOL_ENTRY(CKA_ENCRYPT, m_bTrue),
        BYTES_ENTRY(CKA_MODULUS, TestValues::rsaPublicModulus129),
        BYTES_ENTRY(CKA_PUBLIC_EXPONENT, m_rsaPublicExponent),
    };
    CK_OBJECT_HANDLE objectHandle = 0;
    EXPECT_TRUE(IsCkrOk(m_pFList->C_CreateObject(sessionRO, tmpl, sizeof(tmpl)/sizeof(CK_ATTRIBUTE), &objectHandle)));
    EXPECT_TRUE(objectHandle != CK_INVALID_HANDLE);
    EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(sessionRO, objectHandle)));

    // This logout ends the user's login for the fixture session too.
    m_pFList->C_Logout(sessionRO);
    m_pFList->C_CloseSession(sessionRO);
}

CLEANUP_PARTITION_TEST(libC_GTest_ObjectManagement, CleanupPartition)
