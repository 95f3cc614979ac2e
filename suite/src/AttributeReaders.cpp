// Reading object attributes back from the token with the two-call pattern, and the
// readers that exercise it on each kind of generated object.
#include <cstdlib>

#include "libC_GTest_Fixture.h"

void FreeAttributeValues(CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        std::free(attributes[i].pValue);
        attributes[i].pValue = NULL_PTR;
        attributes[i].ulValueLen = 0;
    }
}

CK_RV libC_GTest_P11::GetAttributeValuesWithAllocation(CK_SESSION_HANDLE sessionHandle,
                                                       CK_OBJECT_HANDLE object,
                                                       CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;

    // The lengths the query leaves in the list decide the allocation; its answer does not.
    m_pFList->C_GetAttributeValue(sessionHandle, object, attributes, count);
    for (CK_ULONG i = 0; i < count; ++i) {
        if (attributes[i].ulValueLen == CK_UNAVAILABLE_INFORMATION) {
            attributes[i].pValue = NULL_PTR;
            attributes[i].ulValueLen = 0;
        } else {
            attributes[i].pValue = std::malloc(attributes[i].ulValueLen);
        }
    }
    return m_pFList->C_GetAttributeValue(sessionHandle, object, attributes, count);
}

CK_RV libC_GTest_P11::FreeAllocatedAttributes(CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    FreeAttributeValues(attributes, count);
    return CKR_OK;
}

#define ZORVEL_ENTRY_COUNT(list) (sizeof(list) / sizeof(CK_ATTRIBUTE))

CK_RV libC_GTest_P11::ReadRSAPublicObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
{
    CK_ATTRIBUTE publicAttribute[] = {
        {CKA_MODULUS, NULL_PTR, 0},
        {CKA_MODULUS_BITS, NULL_PTR, 0},
        {CKA_PUBLIC_EXPONENT, NULL_PTR, 0},
        {CKA_VALUE, NULL_PTR, 0},
    };
    const CK_RV rv = GetAttributeValuesWithAllocation(session, key, publicAttribute,
                                                      ZORVEL_ENTRY_COUNT(publicAttribute));
    EXPECT_TRUE(IsCkrOk(rv));
    FreeAllocatedAttributes(publicAttribute, ZORVEL_ENTRY_COUNT(publicAttribute));
    return CKR_OK;
}

CK_RV libC_GTest_P11::ReadRSAPrivateObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
{
    CK_ATTRIBUTE privateAttribute[] = {
        {CKA_MODULUS, NULL_PTR, 0},     {CKA_PUBLIC_EXPONENT, NULL_PTR, 0},
        {CKA_PRIVATE_EXPONENT, NULL_PTR, 0}, {CKA_PRIME_1, NULL_PTR, 0},
        {CKA_PRIME_2, NULL_PTR, 0},     {CKA_EXPONENT_1, NULL_PTR, 0},
        {CKA_EXPONENT_2, NULL_PTR, 0},  {CKA_COEFFICIENT, NULL_PTR, 0},
        {CKA_VALUE, NULL_PTR, 0},
    };
    const CK_RV rv = GetAttributeValuesWithAllocation(session, key, privateAttribute,
                                                      ZORVEL_ENTRY_COUNT(privateAttribute));
    // Sensitive components may be withheld as a whole.
    EXPECT_TRUE((CKR_OK == rv) || (CKR_ATTRIBUTE_SENSITIVE == rv));
    FreeAllocatedAttributes(privateAttribute, ZORVEL_ENTRY_COUNT(privateAttribute));
    return CKR_OK;
}

// The read of one attribute list, checked non-fatally with IsCkrOk, and its release.
#define ZORVEL_EXPECT_LIST_READ_OK(handle, list)                                               \
    do {                                                                                       \
        EXPECT_TRUE(IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handle, list, sizeof(list) / sizeof(CK_ATTRIBUTE)))); \
        FreeAllocatedAttributes(list, ZORVEL_ENTRY_COUNT(list));                               \
    } while (0)

// The same, checked as an equality with CKR_OK.
#define ZORVEL_EXPECT_LIST_READ_EQ_OK(handle, list)                                            \
    do {                                                                                       \
        EXPECT_EQ(CKR_OK, GetAttributeValuesWithAllocation( sessionHandle, handle, list, sizeof(list) / sizeof(CK_ATTRIBUTE))); \
        FreeAllocatedAttributes(list, ZORVEL_ENTRY_COUNT(list));                               \
    } while (0)

CK_RV libC_GTest_P11::ReadDSADomainParameterObjects(CK_SESSION_HANDLE sessionHandle,
                                                    CK_OBJECT_HANDLE handleObject)
{
    CK_ATTRIBUTE publicAttribute[] = {
        {CKA_PRIME, NULL_PTR, 0},
        {CKA_SUBPRIME, NULL_PTR, 0},
        {CKA_BASE, NULL_PTR, 0},
        {CKA_PRIME_BITS, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_OK(handleObject, publicAttribute);
    return CKR_OK;
}

CK_RV libC_GTest_P11::ReadDSAKeyObjects(CK_SESSION_HANDLE sessionHandle,
                                        CK_OBJECT_HANDLE handlePublicKey,
                                        CK_OBJECT_HANDLE handlePrivateKey)
{
    CK_ATTRIBUTE publicAttribute[] = {
        {CKA_PRIME, NULL_PTR, 0},
        {CKA_SUBPRIME, NULL_PTR, 0},
        {CKA_BASE, NULL_PTR, 0},
        {CKA_VALUE, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_OK(handlePublicKey, publicAttribute);

    CK_ATTRIBUTE privateAttribute[] = {
        {CKA_PRIME, NULL_PTR, 0},
        {CKA_SUBPRIME, NULL_PTR, 0},
        {CKA_BASE, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_EQ_OK(handlePrivateKey, privateAttribute);
    return CKR_OK;
}

CK_RV libC_GTest_P11::ReadDHDomainParameterObjects(CK_SESSION_HANDLE sessionHandle,
                                                   CK_OBJECT_HANDLE handleObject)
{
    CK_ATTRIBUTE publicAttribute[] = {
        {CKA_PRIME, NULL_PTR, 0},
        {CKA_BASE, NULL_PTR, 0},
        {CKA_PRIME_BITS, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_OK(handleObject, publicAttribute);
    return CKR_OK;
}

CK_RV libC_GTest_P11::ReadDHKeyObjects(CK_SESSION_HANDLE sessionHandle,
                                       CK_OBJECT_HANDLE handlePublicKey,
                                       CK_OBJECT_HANDLE handlePrivateKey)
{
    CK_ATTRIBUTE publicAttribute[] = {
        {CKA_PRIME, NULL_PTR, 0},
        {CKA_BASE, NULL_PTR, 0},
        {CKA_PRIME_BITS, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_OK(handlePublicKey, publicAttribute);

    CK_ATTRIBUTE privateAttribute[] = {
        {CKA_PRIME, NULL_PTR, 0},
        {CKA_BASE, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_EQ_OK(handlePrivateKey, privateAttribute);
    return CKR_OK;
}

CK_RV libC_GTest_P11::ReadECObjects(CK_SESSION_HANDLE sessionHandle,
                                    CK_OBJECT_HANDLE handlePublicKey,
                                    CK_OBJECT_HANDLE /* the private key is not read */)
{
    CK_ATTRIBUTE publicAttribute[] = {
        {CKA_EC_POINT, NULL_PTR, 0},
        {CKA_EC_PARAMS, NULL_PTR, 0},
    };
    ZORVEL_EXPECT_LIST_READ_OK(handlePublicKey, publicAttribute);
    return CKR_OK;
}
