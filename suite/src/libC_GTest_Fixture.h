// The base fixture of the suite: every piece of state the tests share (function list,
// slots, fixture session, mechanism map, templates, object handles), the suite set-up
// and tear-down that bracket each test case, the session routines they are built from,
// and the shared routines the test bodies call. All members are static, so every
// fixture and every test sees one and the same state.
#pragma once

#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "CommandLine.h"
#include "BooleanAssertions.h"
#include "CheckedFunctionList.h"
#include "OwnedBuffers.h"
#include "ReturnValueAssertions.h"
#include "UserLogin.h"
#include "pkcs11.h"
#include "zorvel_p11.h"

// Entry counts of the attribute templates, passed as the template length. Plain macros,
// so that an equality assertion over a call reports the number ("7") and a boolean one
// the name, as each reads in the source.
#define SECRET_KEY_GEN_ATTR_CNT 14
#define RSA_PUBLIC_KEY_GEN_ATTR_CNT 12
#define RSA_PRIVATE_KEY_GEN_ATTR_CNT 11
#define EC_PUBLIC_KEY_GEN_ATTR_CNT 7
#define EC_PRIVATE_KEY_GEN_ATTR_CNT 7
#define DOMAIN_KEY_GEN_ATTR_CNT 5
#define DH_ATTRIBUTE_CNT 2 // only prime and base of m_dhParamTemplate
#define DH_PUBLIC_KEY_GEN_ATT_CNT 7
#define DH_PRIVATE_KEY_GEN_ATT_CNT 8

// Part size of the multi-part routines.
constexpr CK_ULONG CHUNK_SIZE = 0x4000;

// The object handles through which the tests of one case hand keys and domain parameters
// to each other; all are zeroed by a successful suite tear-down.
#define ZORVEL_FIXTURE_OBJECT_HANDLES(X)                                                       \
    X(m_aesKeyMinSizeObjectHandle)                                                             \
    X(m_aesKeyMaxSizeObjectHandle)                                                             \
    X(m_aesUnwrappedKeyMinSizeObjectHandle)                                                    \
    X(m_aesUnwrappedKeyMaxSizeObjectHandle)                                                    \
    X(m_aesUnwrappedPADKeyMinSizeObjectHandle)                                                 \
    X(m_aesUnwrappedPADKeyMaxSizeObjectHandle)                                                 \
    X(m_camelliaKeyMinSizeObjectHandle)                                                        \
    X(m_camelliaKeyMaxSizeObjectHandle)                                                        \
    X(m_des3KeyMinSizeObjectHandle)                                                            \
    X(m_des3KeyMaxSizeObjectHandle)                                                            \
    X(m_rsaPublicKeyMinSizeObjectHandle)                                                       \
    X(m_rsaPrivateKeyMinSizeObjectHandle)                                                      \
    X(m_rsaPublicKeyMaxSizeObjectHandle)                                                       \
    X(m_rsaPrivateKeyMaxSizeObjectHandle)                                                      \
    X(m_dsaDomainParamsMinSizeObjectHandle)                                                    \
    X(m_dsaDomainParamsMaxSizeObjectHandle)                                                    \
    X(m_dsaPublicKeyMinSizeObjectHandle)                                                       \
    X(m_dsaPrivateKeyMinSizeObjectHandle)                                                      \
    X(m_dsaPublicKeyMaxSizeObjectHandle)                                                       \
    X(m_dsaPrivateKeyMaxSizeObjectHandle)                                                      \
    X(m_dsaDomainParamHandle)                                                                  \
    X(m_dhDomainParamsMinSizeObjectHandle)                                                     \
    X(m_dhDomainParamsMaxSizeObjectHandle)                                                     \
    X(m_dhPublicKeyMinSizeObjectHandle)                                                        \
    X(m_dhPrivateKeyMinSizeObjectHandle)                                                       \
    X(m_dhPublicKeyMaxSizeObjectHandle)                                                        \
    X(m_dhPrivateKeyMaxSizeObjectHandle)                                                       \
    X(m_dhx942DomainParamsMinSizeObjectHandle)                                                 \
    X(m_dhx942DomainParamsMaxSizeObjectHandle)                                                 \
    X(m_dhx9PublicKeyMinSizeObjectHandle)                                                      \
    X(m_dhx9PrivateKeyMinSizeObjectHandle)                                                     \
    X(m_dhx9PublicKeyMaxSizeObjectHandle)                                                      \
    X(m_dhx9PrivateKeyMaxSizeObjectHandle)                                                     \
    X(m_ecPublicKeyObjectHandle_secp224k1)                                                     \
    X(m_ecPrivateKeyObjectHandle_secp224k1)                                                    \
    X(m_ecPublicKeyObjectHandle_secp224r1)                                                     \
    X(m_ecPrivateKeyObjectHandle_secp224r1)                                                    \
    X(m_ecPublicKeyObjectHandle_secp256k1)                                                     \
    X(m_ecPrivateKeyObjectHandle_secp256k1)                                                    \
    X(m_ecPublicKeyObjectHandle_secp256r1)                                                     \
    X(m_ecPrivateKeyObjectHandle_secp256r1)                                                    \
    X(m_ecPublicKeyObjectHandle_secp384r1)                                                     \
    X(m_ecPrivateKeyObjectHandle_secp384r1)                                                    \
    X(m_ecPublicKeyObjectHandle_secp521r1)                                                     \
    X(m_ecPrivateKeyObjectHandle_secp521r1)                                                    \
    X(m_ecPublicKeyObjectHandle_X9_62_prime239v1)                                              \
    X(m_ecPrivateKeyObjectHandle_X9_62_prime239v1)                                             \
    X(m_ecPublicKeyObjectHandle_X9_62_prime239v2)                                              \
    X(m_ecPrivateKeyObjectHandle_X9_62_prime239v2)                                             \
    X(m_ecPublicKeyObjectHandle_X9_62_prime239v3)                                              \
    X(m_ecPrivateKeyObjectHandle_X9_62_prime239v3)                                             \
    X(m_ecPublicKeyObjectHandle_bp224r1)                                                       \
    X(m_ecPrivateKeyObjectHandle_bp224r1)                                                      \
    X(m_ecPublicKeyObjectHandle_bp256r1)                                                       \
    X(m_ecPrivateKeyObjectHandle_bp256r1)                                                      \
    X(m_ecPublicKeyObjectHandle_bp320r1)                                                       \
    X(m_ecPrivateKeyObjectHandle_bp320r1)                                                      \
    X(m_ecPublicKeyObjectHandle_bp384r1)                                                       \
    X(m_ecPrivateKeyObjectHandle_bp384r1)                                                      \
    X(m_ecPublicKeyObjectHandle_bp512r1)                                                       \
    X(m_ecPrivateKeyObjectHandle_bp512r1)                                                      \
    X(m_ecPublicKeyObjectHandle_frp256v1)                                                      \
    X(m_ecPrivateKeyObjectHandle_frp256v1)

// Reads the data file whole into a new[] buffer that the caller releases with delete[].
// CKR_DATA_INVALID, and no buffer, for no path or a file that is missing, unreadable,
// not a regular file or empty; for a path, the first such failure on it also prints one
// line on standard error that names the path and the reason (the system's, e.g. "No such
// file or directory").
CK_RV ReadBinaryFile(CK_BYTE_PTR* ppData, CK_ULONG* pulDataLength, const char* path);

class libC_GTest_P11 : public testing::Test {
protected:
    void SetUp() override {}
    void TearDown() override {}

public:
    // Suite life cycle, run by googletest once per test case.
    static void SetUpTestCase();
    static void TearDownTestCase();

    // Session routines. Each returns the token's answer, or CKR_FUNCTION_REJECTED without
    // a call when there is no function list; those that need the slot under test return
    // CKR_SLOT_ID_INVALID without a call when the slot list does not hold it. LogonUser
    // logs the user in on the fixture session through LoginUser (UserLogin.h), which answers
    // a refusal of the user PIN without a call from then on.
    static CK_RV Initialize(CK_C_INITIALIZE_ARGS_PTR args);
    static CK_RV GetSlotList(CK_BBOOL tokenPresent);
    static CK_RV OpenSession();
    static CK_RV LogonUser();
    static CK_RV GetMechanismList();
    static CK_RV Finalize();

    // Information and random-number routines.
    static CK_RV GetInfo(CK_INFO& info);
    static CK_RV GetSlotInfo(CK_SLOT_INFO& slotInfo);
    static CK_RV GetTokenInfo(CK_TOKEN_INFO& tokenInfo);
    static CK_RV GetSessionInfo(CK_SESSION_INFO& info);
    static CK_RV SeedRandom(CK_ULONG j);
    static CK_RV GenerateRandom();

    // The token's record for a mechanism, copied into `info`; fails (naming the mechanism)
    // when the token did not report it. Inserts nothing into m_mechInfos.
    static testing::AssertionResult LookUpMechanismInfo(CK_MECHANISM_TYPE type,
                                                        CK_MECHANISM_INFO& info);

    // Shared test routines. Each step is a non-fatal check; see each routine for what
    // it returns. Buffers handed out come from new[] and belong to the caller.
    static CK_RV CleanupPartition();
    static CK_RV DigestData(CK_MECHANISM_TYPE mechanism, CK_BYTE_PTR pInData, CK_ULONG pulInSize,
                            CK_BYTE_PTR* ppOutData, CK_ULONG* pulOutSize);
    static CK_RV ChunkedEncrypt(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                CK_OBJECT_HANDLE keyHandle, CK_BYTE_PTR pPlainText,
                                CK_ULONG ulPlainTextLength, CK_ULONG_PTR pulEncryptedLength,
                                CK_BYTE_PTR* ppEncrypted);
    static CK_RV ChunkedDecrypt(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                CK_OBJECT_HANDLE keyHandle, CK_BYTE_PTR pData,
                                CK_ULONG ulDataLength, CK_ULONG_PTR pulDecryptedLength,
                                CK_BYTE_PTR* ppDecrypted);
    static CK_RV SignVerifySinglePart(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism,
                                      CK_OBJECT_HANDLE privateKeyHandle,
                                      CK_OBJECT_HANDLE publicKeyHandle, CK_BYTE_PTR pData,
                                      CK_ULONG ulDataLength, CK_BYTE_PTR* pOutData,
                                      CK_ULONG& ulOutDataLength);
    static CK_RV SignVerifyMultiPart(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism,
                                     CK_OBJECT_HANDLE privateKeyHandle,
                                     CK_OBJECT_HANDLE publicKeyHandle, CK_BYTE_PTR pData,
                                     CK_ULONG ulDataLength, CK_BYTE_PTR* pOutData,
                                     CK_ULONG& ulOutDataLength);
    static CK_RV DeriveEC(CK_SESSION_HANDLE sessionHandle, CK_OBJECT_HANDLE handlePublicKey,
                          CK_OBJECT_HANDLE handlePrivateKey, CK_BYTE_PTR pSharedData,
                          CK_ULONG ulSharedDataLength, CK_OBJECT_HANDLE& newKey);

    // Attribute reading: the two-call read with malloc'd values, and its release.
    static CK_RV GetAttributeValuesWithAllocation(CK_SESSION_HANDLE sessionHandle,
                                                  CK_OBJECT_HANDLE object,
                                                  CK_ATTRIBUTE* attributes, CK_ULONG count);
    static CK_RV FreeAllocatedAttributes(CK_ATTRIBUTE* attributes, CK_ULONG count);

    // Readers of generated objects: record a non-fatal failure when the token does not
    // answer as expected, release everything, and return CKR_OK.
    static CK_RV ReadRSAPublicObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
    static CK_RV ReadRSAPrivateObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
    static CK_RV ReadDSADomainParameterObjects(CK_SESSION_HANDLE sessionHandle,
                                               CK_OBJECT_HANDLE handleObject);
    static CK_RV ReadDSAKeyObjects(CK_SESSION_HANDLE sessionHandle,
                                   CK_OBJECT_HANDLE handlePublicKey,
                                   CK_OBJECT_HANDLE handlePrivateKey);
    static CK_RV ReadDHDomainParameterObjects(CK_SESSION_HANDLE sessionHandle,
                                              CK_OBJECT_HANDLE handleObject);
    static CK_RV ReadDHKeyObjects(CK_SESSION_HANDLE sessionHandle,
                                  CK_OBJECT_HANDLE handlePublicKey,
                                  CK_OBJECT_HANDLE handlePrivateKey);
    static CK_RV ReadECObjects(CK_SESSION_HANDLE sessionHandle, CK_OBJECT_HANDLE handlePublicKey,
                               CK_OBJECT_HANDLE handlePrivateKey);

    // Session state.
    static CK_FUNCTION_LIST_PTR m_pFList;
    static CK_SLOT_ID* m_pSlotIDs; // new[] array of the slots with a token, or null
    static CK_ULONG m_slotsCount;
    static CK_ULONG m_slotID; // index into m_pSlotIDs of the slot under test
    static CK_FLAGS m_loginFlags;
    static CK_SESSION_HANDLE m_hSession;
    static CK_VOID_PTR m_pApplication;
    static CK_NOTIFY m_pNotify;
    static std::map<CK_MECHANISM_TYPE, std::unique_ptr<CK_MECHANISM_INFO>> m_mechInfos;
    static CK_MECHANISM m_mechanism; // scratch mechanism each test sets before use

    // Addressable constants that template entries point to.
    static CK_BBOOL m_bTrue;
    static CK_BBOOL m_bFalse;
    static CK_KEY_TYPE m_aesKey;
    static CK_KEY_TYPE m_camelliaKey;
    static CK_KEY_TYPE m_des3Key;
    static CK_KEY_TYPE m_rsaKey;
    static CK_KEY_TYPE m_dsaKey;
    static CK_KEY_TYPE m_dhKey;
    static CK_KEY_TYPE m_ecKey;
    static CK_KEY_TYPE m_dhx942Key;
    static CK_OBJECT_CLASS m_secretKeyClass;
    static CK_OBJECT_CLASS m_rsaPublicKeyClass;
    static CK_OBJECT_CLASS m_dhPublicKeyClass;
    static CK_OBJECT_CLASS m_ecPublicKeyClass;
    static CK_OBJECT_CLASS m_rsaPrivateKeyClass;
    static CK_OBJECT_CLASS m_dhPrivateKeyClass;
    static CK_OBJECT_CLASS m_ecPrivateKeyClass;
    static CK_OBJECT_CLASS m_domainClass;
    static CK_BYTE m_rsaPublicExponent[3];
    static CK_BYTE m_id_123[3];
    static CK_BYTE m_iv16[16];

    // Attribute templates; the empty entries are filled by each test before use.
    static CK_ATTRIBUTE m_secretKeyKeyGenAttributes[SECRET_KEY_GEN_ATTR_CNT];
    static CK_ATTRIBUTE m_rsaKeyPairPublicGenAttributes[RSA_PUBLIC_KEY_GEN_ATTR_CNT];
    static CK_ATTRIBUTE m_rsaKeyPairPrivateGenAttributes[RSA_PRIVATE_KEY_GEN_ATTR_CNT];
    static CK_ATTRIBUTE m_ecKeyPairPublicGenAttributes[EC_PUBLIC_KEY_GEN_ATTR_CNT];
    static CK_ATTRIBUTE m_ecKeyPairPrivateGenAttributes[EC_PRIVATE_KEY_GEN_ATTR_CNT];
    static CK_ATTRIBUTE m_domainAttributes[DOMAIN_KEY_GEN_ATTR_CNT];
    static CK_ATTRIBUTE m_x942domainAttributes[6];
    static CK_ATTRIBUTE m_dsaParamTemplate[3];
    static CK_ATTRIBUTE m_dhParamTemplate[3];
    static CK_ATTRIBUTE m_dhPublicParamTemplate[DH_PUBLIC_KEY_GEN_ATT_CNT];
    static CK_ATTRIBUTE m_dhPrivateParamTemplate[DH_PRIVATE_KEY_GEN_ATT_CNT];
    static CK_ATTRIBUTE m_dhx9ParamTemplate[3];
    static CK_ATTRIBUTE m_dhx9PublicParamTemplate[7];

#define ZORVEL_DECLARE_OBJECT_HANDLE(name) static CK_OBJECT_HANDLE name;
    ZORVEL_FIXTURE_OBJECT_HANDLES(ZORVEL_DECLARE_OBJECT_HANDLE)
#undef ZORVEL_DECLARE_OBJECT_HANDLE

private:
    static bool HasSlotUnderTest();
    static void ReleaseSessionState();
};

// Ends the calling test when the suite set-up left no function list to call through.
#define ASSERT_FUNCTION_LIST()                                                                 \
    ASSERT_TRUE(libC_GTest_P11::m_pFList != NULL_PTR) << "no function list: the suite set-up failed"

// Copies the token's record for a mechanism into `info`, or ends the calling test with a
// failure naming the mechanism: key sizes are never read through a missing record.
#define ASSERT_MECHANISM_INFO(type, info)                                                      \
    ASSERT_TRUE(libC_GTest_P11::LookUpMechanismInfo((type), (info)))

// A case's last test: every object the fixture session can find is destroyed.
#define CLEANUP_PARTITION_TEST(Fixture, TestName)                                              \
    TEST_F(Fixture, TestName)                                                                  \
    {                                                                                          \
        ASSERT_EQ(CKR_OK, CleanupPartition());                                                 \
    }

// The fixture of one test case. Its suite set-up and tear-down are defined with the fixture
// code; the per-test SetUp and TearDown do nothing.
#define ZORVEL_DECLARE_CASE_FIXTURE(Fixture)                                                   \
    class Fixture : public libC_GTest_P11 {                                                    \
    protected:                                                                                 \
        void SetUp() override {}                                                               \
        void TearDown() override {}                                                            \
                                                                                               \
    public:                                                                                    \
        static void SetUpTestCase();                                                           \
        static void TearDownTestCase();                                                        \
    }

ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_P11_Multi);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_AES);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_CAMELLIA);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_DES3);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_RSA);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_EC);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_DSA);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_DH);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_ObjectManagement);
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_Fallback); // selects HSM 0 first
ZORVEL_DECLARE_CASE_FIXTURE(libC_GTest_Sessions); // opens no session, logs nobody in
