// Test bodies of the session and object cases against the fake token library: searches
// that find nothing or another object, and closes that fail after every session of the
// slot was closed.
#include <algorithm>
#include <string>
#include <vector>

#include "FakeTokenFixture.h"

#include "case_body_classes.h"
#include "libC_GTest_ObjectManagement.h"
#include "libC_GTest_P11_Multi.h"
#include "case_bodies.h"

namespace {

// Every search finds the handles `found`.
void FindHandles(std::vector<CK_OBJECT_HANDLE> found)
{
    TheFakeToken().C_FindObjects = [found](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles,
                                           CK_ULONG max, CK_ULONG_PTR count) {
        *count = std::min<CK_ULONG>(found.size(), max);
        std::copy(found.begin(), found.begin() + *count, handles);
        return CKR_OK;
    };
}

// Search results and what the test may then read and destroy, for a created object 42.
struct SearchCase {
    std::vector<CK_OBJECT_HANDLE> found;
    bool reads;              // an attribute read of the handle found
    CK_OBJECT_HANDLE destroy; // the one handle destroyed
    bool passes;
};

TEST_F(CaseBodies, FindObjectsByIDTouchesOnlyTheKeyItGenerated)
{
    const SearchCase cases[] = {
        {{42}, true, 42, true},
        {{}, false, 42, false},  // nothing found: no handle from the search is used
        {{7}, false, 42, false}, // another object found: it is left alone
    };
    for (const SearchCase& c : cases) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_mechInfos[CKM_AES_KEY_GEN].reset(new CK_MECHANISM_INFO{16, 32, 0});
        Destroyed destroyed;
        CreateAndLogDestroys(42, destroyed);
        FindHandles(c.found);

        const auto failures = RunBody<libC_GTest_P11_Multi_FindObjectsByID_Body>();
        EXPECT_EQ(c.passes, failures.empty()) << c.found.size() << " found";
        EXPECT_EQ(c.reads ? 1U : 0U, Fake().CallCount("C_GetAttributeValue"));
        EXPECT_EQ((Destroyed{{P11::m_hSession, c.destroy}}), destroyed);
    }
}

TEST_F(CaseBodies, RetrieveCertificateReadsOnlyWhatItFound)
{
    for (const SearchCase& c : {SearchCase{{42}, true, 42, true}, SearchCase{{}, false, 42, false}}) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        Destroyed destroyed;
        CreateAndLogDestroys(42, destroyed);
        FindHandles(c.found);

        const auto failures = RunBody<libC_GTest_ObjectManagement_RetrieveCertificate_Body>();
        EXPECT_EQ(c.passes, failures.empty()) << c.found.size() << " found";
        // The read is the two-call read of GetAttributeValuesWithAllocation.
        EXPECT_EQ(c.reads ? 2U : 0U, Fake().CallCount("C_GetAttributeValue"));
        EXPECT_EQ((Destroyed{{P11::m_hSession, 42}}), destroyed);
    }
}

TEST_F(CaseBodies, CheckROSessionDestroysItsKeyWhateverTheSearchesFind)
{
    constexpr CK_SESSION_HANDLE kReadOnly = 5;
    constexpr CK_SESSION_HANDLE kRebuilt = 6;
    struct Row {
        std::vector<CK_OBJECT_HANDLE> foundReadOnly, foundRebuilt;
        Destroyed destroyed;
    };
    const Row rows[] = {
        // The read-only session's destroy is refused: the key goes through the handle found.
        {{42}, {42}, {{kReadOnly, 42}, {kRebuilt, 42}}},
        // Nothing found at all: no destroy in the read-only session, the key goes by its
        // own handle.
        {{}, {}, {{kRebuilt, 42}}},
    };
    for (const Row& row : rows) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_hSession = 1;
        Destroyed destroyed;
        CreateAndLogDestroys(42, destroyed);
        Fake().C_OpenSession = [](CK_SLOT_ID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
            *session = (flags & CKF_RW_SESSION) ? kRebuilt : kReadOnly;
            return CKR_OK;
        };
        int searches = 0;
        Fake().C_FindObjects = [&](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG,
                                   CK_ULONG_PTR count) {
            const auto& found = ++searches == 1 ? row.foundReadOnly : row.foundRebuilt;
            *count = found.size();
            if (!found.empty())
                handles[0] = found[0];
            return CKR_OK;
        };

        RunBody<libC_GTest_ObjectManagement_CheckROSession_Body>();
        EXPECT_EQ(row.destroyed, destroyed);
        EXPECT_EQ(kRebuilt, P11::m_hSession);
    }
}

// After the token refused the user PIN, the object tests' own logins call nothing.
TEST_F(CaseBodies, ObjectTestsTryNoLoginAfterARefusedPin)
{
    Destroyed destroyed;
    CreateAndLogDestroys(42, destroyed);
    Fake().C_Login = Answer{CKR_PIN_INCORRECT};
    ASSERT_EQ(CKR_PIN_INCORRECT, P11::LogonUser());
    RunBody<libC_GTest_ObjectManagement_CheckROSession_Body>();
    RunBody<libC_GTest_ObjectManagement_CreatePublicKeyInROSession_Body>();
    EXPECT_EQ(1u, Fake().CallCount("C_Login"));
    EXPECT_EQ(3u, Fake().CallCount("C_OpenSession")) << "both bodies reach their logins";
}

// The token closes every session of the slot, but refuses none of the closes after it:
// the test fails, and the fixture session is opened and logged in again all the same.
TEST_F(CaseBodies, ClosingAllSessionsRebuildsTheFixtureSessionAlsoOnFailure)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const Runner runners[] = {
        RunBody<libC_GTest_P11_Multi_One_Slot_Multiple_Open_CloseAll_Body>,
        RunBody<libC_GTest_P11_Multi_Multiple_Slots_Open_Close_Body>,
    };
    for (const Runner run : runners) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_hSession = 1;
        CK_SESSION_HANDLE next = 100;
        Fake().C_OpenSession = [&next](CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
            *session = next++;
            return CKR_OK;
        };

        const auto failures = run();
        ASSERT_EQ(1U, failures.size());
        EXPECT_TRUE(failures[0].fatal);
        const std::vector<std::string>& calls = Fake().calls;
        const auto closeAll = std::find(calls.begin(), calls.end(), "C_CloseAllSessions");
        ASSERT_NE(calls.end(), closeAll);
        EXPECT_EQ((std::vector<std::string>{"C_CloseSession", "C_CloseSession", "C_OpenSession", "C_Login"}),
                  std::vector<std::string>(calls.end() - 4, calls.end()))
            << "the rebuild closes the old handle, opens and logs in";
        EXPECT_EQ(next - 1, P11::m_hSession);
    }
}

} // namespace
