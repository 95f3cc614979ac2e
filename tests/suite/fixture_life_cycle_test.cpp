// The base fixture's session routines, suite set-up and tear-down, against the fake token.
#include <cstring>
#include <map>
#include <vector>

#include "FakeTokenFixture.h"

namespace {

constexpr CK_MECHANISM_TYPE kTypes[] = {CKM_SHA_1, CKM_SHA256, CKM_AES_KEY_GEN, CKM_MD5,
                                        CKM_RSA_PKCS};

// The token lists `types`; the info call for the i-th listed type answers results[i]
// (default CKR_OK) and reports the position in ulMinKeySize.
void ListMechanisms(std::vector<CK_MECHANISM_TYPE> types, std::map<size_t, CK_RV> results = {})
{
    FakeToken& fake = TheFakeToken();
    fake.C_GetMechanismList = [types](CK_SLOT_ID, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
        if (list != NULL_PTR)
            std::copy(types.begin(), types.end(), list);
        *count = types.size();
        return CKR_OK;
    };
    auto position = std::make_shared<size_t>(0);
    fake.C_GetMechanismInfo = [results, position](CK_SLOT_ID, CK_MECHANISM_TYPE,
                                                   CK_MECHANISM_INFO_PTR info) {
        const size_t i = (*position)++;
        info->ulMinKeySize = i;
        info->ulMaxKeySize = 100 + i;
        const auto found = results.find(i);
        return found == results.end() ? CKR_OK : found->second;
    };
}

void RequireMechanismInfo(CK_MECHANISM_TYPE type)
{
    CK_MECHANISM_INFO info;
    ASSERT_MECHANISM_INFO(type, info);
}

using FixtureLifeCycle = FakeTokenTest;

TEST_F(FixtureLifeCycle, TokenWithoutMechanismsGivesAnEmptyMap)
{
    P11::m_mechInfos[CKM_MD5].reset(new CK_MECHANISM_INFO());
    ListMechanisms({});
    EXPECT_EQ(CKR_OK, P11::GetMechanismList());
    EXPECT_TRUE(P11::m_mechInfos.empty());
    EXPECT_EQ(1u, Fake().CallCount("C_GetMechanismList"));
    EXPECT_EQ(0u, Fake().CallCount("C_GetMechanismInfo"));
}

TEST_F(FixtureLifeCycle, TypeListedTwiceKeepsTheFirstRecord)
{
    ListMechanisms({CKM_SHA_1, CKM_MD5, CKM_SHA_1});
    EXPECT_EQ(CKR_OK, P11::GetMechanismList());
    ASSERT_EQ(2u, P11::m_mechInfos.size());
    EXPECT_EQ(0u, P11::m_mechInfos[CKM_SHA_1]->ulMinKeySize);
}

TEST_F(FixtureLifeCycle, FailingInfoLeavesTheMechanismOutAndFailsOnlyWhenLast)
{
    struct Row {
        size_t failing;
        CK_RV expected;
    };
    for (const Row row : {Row{2, CKR_OK}, Row{4, CKR_DEVICE_ERROR}}) {
        ListMechanisms({std::begin(kTypes), std::end(kTypes)}, {{row.failing, CKR_DEVICE_ERROR}});
        EXPECT_EQ(row.expected, P11::GetMechanismList()) << row.failing;
        EXPECT_EQ(4u, P11::m_mechInfos.size()) << row.failing;
        EXPECT_EQ(0u, P11::m_mechInfos.count(kTypes[row.failing])) << row.failing;
    }
}

TEST_F(FixtureLifeCycle, MissingMechanismFailsNamingItAndInsertsNothing)
{
    ListMechanisms({CKM_AES_KEY_GEN});
    ASSERT_EQ(CKR_OK, P11::GetMechanismList());

    CK_MECHANISM_INFO info = {};
    EXPECT_TRUE(P11::LookUpMechanismInfo(CKM_AES_KEY_GEN, info));
    EXPECT_EQ(100u, info.ulMaxKeySize);
    EXPECT_FATAL_FAILURE(RequireMechanismInfo(CKM_CAMELLIA_KEY_GEN),
                         "the token reported no mechanism 0x550");
    EXPECT_EQ(1u, P11::m_mechInfos.size());

    // An entry without a record, as the map's indexing leaves it, counts as missing too
    // and is released without harm.
    P11::m_mechInfos[CKM_DES3_KEY_GEN];
    EXPECT_FALSE(P11::LookUpMechanismInfo(CKM_DES3_KEY_GEN, info));
    EXPECT_EQ(CKR_OK, P11::GetMechanismList());
}

TEST_F(FixtureLifeCycle, SetUpOpensAUserSessionOnTheFirstSlotWithAToken)
{
    delete[] P11::m_pSlotIDs;
    P11::m_pSlotIDs = NULL_PTR;
    P11::m_pFList = NULL_PTR;
    ListSlots({5, 9});
    ListMechanisms({std::begin(kTypes), std::end(kTypes)});
    CK_FLAGS initFlags = 0;
    Fake().C_Initialize = [&initFlags](CK_VOID_PTR args) {
        initFlags = static_cast<CK_C_INITIALIZE_ARGS*>(args)->flags;
        return CKR_OK;
    };
    CK_SLOT_ID openedOn = 0;
    CK_FLAGS sessionFlags = 0;
    Fake().C_OpenSession = [&](CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                               CK_SESSION_HANDLE_PTR session) {
        openedOn = slot;
        sessionFlags = flags;
        *session = 33;
        return CKR_OK;
    };
    std::string pin;
    CK_USER_TYPE user = 99;
    Fake().C_Login = [&](CK_SESSION_HANDLE session, CK_USER_TYPE type, CK_UTF8CHAR_PTR pPin,
                         CK_ULONG length) {
        EXPECT_EQ(33u, session);
        user = type;
        pin.assign(reinterpret_cast<char*>(pPin), length);
        return CKR_OK;
    };
    std::memcpy(USER_PIN, "4321", 4);
    USER_PIN_LEN = 4;

    P11::SetUpTestCase();

    std::memset(USER_PIN, 0, 4);
    USER_PIN_LEN = 0;
    // The fixture calls through a copy of the library's list, the same where no entry is
    // missing.
    ASSERT_TRUE(P11::m_pFList != NULL_PTR);
    EXPECT_EQ(0, std::memcmp(&Fake().functionList, P11::m_pFList, sizeof(CK_FUNCTION_LIST)));
    EXPECT_EQ(static_cast<CK_FLAGS>(CKF_OS_LOCKING_OK), initFlags);
    EXPECT_EQ(5u, openedOn);
    EXPECT_EQ(static_cast<CK_FLAGS>(CKF_RW_SESSION | CKF_SERIAL_SESSION), sessionFlags);
    EXPECT_EQ(33u, P11::m_hSession);
    EXPECT_EQ(static_cast<CK_USER_TYPE>(CKU_USER), user);
    EXPECT_EQ("4321", pin);
    EXPECT_EQ(2u, P11::m_slotsCount);
    EXPECT_EQ(5u, P11::m_mechInfos.size());
    EXPECT_EQ((std::vector<std::string>{"C_GetFunctionList", "C_Initialize", "C_GetSlotList",
                                        "C_GetSlotList", "C_OpenSession", "C_Login",
                                        "C_GetMechanismList", "C_GetMechanismList",
                                        "C_GetMechanismInfo", "C_GetMechanismInfo",
                                        "C_GetMechanismInfo", "C_GetMechanismInfo",
                                        "C_GetMechanismInfo"}),
              Fake().calls);
}

TEST_F(FixtureLifeCycle, SetUpStopsAtTheFirstFailingStep)
{
    ListSlots({3});
    Fake().C_Login = Answer{CKR_PIN_INCORRECT};
    EXPECT_FATAL_FAILURE(libC_GTest_P11::SetUpTestCase(), "LogonUser()");
    EXPECT_EQ(0u, Fake().CallCount("C_GetMechanismList"));

    ResetFakeToken();
    ForgetRefusedUserPin();
    ListSlots({3});
    ListMechanisms({std::begin(kTypes), std::end(kTypes)}, {{4, CKR_DEVICE_ERROR}});
    EXPECT_FATAL_FAILURE(libC_GTest_P11::SetUpTestCase(), "GetMechanismList()");
}

TEST_F(FixtureLifeCycle, SetUpClosesASessionLeftOpenWhateverTheCloseAnswers)
{
    ListSlots({3});
    P11::m_hSession = 42;
    CK_SESSION_HANDLE closed = 0;
    Fake().C_CloseSession = [&closed](CK_SESSION_HANDLE session) {
        closed = session;
        return static_cast<CK_RV>(CKR_SESSION_HANDLE_INVALID);
    };
    P11::SetUpTestCase();
    EXPECT_EQ(42u, closed);
    EXPECT_EQ(1u, Fake().CallCount("C_OpenSession"));
}

TEST_F(FixtureLifeCycle, EmptySlotListIsNeverIndexed)
{
    ListSlots({});
    EXPECT_FATAL_FAILURE(libC_GTest_P11::SetUpTestCase(), "OpenSession()");
    EXPECT_EQ(0u, P11::m_slotsCount);

    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, P11::OpenSession());
    EXPECT_EQ(CKR_SLOT_ID_INVALID, P11::GetMechanismList());
    EXPECT_EQ(CKR_SLOT_ID_INVALID, P11::GetSlotInfo(slotInfo));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, P11::GetTokenInfo(tokenInfo));

    // Without any slot list at all.
    delete[] P11::m_pSlotIDs;
    P11::m_pSlotIDs = NULL_PTR;
    P11::m_slotsCount = 3;
    EXPECT_EQ(CKR_SLOT_ID_INVALID, P11::OpenSession());
    EXPECT_EQ(CKR_SLOT_ID_INVALID, P11::GetMechanismList());

    EXPECT_EQ(0u, Fake().CallCount("C_OpenSession"));
    EXPECT_EQ(0u, Fake().CallCount("C_GetMechanismList"));
    EXPECT_EQ(0u, Fake().CallCount("C_GetSlotInfo"));
    EXPECT_EQ(0u, Fake().CallCount("C_GetTokenInfo"));
}

TEST_F(FixtureLifeCycle, SlotCountBeyondTheAllocationIsNotTrusted)
{
    Fake().C_GetSlotList = [](CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
        if (list == NULL_PTR) {
            *count = 1;
            return CKR_OK;
        }
        list[0] = 4;
        *count = 5; // the list grew in between
        return static_cast<CK_RV>(CKR_BUFFER_TOO_SMALL);
    };
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, P11::GetSlotList(CK_TRUE));
    EXPECT_EQ(1u, P11::m_slotsCount);
}

TEST_F(FixtureLifeCycle, RoutinesWithoutAFunctionListCallNothing)
{
    P11::m_pFList = NULL_PTR;
    CK_INFO info;
    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    CK_SESSION_INFO sessionInfo;
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::Initialize(NULL_PTR));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetSlotList(CK_TRUE));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::OpenSession());
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::LogonUser());
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetMechanismList());
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::Finalize());
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetInfo(info));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetSlotInfo(slotInfo));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetTokenInfo(tokenInfo));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetSessionInfo(sessionInfo));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::SeedRandom(16));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GenerateRandom());
    EXPECT_TRUE(Fake().calls.empty());
    EXPECT_FATAL_FAILURE(libC_GTest_P11::TearDownTestCase(), "Finalize()");
}

// Every object handle of the fixture, for setting and checking them all at once.
std::vector<CK_OBJECT_HANDLE*> AllObjectHandles()
{
#define ZORVEL_HANDLE_ADDRESS(name) &libC_GTest_P11::name,
    return {ZORVEL_FIXTURE_OBJECT_HANDLES(ZORVEL_HANDLE_ADDRESS)};
#undef ZORVEL_HANDLE_ADDRESS
}

void FillSessionState()
{
    libC_GTest_P11::m_hSession = 12;
    libC_GTest_P11::m_mechInfos[CKM_MD5].reset(new CK_MECHANISM_INFO());
    libC_GTest_P11::m_mechInfos[CKM_SHA_1]; // an entry without a record
    CK_OBJECT_HANDLE value = 1000;
    for (CK_OBJECT_HANDLE* handle : AllObjectHandles())
        *handle = value++;
}

TEST_F(FixtureLifeCycle, FailedFinalizeLeavesTheStateAsItWas)
{
    FillSessionState();
    Fake().C_Finalize = Answer{CKR_GENERAL_ERROR};
    EXPECT_FATAL_FAILURE(libC_GTest_P11::TearDownTestCase(), "Finalize()");

    // The fixture calls through a copy of the library's list, the same where no entry is
    // missing.
    ASSERT_TRUE(P11::m_pFList != NULL_PTR);
    EXPECT_EQ(0, std::memcmp(&Fake().functionList, P11::m_pFList, sizeof(CK_FUNCTION_LIST)));
    EXPECT_NE(nullptr, P11::m_pSlotIDs);
    EXPECT_EQ(1u, P11::m_slotsCount);
    EXPECT_EQ(12u, P11::m_hSession);
    EXPECT_EQ(2u, P11::m_mechInfos.size());
    CK_OBJECT_HANDLE value = 1000;
    for (CK_OBJECT_HANDLE* handle : AllObjectHandles())
        EXPECT_EQ(value++, *handle);
}

TEST_F(FixtureLifeCycle, TearDownResetsTheWholeSessionState)
{
    ASSERT_EQ(63u, AllObjectHandles().size());
    FillSessionState();
    P11::TearDownTestCase();

    EXPECT_EQ(1u, Fake().CallCount("C_Finalize"));
    EXPECT_EQ(nullptr, P11::m_pFList);
    EXPECT_EQ(nullptr, P11::m_pSlotIDs);
    EXPECT_EQ(0u, P11::m_slotsCount);
    EXPECT_EQ(0u, P11::m_hSession);
    EXPECT_TRUE(P11::m_mechInfos.empty());
    for (CK_OBJECT_HANDLE* handle : AllObjectHandles())
        EXPECT_EQ(0u, *handle);
}

TEST_F(FixtureLifeCycle, SessionsSetUpOpensNoSessionAndFallbackSelectsHsmZeroFirst)
{
    ListSlots({3});
    libC_GTest_Sessions::SetUpTestCase();
    EXPECT_EQ(0u, Fake().CallCount("C_OpenSession"));
    EXPECT_EQ(0u, Fake().CallCount("C_Login"));
    EXPECT_EQ(1u, Fake().CallCount("C_GetMechanismList"));

    ResetFakeToken();
    ListSlots({3});
    libC_GTest_Fallback::SetUpTestCase();
    ASSERT_FALSE(Fake().calls.empty());
    EXPECT_EQ("setHSM", Fake().calls.front());
    EXPECT_EQ(std::vector<unsigned int>{0}, Fake().selectedHsms);
    EXPECT_EQ(1u, Fake().CallCount("C_Login"));
}

TEST_F(FixtureLifeCycle, SeedRandomPassesThePatternPrefix)
{
    std::vector<CK_ULONG> lengths;
    Fake().C_SeedRandom = [&lengths](CK_SESSION_HANDLE, CK_BYTE_PTR seed, CK_ULONG length) {
        EXPECT_NE(nullptr, seed);
        lengths.push_back(length);
        return CKR_OK;
    };
    EXPECT_EQ(CKR_OK, P11::SeedRandom(0));
    EXPECT_EQ(CKR_OK, P11::SeedRandom(16));
    EXPECT_EQ((std::vector<CK_ULONG>{0, 16}), lengths);
}

} // namespace
