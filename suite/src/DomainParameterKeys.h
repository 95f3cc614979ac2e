// Key pairs generated from the values of a domain-parameter object, and the AES key
// derived from a Diffie-Hellman pair: the test bodies that hold buffers of the token's
// values. Each routine is a whole test body: a fatal check ends it, and every buffer it
// took is released on every way out. A class of the base fixture only so that its
// checks read as the test bodies' do (m_pFList->..., m_hSession).
#pragma once

#include "libC_GTest_Fixture.h"

class DomainParameterKeys : public libC_GTest_P11 {
public:
    // Reads prime, subprime and base of a DSA domain-parameter object into
    // m_dsaParamTemplate and generates a DSA key pair with them as the public template and
    // an empty private template. The template holds no values before or after.
    static void GenerateDSAKeyPair(CK_OBJECT_HANDLE domainHandle, CK_OBJECT_HANDLE& publicKeyHandle,
                                   CK_OBJECT_HANDLE& privateKeyHandle);

    // Reads prime and base of a DH domain-parameter object into m_dhParamTemplate and
    // generates a PKCS#3 key pair with both in the public and the private template, the
    // private value's size being `valueBitsOf` (ulMinKeySize or ulMaxKeySize) of
    // CKM_DH_PKCS_KEY_PAIR_GEN. No template refers to a value afterwards.
    static void GenerateDHKeyPair(CK_OBJECT_HANDLE domainHandle,
                                  CK_ULONG CK_MECHANISM_INFO::*valueBitsOf,
                                  CK_OBJECT_HANDLE& publicKeyHandle,
                                  CK_OBJECT_HANDLE& privateKeyHandle);

    // Derives a sensitive AES token key of the token's smallest AES size with
    // CKM_DH_PKCS_DERIVE, the private key as base and the public key's CKA_VALUE as the
    // mechanism parameter. Derives nothing when the value could not be read.
    static void DeriveAESKey(CK_OBJECT_HANDLE publicKeyHandle, CK_OBJECT_HANDLE privateKeyHandle);
};

// The body of a test that generates PKCS#3 DH or DSA domain parameters into
// `domainHandle`, with the prime size `keySize` (ulMinKeySize or ulMaxKeySize) of the
// token's record for `Mechanism`; `CHECK` (ASSERT_EQ_CKR_OK or EXPECT_CKR_OK) checks the
// answer. m_domainAttributes keeps the filled entries, the size pointing at the test's local.
#define GENERATE_DOMAIN_PARAMETERS(CHECK, Mechanism, keyType, keySize, domainHandle)           \
    ASSERT_FUNCTION_LIST();                                                                    \
    m_mechanism = {Mechanism, NULL_PTR, 0};                                                    \
    CK_MECHANISM_INFO parameterGenInfo;                                                        \
    ASSERT_MECHANISM_INFO(Mechanism, parameterGenInfo);                                        \
    CK_ULONG primeBits = parameterGenInfo.keySize;                                             \
    m_domainAttributes[0] = {CKA_CLASS, &m_domainClass, sizeof(m_domainClass)};               \
    m_domainAttributes[1] = {CKA_KEY_TYPE, &keyType, sizeof(keyType)};                        \
    m_domainAttributes[2] = {CKA_PRIME_BITS, &primeBits, sizeof(primeBits)};                  \
    CHECK(m_pFList->C_GenerateKey(m_hSession, &m_mechanism, m_domainAttributes, DOMAIN_KEY_GEN_ATTR_CNT, &domainHandle))

// The checks of a domain-parameter generation: the DSA tests assert equality with CKR_OK;
// the DH tests expect IsCkrOk, whose report names the call as written and the token's
// answer as IsCkr describes it.
#define ASSERT_EQ_CKR_OK(call) ASSERT_EQ(CKR_OK, call)
#define EXPECT_CKR_OK(call) EXPECT_TRUE_WITH_TEXT(IsCkrOk(call), "IsCkrOk(" #call ")")
