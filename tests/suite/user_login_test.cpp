// The user's login against the fake token: once the token refuses the user PIN, no later
// login of the run calls C_Login, by whichever route it comes, and the failures say why.
#include <string>
#include <vector>

#include "FakeTokenFixture.h"
#include "FixtureSessionRebuild.h"

#include "case_body_classes.h"
#include "libC_GTest_Sessions.h"
#include "case_bodies.h"

namespace {

using UserLogin = FakeTokenTest;

// googletest's report of the suite set-up's failed login, with the words after it.
std::string SetUpLoginFailure(const std::string& words)
{
    return "Value of: CKR_OK == LogonUser()\n  Actual: false\nExpected: true\n" + words;
}

TEST_F(UserLogin, ARefusedPinIsNeverTriedAgain)
{
    const struct {
        CK_RV refusal;
        const char* inWords;
        const char* isCkrText; // IsCkr's description of the answer
    } rows[] = {
        {CKR_PIN_INCORRECT, "CKR_PIN_INCORRECT (0xA0)", "160 0xa0"},
        {CKR_PIN_INVALID, "CKR_PIN_INVALID (0xA1)", "161 0xa1"},
        {CKR_PIN_LEN_RANGE, "CKR_PIN_LEN_RANGE (0xA2)", "162 0xa2"},
        {CKR_PIN_EXPIRED, "CKR_PIN_EXPIRED (0xA3)", "163 0xa3"},
        {CKR_PIN_LOCKED, "CKR_PIN_LOCKED (0xA4)", "164 0xa4"},
    };
    for (const auto& row : rows) {
        // No SCOPED_TRACE: it would join the recorded failure messages.
        ResetFakeToken();
        ForgetRefusedUserPin();
        ListSlots({3});
        Fake().C_Login = Answer{row.refusal};
        const std::string earlier =
            std::string("no login tried: the token refused the user PIN earlier in this run with ") + row.inWords;

        // The first refusal, at the suite set-up: one call, and the report says why no
        // further login follows.
        auto failures = RecordFailures(libC_GTest_P11::SetUpTestCase);
        ASSERT_EQ(1u, failures.size()) << row.inWords;
        EXPECT_EQ(SetUpLoginFailure(std::string("the token refused the user PIN: C_Login answered ") +
                                    row.inWords +
                                    "; no further login is tried with this PIN in this run, so that "
                                    "the token does not lock it"),
                  failures[0].message);

        // Every later route answers the refusal at once: the next case's set-up, the
        // session tests' explicit login, the fixture session's rebuild, the routine itself.
        failures = RecordFailures(libC_GTest_P11::SetUpTestCase);
        ASSERT_EQ(1u, failures.size()) << row.inWords;
        EXPECT_EQ(SetUpLoginFailure(earlier), failures[0].message);
        failures = RunBody<libC_GTest_Sessions_PublicUserROSession_Body>();
        ASSERT_EQ(1u, failures.size()) << row.inWords;
        EXPECT_EQ("Value of: IsCkrOk(m_pFList->C_Login(session, CKU_USER, USER_PIN, USER_PIN_LEN))\n"
                  "  Actual: false (" + std::string(row.isCkrText) + ")\nExpected: true\n" + earlier,
                  failures[0].message);
        { FixtureSessionRebuild rebuild; }
        EXPECT_EQ(row.refusal, LoginUser(P11::m_pFList, 9)) << row.inWords;

        EXPECT_EQ(1u, Fake().CallCount("C_Login")) << row.inWords;
    }
}

// Answers that do not refuse the PIN leave the next login to the token, and the report
// names them.
TEST_F(UserLogin, OtherAnswersAreTriedAgainAndNamed)
{
    const struct {
        CK_RV answer;
        const char* inWords;
    } rows[] = {
        {CKR_OK, "C_Login answered CKR_OK (0x0)"},
        {CKR_USER_ALREADY_LOGGED_IN, "C_Login answered CKR_USER_ALREADY_LOGGED_IN (0x100)"},
        {CKR_DEVICE_ERROR, "C_Login answered CKR_DEVICE_ERROR (0x30)"},
        {CKR_USER_PIN_NOT_INITIALIZED, "C_Login answered CKR_USER_PIN_NOT_INITIALIZED (0x102)"},
        {0x80000123UL, "C_Login answered 0x80000123"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.inWords);
        ResetFakeToken();
        Fake().C_Login = Answer{row.answer};
        EXPECT_EQ(row.answer, LoginUser(P11::m_pFList, 1));
        EXPECT_EQ(row.inWords, LastLoginInWords());
        EXPECT_EQ(row.answer, P11::LogonUser());
        EXPECT_EQ(2u, Fake().CallCount("C_Login"));
    }
}

TEST_F(UserLogin, WithoutAFunctionListNothingIsCalledOrRemembered)
{
    EXPECT_EQ(CKR_FUNCTION_REJECTED, LoginUser(NULL_PTR, 1));
    EXPECT_EQ("no login tried: no function list", LastLoginInWords());
    Fake().C_Login = Answer{CKR_PIN_INCORRECT};
    EXPECT_EQ(CKR_FUNCTION_REJECTED, LoginUser(NULL_PTR, 1));
    EXPECT_EQ(0u, Fake().CallCount("C_Login"));
    EXPECT_EQ(CKR_PIN_INCORRECT, LoginUser(P11::m_pFList, 1));
    EXPECT_EQ(1u, Fake().CallCount("C_Login"));
}

} // namespace
