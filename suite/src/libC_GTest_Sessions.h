// Test case libC_GTest_Sessions: the states the token reports for read-only and read-write
// sessions before a user login, during it and after the logout, the refusal of a second
// login, and that a closed session's handle is refused. The case's suite set-up opens no
// session and logs nobody in, so each test's own session starts in a public state. Every
// session is opened on slot ID 0, written as a literal. Every check is fatal.
#pragma once

#include "libC_GTest_Fixture.h"

// The steps of the tests, on the locals `session` and `info`. Each takes the values it
// checks together with their text (made with # by the test-shape macro), so that the
// report reads as the source: "info.state == CKS_RO_PUBLIC_SESSION".
#define SESSIONS_OPEN(flags, flagsText)                                                        \
    ASSERT_TRUE_WITH_TEXT(IsCkrOk(m_pFList->C_OpenSession(0, flags, NULL_PTR, NULL_PTR, &session)), \
                          "IsCkrOk(m_pFList->C_OpenSession(0, " flagsText ", NULL_PTR, NULL_PTR, &session))")

#define SESSIONS_EXPECT_STATE(expected, expectedText)                                          \
    info = {};                                                                                 \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_GetSessionInfo(session, &info)));                          \
    ASSERT_TRUE_WITH_TEXT(info.state == expected, "info.state == " expectedText)

#define SESSIONS_LOGIN()                                                                       \
    ASSERT_TRUE_WITH_TEXT(IsCkrOk(LoginUser(m_pFList, session)),                              \
                          "IsCkrOk(m_pFList->C_Login(session, CKU_USER, USER_PIN, USER_PIN_LEN))") \
        << LastLoginInWords()

#define SESSIONS_LOGOUT() ASSERT_TRUE(IsCkrOk(m_pFList->C_Logout(session)))

// The session closes, and its handle is refused afterwards.
#define SESSIONS_CLOSE()                                                                       \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_CloseSession(session)));                                   \
    info = {};                                                                                 \
    ASSERT_TRUE(IsCkr(CKR_SESSION_HANDLE_INVALID, m_pFList->C_GetSessionInfo(session, &info)))

#define SESSIONS_LOCALS                                                                        \
    ASSERT_FUNCTION_LIST();                                                                    \
    CK_SESSION_HANDLE session = 0;                                                             \
    CK_SESSION_INFO info = {}

// A session that nobody logs into.
#define PUBLIC_SESSION_TEST(TestName, flags, publicState)                                      \
    TEST_F(libC_GTest_Sessions, TestName)                                                      \
    {                                                                                          \
        SESSIONS_LOCALS;                                                                       \
        SESSIONS_OPEN(flags, #flags);                                                          \
        SESSIONS_EXPECT_STATE(publicState, #publicState);                                      \
        SESSIONS_CLOSE();                                                                      \
    }

// A session whose state follows the user's login and logout.
#define USER_SESSION_TEST(TestName, flags, publicState, userState)                             \
    TEST_F(libC_GTest_Sessions, TestName)                                                      \
    {                                                                                          \
        SESSIONS_LOCALS;                                                                       \
        SESSIONS_OPEN(flags, #flags);                                                          \
        SESSIONS_EXPECT_STATE(publicState, #publicState);                                      \
        SESSIONS_LOGIN();                                                                      \
        SESSIONS_EXPECT_STATE(userState, #userState);                                          \
        SESSIONS_LOGOUT();                                                                     \
        SESSIONS_EXPECT_STATE(publicState, #publicState);                                      \
        SESSIONS_CLOSE();                                                                      \
    }

PUBLIC_SESSION_TEST(PublicROSession, CKF_SERIAL_SESSION, CKS_RO_PUBLIC_SESSION)
PUBLIC_SESSION_TEST(PublicRWSession, CKF_SERIAL_SESSION | CKF_RW_SESSION, CKS_RW_PUBLIC_SESSION)
USER_SESSION_TEST(PublicUserROSession, CKF_SERIAL_SESSION, CKS_RO_PUBLIC_SESSION,
                  CKS_RO_USER_FUNCTIONS)
USER_SESSION_TEST(PublicUserRWSession, CKF_SERIAL_SESSION | CKF_RW_SESSION, CKS_RW_PUBLIC_SESSION,
                  CKS_RW_USER_FUNCTIONS)

TEST_F(libC_GTest_Sessions, PublicUserROSessionAlreadyLogged)
{
    SESSIONS_LOCALS;
    SESSIONS_OPEN(CKF_SERIAL_SESSION, "CKF_SERIAL_SESSION");
    SESSIONS_EXPECT_STATE(CKS_RO_PUBLIC_SESSION, "CKS_RO_PUBLIC_SESSION");
    SESSIONS_LOGIN();
    SESSIONS_EXPECT_STATE(CKS_RO_USER_FUNCTIONS, "CKS_RO_USER_FUNCTIONS");
    // The second login is refused and changes nothing.
    ASSERT_TRUE_WITH_TEXT(
        IsCkr(CKR_USER_ALREADY_LOGGED_IN, LoginUser(m_pFList, session)),
        "IsCkr(CKR_USER_ALREADY_LOGGED_IN, m_pFList->C_Login(session, CKU_USER, USER_PIN, USER_PIN_LEN))")
        << LastLoginInWords();
    SESSIONS_EXPECT_STATE(CKS_RO_USER_FUNCTIONS, "CKS_RO_USER_FUNCTIONS");
    SESSIONS_LOGOUT();
    SESSIONS_EXPECT_STATE(CKS_RO_PUBLIC_SESSION, "CKS_RO_PUBLIC_SESSION");
    SESSIONS_CLOSE();
}

// The case creates no object: nothing to clean up.
TEST_F(libC_GTest_Sessions, CleanupPartition) {}
