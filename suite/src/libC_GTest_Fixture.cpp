#include "libC_GTest_Fixture.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

// The arguments of every initialisation: no mutex callbacks, the OS may lock.
CK_C_INITIALIZE_ARGS initArgs;

void SetInitializeArgs()
{
    initArgs.CreateMutex = NULL_PTR;
    initArgs.DestroyMutex = NULL_PTR;
    initArgs.LockMutex = NULL_PTR;
    initArgs.UnlockMutex = NULL_PTR;
    initArgs.flags = CKF_OS_LOCKING_OK;
    initArgs.pReserved = NULL_PTR;
}

// A boolean template entry and an entry that the tests fill before use.
#define TRUE_ENTRY(type) {type, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)}
#define FALSE_ENTRY(type) {type, &libC_GTest_P11::m_bFalse, sizeof(CK_BBOOL)}
#define EMPTY_ENTRY(type) {type, NULL_PTR, 0}

} // namespace

CK_FUNCTION_LIST_PTR libC_GTest_P11::m_pFList = NULL_PTR;
CK_SLOT_ID* libC_GTest_P11::m_pSlotIDs = NULL_PTR;
CK_ULONG libC_GTest_P11::m_slotsCount = 0;
CK_ULONG libC_GTest_P11::m_slotID = 0;
CK_FLAGS libC_GTest_P11::m_loginFlags = CKF_RW_SESSION | CKF_SERIAL_SESSION;
CK_SESSION_HANDLE libC_GTest_P11::m_hSession = 0;
CK_VOID_PTR libC_GTest_P11::m_pApplication = NULL_PTR;
CK_NOTIFY libC_GTest_P11::m_pNotify = NULL_PTR;
std::map<CK_MECHANISM_TYPE, std::unique_ptr<CK_MECHANISM_INFO>> libC_GTest_P11::m_mechInfos;
CK_MECHANISM libC_GTest_P11::m_mechanism = {0, NULL_PTR, 0};

CK_BBOOL libC_GTest_P11::m_bTrue = CK_TRUE;
CK_BBOOL libC_GTest_P11::m_bFalse = CK_FALSE;
CK_KEY_TYPE libC_GTest_P11::m_aesKey = CKK_AES;
CK_KEY_TYPE libC_GTest_P11::m_camelliaKey = CKK_CAMELLIA;
CK_KEY_TYPE libC_GTest_P11::m_des3Key = CKK_DES3;
CK_KEY_TYPE libC_GTest_P11::m_rsaKey = CKK_RSA;
CK_KEY_TYPE libC_GTest_P11::m_dsaKey = CKK_DSA;
CK_KEY_TYPE libC_GTest_P11::m_dhKey = CKK_DH;
CK_KEY_TYPE libC_GTest_P11::m_ecKey = CKK_EC;
CK_KEY_TYPE libC_GTest_P11::m_dhx942Key = CKK_X9_42_DH;
CK_OBJECT_CLASS libC_GTest_P11::m_secretKeyClass = CKO_SECRET_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_rsaPublicKeyClass = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_dhPublicKeyClass = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_ecPublicKeyClass = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_rsaPrivateKeyClass = CKO_PRIVATE_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_dhPrivateKeyClass = CKO_PRIVATE_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_ecPrivateKeyClass = CKO_PRIVATE_KEY;
CK_OBJECT_CLASS libC_GTest_P11::m_domainClass = CKO_DOMAIN_PARAMETERS;
CK_BYTE libC_GTest_P11::m_rsaPublicExponent[3] = {0x01, 0x00, 0x01};
CK_BYTE libC_GTest_P11::m_id_123[3] = {0x01, 0x02, 0x03};
CK_BYTE libC_GTest_P11::m_iv16[16] = {'8', '6', '4', '2', '0', '9', '7', '5',
                                      '3', '1', '8', '6', '4', '2', '0', '9'};

CK_ATTRIBUTE libC_GTest_P11::m_secretKeyKeyGenAttributes[SECRET_KEY_GEN_ATTR_CNT] = {
    EMPTY_ENTRY(CKA_CLASS),       EMPTY_ENTRY(CKA_KEY_TYPE),   TRUE_ENTRY(CKA_TOKEN),
    TRUE_ENTRY(CKA_ENCRYPT),      TRUE_ENTRY(CKA_WRAP),        TRUE_ENTRY(CKA_DECRYPT),
    TRUE_ENTRY(CKA_UNWRAP),       FALSE_ENTRY(CKA_SENSITIVE),  TRUE_ENTRY(CKA_EXTRACTABLE),
    TRUE_ENTRY(CKA_MODIFIABLE),   FALSE_ENTRY(CKA_PRIVATE),    EMPTY_ENTRY(CKA_VALUE_LEN),
    TRUE_ENTRY(CKA_SIGN),         TRUE_ENTRY(CKA_VERIFY),
};
CK_ATTRIBUTE libC_GTest_P11::m_rsaKeyPairPublicGenAttributes[RSA_PUBLIC_KEY_GEN_ATTR_CNT] = {
    EMPTY_ENTRY(CKA_CLASS),
    EMPTY_ENTRY(CKA_KEY_TYPE),
    TRUE_ENTRY(CKA_TOKEN),
    FALSE_ENTRY(CKA_DERIVE),
    TRUE_ENTRY(CKA_ENCRYPT),
    TRUE_ENTRY(CKA_VERIFY),
    TRUE_ENTRY(CKA_VERIFY_RECOVER),
    TRUE_ENTRY(CKA_WRAP),
    TRUE_ENTRY(CKA_MODIFIABLE),
    TRUE_ENTRY(CKA_PRIVATE),
    EMPTY_ENTRY(CKA_MODULUS_BITS),
    {CKA_PUBLIC_EXPONENT, libC_GTest_P11::m_rsaPublicExponent,
     sizeof(libC_GTest_P11::m_rsaPublicExponent)},
};
CK_ATTRIBUTE libC_GTest_P11::m_rsaKeyPairPrivateGenAttributes[RSA_PRIVATE_KEY_GEN_ATTR_CNT] = {
    EMPTY_ENTRY(CKA_CLASS),       EMPTY_ENTRY(CKA_KEY_TYPE),     TRUE_ENTRY(CKA_TOKEN),
    FALSE_ENTRY(CKA_DERIVE),      TRUE_ENTRY(CKA_DECRYPT),       TRUE_ENTRY(CKA_SIGN),
    TRUE_ENTRY(CKA_SIGN_RECOVER), TRUE_ENTRY(CKA_UNWRAP),        TRUE_ENTRY(CKA_EXTRACTABLE),
    TRUE_ENTRY(CKA_MODIFIABLE),   TRUE_ENTRY(CKA_PRIVATE),
};
CK_ATTRIBUTE libC_GTest_P11::m_ecKeyPairPublicGenAttributes[EC_PUBLIC_KEY_GEN_ATTR_CNT] = {
    EMPTY_ENTRY(CKA_CLASS),  EMPTY_ENTRY(CKA_KEY_TYPE), TRUE_ENTRY(CKA_TOKEN),
    TRUE_ENTRY(CKA_PRIVATE), TRUE_ENTRY(CKA_VERIFY),    TRUE_ENTRY(CKA_DERIVE),
    EMPTY_ENTRY(CKA_EC_PARAMS),
};
CK_ATTRIBUTE libC_GTest_P11::m_ecKeyPairPrivateGenAttributes[EC_PRIVATE_KEY_GEN_ATTR_CNT] = {
    EMPTY_ENTRY(CKA_CLASS),    EMPTY_ENTRY(CKA_KEY_TYPE), TRUE_ENTRY(CKA_TOKEN),
    TRUE_ENTRY(CKA_PRIVATE),   TRUE_ENTRY(CKA_SENSITIVE), TRUE_ENTRY(CKA_SIGN),
    TRUE_ENTRY(CKA_DERIVE),
};
CK_ATTRIBUTE libC_GTest_P11::m_domainAttributes[DOMAIN_KEY_GEN_ATTR_CNT] = {
    EMPTY_ENTRY(CKA_CLASS), EMPTY_ENTRY(CKA_KEY_TYPE), EMPTY_ENTRY(CKA_PRIME_BITS),
    TRUE_ENTRY(CKA_TOKEN),  TRUE_ENTRY(CKA_PRIVATE),
};
CK_ATTRIBUTE libC_GTest_P11::m_x942domainAttributes[6] = {
    EMPTY_ENTRY(CKA_CLASS),         EMPTY_ENTRY(CKA_KEY_TYPE), EMPTY_ENTRY(CKA_PRIME_BITS),
    EMPTY_ENTRY(CKA_SUBPRIME_BITS), TRUE_ENTRY(CKA_TOKEN),     TRUE_ENTRY(CKA_PRIVATE),
};
CK_ATTRIBUTE libC_GTest_P11::m_dsaParamTemplate[3] = {
    EMPTY_ENTRY(CKA_PRIME), EMPTY_ENTRY(CKA_SUBPRIME), EMPTY_ENTRY(CKA_BASE),
};
CK_ATTRIBUTE libC_GTest_P11::m_dhParamTemplate[3] = {
    EMPTY_ENTRY(CKA_PRIME), EMPTY_ENTRY(CKA_BASE), EMPTY_ENTRY(CKA_PRIME_BITS),
};
CK_ATTRIBUTE libC_GTest_P11::m_dhPublicParamTemplate[DH_PUBLIC_KEY_GEN_ATT_CNT] = {
    EMPTY_ENTRY(CKA_CLASS), EMPTY_ENTRY(CKA_KEY_TYPE), TRUE_ENTRY(CKA_TOKEN),
    TRUE_ENTRY(CKA_PRIVATE), EMPTY_ENTRY(CKA_PRIME),   EMPTY_ENTRY(CKA_BASE),
    TRUE_ENTRY(CKA_DERIVE),
};
CK_ATTRIBUTE libC_GTest_P11::m_dhPrivateParamTemplate[DH_PRIVATE_KEY_GEN_ATT_CNT] = {
    EMPTY_ENTRY(CKA_CLASS),  EMPTY_ENTRY(CKA_KEY_TYPE), TRUE_ENTRY(CKA_TOKEN),
    TRUE_ENTRY(CKA_SENSITIVE), TRUE_ENTRY(CKA_DERIVE),  EMPTY_ENTRY(CKA_PRIME),
    EMPTY_ENTRY(CKA_BASE),   EMPTY_ENTRY(CKA_VALUE_BITS),
};
CK_ATTRIBUTE libC_GTest_P11::m_dhx9ParamTemplate[3] = {
    EMPTY_ENTRY(CKA_PRIME), EMPTY_ENTRY(CKA_SUBPRIME), EMPTY_ENTRY(CKA_BASE),
};
CK_ATTRIBUTE libC_GTest_P11::m_dhx9PublicParamTemplate[7] = {
    EMPTY_ENTRY(CKA_CLASS), EMPTY_ENTRY(CKA_KEY_TYPE), TRUE_ENTRY(CKA_TOKEN),
    TRUE_ENTRY(CKA_PRIVATE), EMPTY_ENTRY(CKA_PRIME),   EMPTY_ENTRY(CKA_BASE),
    EMPTY_ENTRY(CKA_SUBPRIME),
};

#define ZORVEL_DEFINE_OBJECT_HANDLE(name) CK_OBJECT_HANDLE libC_GTest_P11::name = 0;
ZORVEL_FIXTURE_OBJECT_HANDLES(ZORVEL_DEFINE_OBJECT_HANDLE)
#undef ZORVEL_DEFINE_OBJECT_HANDLE

// Suite life cycle ---------------------------------------------------------------------

void libC_GTest_P11::SetUpTestCase()
{
    SetInitializeArgs();
    ASSERT_TRUE(CKR_OK == C_GetFunctionList(&m_pFList));
    m_pFList = CheckedFunctionList(m_pFList);
    ASSERT_TRUE(CKR_OK == Initialize(&initArgs));
    ASSERT_TRUE(CKR_OK == GetSlotList(CK_TRUE));
    ASSERT_TRUE(CKR_OK == OpenSession());
    ASSERT_TRUE(CKR_OK == LogonUser()) << LastLoginInWords();
    ASSERT_TRUE(CKR_OK == GetMechanismList());
}

void libC_GTest_P11::TearDownTestCase()
{
    // A failed finalisation leaves everything as it is, so the state stays inspectable.
    ASSERT_TRUE(CKR_OK == Finalize());
    ReleaseSessionState();
}

void libC_GTest_P11::ReleaseSessionState()
{
    delete[] m_pSlotIDs;
    m_mechInfos.clear();
    m_pFList = NULL_PTR;
    m_pSlotIDs = NULL_PTR;
    m_pApplication = NULL_PTR;
    m_pNotify = NULL_PTR;
    m_slotsCount = 0;
    m_hSession = 0;
#define ZORVEL_ZERO_OBJECT_HANDLE(name) name = 0;
    ZORVEL_FIXTURE_OBJECT_HANDLES(ZORVEL_ZERO_OBJECT_HANDLE)
#undef ZORVEL_ZERO_OBJECT_HANDLE
}

// The nine cases on the base life cycle.
#define ZORVEL_BASE_SUITE_LIFE_CYCLE(Fixture)                                                  \
    void Fixture::SetUpTestCase() { libC_GTest_P11::SetUpTestCase(); }                         \
    void Fixture::TearDownTestCase() { libC_GTest_P11::TearDownTestCase(); }

ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_P11_Multi)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_AES)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_CAMELLIA)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_DES3)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_RSA)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_EC)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_DSA)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_DH)
ZORVEL_BASE_SUITE_LIFE_CYCLE(libC_GTest_ObjectManagement)

void libC_GTest_Fallback::SetUpTestCase()
{
    setHSM(0);
    libC_GTest_P11::SetUpTestCase();
}

void libC_GTest_Fallback::TearDownTestCase()
{
    libC_GTest_P11::TearDownTestCase();
}

void libC_GTest_Sessions::SetUpTestCase()
{
    SetInitializeArgs();
    ASSERT_TRUE(IsCkrOk(C_GetFunctionList(&m_pFList)));
    m_pFList = CheckedFunctionList(m_pFList);
    ASSERT_TRUE(IsCkrOk(Initialize(&initArgs)));
    ASSERT_TRUE(IsCkrOk(GetSlotList(CK_TRUE)));
    ASSERT_TRUE(IsCkrOk(GetMechanismList()));
}

void libC_GTest_Sessions::TearDownTestCase()
{
    libC_GTest_P11::TearDownTestCase();
}

// Session routines ---------------------------------------------------------------------

bool libC_GTest_P11::HasSlotUnderTest()
{
    return m_pSlotIDs != NULL_PTR && m_slotID < m_slotsCount;
}

CK_RV libC_GTest_P11::Initialize(CK_C_INITIALIZE_ARGS_PTR args)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    return m_pFList->C_Initialize(args);
}

CK_RV libC_GTest_P11::GetSlotList(CK_BBOOL tokenPresent)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;

    delete[] m_pSlotIDs;
    m_pSlotIDs = NULL_PTR;
    m_slotsCount = 0;

    CK_RV rv = m_pFList->C_GetSlotList(tokenPresent, NULL_PTR, &m_slotsCount);
    if (rv != CKR_OK) {
        m_slotsCount = 0;
        return rv;
    }
    const CK_ULONG allocated = m_slotsCount;
    m_pSlotIDs = new CK_SLOT_ID[allocated]();
    rv = m_pFList->C_GetSlotList(tokenPresent, m_pSlotIDs, &m_slotsCount);
    // A count above the allocation (the list grew between the calls) is never trusted.
    m_slotsCount = std::min(m_slotsCount, allocated);
    return rv;
}

CK_RV libC_GTest_P11::OpenSession()
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    if (!HasSlotUnderTest())
        return CKR_SLOT_ID_INVALID;

    if (m_hSession != 0)
        m_pFList->C_CloseSession(m_hSession); // a session left by a failed tear-down
    m_hSession = 0;
    return m_pFList->C_OpenSession(m_pSlotIDs[m_slotID], m_loginFlags, m_pApplication, m_pNotify,
                                   &m_hSession);
}

CK_RV libC_GTest_P11::LogonUser()
{
    return LoginUser(m_pFList, m_hSession);
}

CK_RV libC_GTest_P11::GetMechanismList()
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    m_mechInfos.clear();
    if (!HasSlotUnderTest())
        return CKR_SLOT_ID_INVALID;

    const CK_SLOT_ID slot = m_pSlotIDs[m_slotID];
    CK_ULONG count = 0;
    CK_RV rv = m_pFList->C_GetMechanismList(slot, NULL_PTR, &count);
    if (count == 0)
        return rv;

    std::unique_ptr<CK_MECHANISM_TYPE[]> types(new CK_MECHANISM_TYPE[count]());
    const CK_ULONG allocated = count;
    rv = m_pFList->C_GetMechanismList(slot, types.get(), &count);
    if (rv != CKR_OK)
        return rv;
    count = std::min(count, allocated);

    // A failure for one mechanism leaves it out; only the last call's answer is returned.
    // Of a type listed twice the first record stays.
    for (CK_ULONG i = 0; i < count; ++i) {
        std::unique_ptr<CK_MECHANISM_INFO> record(new CK_MECHANISM_INFO());
        rv = m_pFList->C_GetMechanismInfo(slot, types[i], record.get());
        if (rv == CKR_OK)
            m_mechInfos.emplace(types[i], std::move(record));
    }
    return rv;
}

CK_RV libC_GTest_P11::Finalize()
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    return m_pFList->C_Finalize(NULL_PTR);
}

// Information and random numbers -------------------------------------------------------

CK_RV libC_GTest_P11::GetInfo(CK_INFO& info)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    std::memset(&info, 0, sizeof(info));
    return m_pFList->C_GetInfo(&info);
}

CK_RV libC_GTest_P11::GetSlotInfo(CK_SLOT_INFO& slotInfo)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    if (!HasSlotUnderTest())
        return CKR_SLOT_ID_INVALID;
    std::memset(&slotInfo, 0, sizeof(slotInfo));
    return m_pFList->C_GetSlotInfo(m_pSlotIDs[m_slotID], &slotInfo);
}

CK_RV libC_GTest_P11::GetTokenInfo(CK_TOKEN_INFO& tokenInfo)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    if (!HasSlotUnderTest())
        return CKR_SLOT_ID_INVALID;
    std::memset(&tokenInfo, 0, sizeof(tokenInfo));
    return m_pFList->C_GetTokenInfo(m_pSlotIDs[m_slotID], &tokenInfo);
}

CK_RV libC_GTest_P11::GetSessionInfo(CK_SESSION_INFO& info)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    std::memset(&info, 0, sizeof(info));
    return m_pFList->C_GetSessionInfo(m_hSession, &info);
}

CK_RV libC_GTest_P11::SeedRandom(CK_ULONG j)
{
    static CK_BYTE seed[16] = {0x53, 0x65, 0x65, 0x64, 0x20, 0x70, 0x61, 0x74,
                               0x74, 0x65, 0x72, 0x6e, 0x20, 0x31, 0x36, 0x42};
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    return m_pFList->C_SeedRandom(m_hSession, seed, std::min<CK_ULONG>(j, sizeof(seed)));
}

CK_RV libC_GTest_P11::GenerateRandom()
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    CK_BYTE buffer[64] = {};
    return m_pFList->C_GenerateRandom(m_hSession, buffer, sizeof(buffer));
}

// Mechanism records ----------------------------------------------------------------------

testing::AssertionResult libC_GTest_P11::LookUpMechanismInfo(CK_MECHANISM_TYPE type,
                                                             CK_MECHANISM_INFO& info)
{
    const auto found = m_mechInfos.find(type);
    if (found == m_mechInfos.end() || !found->second) {
        std::ostringstream message;
        message << "the token reported no mechanism 0x" << std::hex << type;
        return testing::AssertionFailure() << message.str();
    }
    info = *found->second;
    return testing::AssertionSuccess();
}
