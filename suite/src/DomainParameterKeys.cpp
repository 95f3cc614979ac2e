#include "DomainParameterKeys.h"

#include "DerivedKeyTemplate.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

// Gives every entry of a list a malloc'd buffer of the length the token's query reported.
void AllocateReportedLengths(CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i)
        attributes[i].pValue = std::malloc(attributes[i].ulValueLen);
}

// Points the entry of the given type at a value.
template <CK_ULONG N>
void SetEntry(CK_ATTRIBUTE (&attributes)[N], CK_ATTRIBUTE_TYPE type, CK_VOID_PTR value,
              CK_ULONG length)
{
    for (CK_ATTRIBUTE& attribute : attributes)
        if (attribute.type == type)
            attribute = {type, value, length};
}

// However a DH key-pair test ends: the key templates no longer refer to the domain values
// or to the test's value size, and the values are freed.
class DHKeyTemplatesGuard {
public:
    DHKeyTemplatesGuard() = default;
    DHKeyTemplatesGuard(const DHKeyTemplatesGuard&) = delete;
    DHKeyTemplatesGuard& operator=(const DHKeyTemplatesGuard&) = delete;
    ~DHKeyTemplatesGuard()
    {
        using P11 = libC_GTest_P11;
        for (CK_ATTRIBUTE_TYPE type : {CKA_PRIME, CKA_BASE}) {
            SetEntry(P11::m_dhPublicParamTemplate, type, NULL_PTR, 0);
            SetEntry(P11::m_dhPrivateParamTemplate, type, NULL_PTR, 0);
        }
        SetEntry(P11::m_dhPrivateParamTemplate, CKA_VALUE_BITS, NULL_PTR, 0);
        FreeAttributeValues(P11::m_dhParamTemplate, DH_ATTRIBUTE_CNT);
    }
};

} // namespace

void DomainParameterKeys::GenerateDSAKeyPair(CK_OBJECT_HANDLE domainHandle,
                                             CK_OBJECT_HANDLE& publicKeyHandle,
                                             CK_OBJECT_HANDLE& privateKeyHandle)
{
    ASSERT_FUNCTION_LIST();
    // Values that a failed test of another kind may have left are not taken for lengths.
    FreeAttributeValues(m_dsaParamTemplate, 3);
    AttributeValuesGuard domainValues(m_dsaParamTemplate, 3);

    ASSERT_EQ(CKR_OK, m_pFList->C_GetAttributeValue(m_hSession, domainHandle, m_dsaParamTemplate, 3));
    AllocateReportedLengths(m_dsaParamTemplate, 3);
    ASSERT_EQ(CKR_OK, m_pFList->C_GetAttributeValue(m_hSession, domainHandle, m_dsaParamTemplate, 3));

    // The domain values alone; class, key type, persistence and usage are the token's.
    CK_MECHANISM mechanism = {CKM_DSA_KEY_PAIR_GEN, NULL_PTR, 0};
    ASSERT_EQ(CKR_OK, m_pFList->C_GenerateKeyPair(m_hSession, &mechanism, m_dsaParamTemplate, 3, NULL_PTR, 0, &publicKeyHandle, &privateKeyHandle));
}

void DomainParameterKeys::GenerateDHKeyPair(CK_OBJECT_HANDLE domainHandle,
                                            CK_ULONG CK_MECHANISM_INFO::*valueBitsOf,
                                            CK_OBJECT_HANDLE& publicKeyHandle,
                                            CK_OBJECT_HANDLE& privateKeyHandle)
{
    ASSERT_FUNCTION_LIST();
    FreeAttributeValues(m_dhParamTemplate, DH_ATTRIBUTE_CNT);
    DHKeyTemplatesGuard templates;

    ASSERT_TRUE(IsCkrOk(m_pFList->C_GetAttributeValue(m_hSession, domainHandle, m_dhParamTemplate, DH_ATTRIBUTE_CNT)));
    AllocateReportedLengths(m_dhParamTemplate, DH_ATTRIBUTE_CNT);
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GetAttributeValue(m_hSession, domainHandle, m_dhParamTemplate, DH_ATTRIBUTE_CNT)));

    CK_MECHANISM_INFO keyPairInfo;
    ASSERT_MECHANISM_INFO(CKM_DH_PKCS_KEY_PAIR_GEN, keyPairInfo);
    CK_ULONG valueBits = keyPairInfo.*valueBitsOf;

    // Prime and base go into both templates: the private key carries them too.
    const CK_ATTRIBUTE& prime = m_dhParamTemplate[0];
    const CK_ATTRIBUTE& base = m_dhParamTemplate[1];
    SetEntry(m_dhPublicParamTemplate, CKA_CLASS, &m_dhPublicKeyClass, sizeof(m_dhPublicKeyClass));
    SetEntry(m_dhPublicParamTemplate, CKA_KEY_TYPE, &m_dhKey, sizeof(m_dhKey));
    SetEntry(m_dhPrivateParamTemplate, CKA_CLASS, &m_dhPrivateKeyClass, sizeof(m_dhPrivateKeyClass));
    SetEntry(m_dhPrivateParamTemplate, CKA_KEY_TYPE, &m_dhKey, sizeof(m_dhKey));
    SetEntry(m_dhPublicParamTemplate, CKA_PRIME, prime.pValue, prime.ulValueLen);
    SetEntry(m_dhPublicParamTemplate, CKA_BASE, base.pValue, base.ulValueLen);
    SetEntry(m_dhPrivateParamTemplate, CKA_PRIME, prime.pValue, prime.ulValueLen);
    SetEntry(m_dhPrivateParamTemplate, CKA_BASE, base.pValue, base.ulValueLen);
    SetEntry(m_dhPrivateParamTemplate, CKA_VALUE_BITS, &valueBits, sizeof(valueBits));

    CK_MECHANISM mechanism = {CKM_DH_PKCS_KEY_PAIR_GEN, NULL_PTR, 0};
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GenerateKeyPair(m_hSession, &mechanism, m_dhPublicParamTemplate, DH_PUBLIC_KEY_GEN_ATT_CNT, m_dhPrivateParamTemplate, DH_PRIVATE_KEY_GEN_ATT_CNT, &publicKeyHandle, &privateKeyHandle)));
}

void DomainParameterKeys::DeriveAESKey(CK_OBJECT_HANDLE publicKeyHandle,
                                       CK_OBJECT_HANDLE privateKeyHandle)
{
    ASSERT_FUNCTION_LIST();
    CK_RV rv;
    CK_ATTRIBUTE attribute[] = {{CKA_VALUE, NULL_PTR, 0}};
    rv = m_pFList->C_GetAttributeValue(m_hSession, publicKeyHandle, attribute, 1);
    ASSERT_EQ(CKR_OK, rv);

    // Zeroed, and only what the token reported as written is passed on.
    const CK_ULONG allocated = attribute[0].ulValueLen;
    std::unique_ptr<CK_BYTE[]> publicValue(new CK_BYTE[allocated]());
    attribute[0].pValue = publicValue.get();
    rv = m_pFList->C_GetAttributeValue(m_hSession, publicKeyHandle, attribute, 1);
    EXPECT_TRUE(IsCkrOk(rv));
    if (rv != CKR_OK)
        return; // recorded above: there is no public value to derive with
    const CK_ULONG publicValueLength = std::min(attribute[0].ulValueLen, allocated);

    CK_OBJECT_HANDLE h_newKey = 0;
    CK_MECHANISM_INFO aesInfo;
    ASSERT_MECHANISM_INFO(CKM_AES_KEY_GEN, aesInfo);
    CK_ULONG keyLength = aesInfo.ulMinKeySize;

    CK_MECHANISM mechanism = {CKM_DH_PKCS_DERIVE, publicValue.get(), publicValueLength};
    CK_ATTRIBUTE attributes[] = DERIVED_AES_KEY_TEMPLATE(keyLength);
    ASSERT_TRUE(IsCkrOk(m_pFList->C_DeriveKey(m_hSession, &mechanism, privateKeyHandle, attributes, 14, &h_newKey)));
}
