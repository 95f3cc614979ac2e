// Test case libC_GTest_DH: PKCS#3 and X9.42 Diffie-Hellman domain parameters, a PKCS#3
// key pair from the PKCS#3 parameters, and an AES key derived with it. The largest sizes
// run only with the disabled tests. Its CleanupPartition test is held back
// (HeldBackCleanups.h).
#pragma once

#include "DomainParameterKeys.h"
#include "libC_GTest_Fixture.h"

// The body of a test that generates X9.42 domain parameters with a 1024-bit prime and a
// subprime of `SubprimeBits` into `domainHandle`, expecting the token's answer
// `Expected`. The sizes are fixed, whatever the token advertises.
#define GENERATE_X942_DOMAIN_PARAMETERS(SubprimeBits, Expected, domainHandle)                  \
    ASSERT_FUNCTION_LIST();                                                                    \
    m_mechanism = {CKM_X9_42_DH_PARAMETER_GEN, NULL_PTR, 0};                                   \
    CK_ULONG primeBits = 1024;                                                                 \
    CK_ULONG subprimeBits = SubprimeBits;                                                      \
    m_x942domainAttributes[0] = {CKA_CLASS, &m_domainClass, sizeof(m_domainClass)};           \
    m_x942domainAttributes[1] = {CKA_KEY_TYPE, &m_dhx942Key, sizeof(m_dhx942Key)};            \
    m_x942domainAttributes[2] = {CKA_PRIME_BITS, &primeBits, sizeof(primeBits)};              \
    m_x942domainAttributes[3] = {CKA_SUBPRIME_BITS, &subprimeBits, sizeof(subprimeBits)};     \
    EXPECT_EQ(Expected, m_pFList->C_GenerateKey(m_hSession, &m_mechanism, m_x942domainAttributes, 6, &domainHandle))

TEST_F(libC_GTest_DH, GeneratePKCS_DomainParam_MinSize)
{
    GENERATE_DOMAIN_PARAMETERS(EXPECT_CKR_OK, CKM_DH_PKCS_PARAMETER_GEN, m_dhKey, ulMinKeySize, m_dhDomainParamsMinSizeObjectHandle);
    // Also after a failed generation: the reader records its own failures.
    ASSERT_TRUE(IsCkrOk(ReadDHDomainParameterObjects(m_hSession, m_dhDomainParamsMinSizeObjectHandle)));
}

TEST_F(libC_GTest_DH, GenerateX942_DomainParam_MinSize)
{
    GENERATE_X942_DOMAIN_PARAMETERS(160, CKR_OK, m_dhx942DomainParamsMinSizeObjectHandle);
}

TEST_F(libC_GTest_DH, DISABLED_GeneratePKCS_DomainParam_MaxSize)
{
    GENERATE_DOMAIN_PARAMETERS(EXPECT_CKR_OK, CKM_DH_PKCS_PARAMETER_GEN, m_dhKey, ulMaxKeySize, m_dhDomainParamsMaxSizeObjectHandle);
}

TEST_F(libC_GTest_DH, DISABLED_GenerateX942_DomainParam_MaxSize_Mechanism_Invalid)
{
    GENERATE_X942_DOMAIN_PARAMETERS(256, CKR_MECHANISM_INVALID, m_dhx942DomainParamsMaxSizeObjectHandle);
}

TEST_F(libC_GTest_DH, GeneratePKCS_MinSize)
{
    DomainParameterKeys::GenerateDHKeyPair(m_dhDomainParamsMinSizeObjectHandle, &CK_MECHANISM_INFO::ulMinKeySize, m_dhPublicKeyMinSizeObjectHandle, m_dhPrivateKeyMinSizeObjectHandle);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(IsCkrOk(ReadDHKeyObjects(m_hSession, m_dhPublicKeyMinSizeObjectHandle, m_dhPrivateKeyMinSizeObjectHandle)));
}

TEST_F(libC_GTest_DH, DISABLED_GeneratePKCS_MaxSize)
{
    DomainParameterKeys::GenerateDHKeyPair(m_dhDomainParamsMaxSizeObjectHandle, &CK_MECHANISM_INFO::ulMaxKeySize, m_dhPublicKeyMaxSizeObjectHandle, m_dhPrivateKeyMaxSizeObjectHandle);
}

TEST_F(libC_GTest_DH, DerivePKCS_AES_MinSize)
{
    DomainParameterKeys::DeriveAESKey(m_dhPublicKeyMinSizeObjectHandle, m_dhPrivateKeyMinSizeObjectHandle);
}

TEST_F(libC_GTest_DH, DISABLED_DerivePKCS_AES_MaxSize)
{
    DomainParameterKeys::DeriveAESKey(m_dhPublicKeyMaxSizeObjectHandle, m_dhPrivateKeyMaxSizeObjectHandle);
}
