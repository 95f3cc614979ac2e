// The process context against the fake token library: one logged-in session for the
// process, login failures, a forked child, and the thread id of every log line.
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include "engine_harness.h"

using namespace engine_harness;

namespace {

// The journal without the calls that brought the library in.
std::vector<std::string> session_calls()
{
    std::vector<std::string> calls;
    for (const std::string &line : journal())
        if (line.find(" C_GetZorvelFunctionList") == std::string::npos &&
            line.find(" C_GetFunctionList") == std::string::npos && line.find(" C_Initialize") == std::string::npos)
            calls.push_back(line);
    return calls;
}

std::vector<std::string> engine_error_data()
{
    std::vector<std::string> data;
    for (const error_entry &error : take_errors()) {
        EXPECT_TRUE(is_engine_library(error.lib));
        EXPECT_EQ(error.function, "ZORVEL_INIT");
        data.push_back(error.data);
    }
    return data;
}

class ContextTest : public EngineTest {};

TEST_F(ContextTest, OpensOneLoggedInSessionForTheProcess)
{
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    zorvel_ctx *ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(get_ctx(), ctx);
    EXPECT_EQ(current_ctx(), ctx);
    EXPECT_EQ(ctx->open, 1);
    EXPECT_EQ(ctx->slot, 0UL);
    EXPECT_EQ(ctx->pid, getpid());
    const std::string session = std::to_string(ctx->session);
    EXPECT_EQ(journal(), (std::vector<std::string>{
                             journal_line("C_OpenSession slot=0 flags=0x6 session=" + session),
                             journal_line("C_Login session=" + session + " user=1 pin=" + std::string(fake_pin)),
                         }));
    for (const char *message : {"get ctx", "entering mutex", "open ctx", "open session", "login user", "leaving mutex"})
        EXPECT_TRUE(logged(message)) << message;
}

TEST_F(ContextTest, OpensTheSessionOnTheConfiguredSlot)
{
    config cfg = fake_token_config();
    cfg.slot_id = "1";
    ASSERT_NE(initialised(cfg), nullptr);
    zorvel_ctx *ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->slot, 1UL);
    ASSERT_FALSE(journal().empty());
    EXPECT_EQ(journal()[0].rfind(journal_line("C_OpenSession slot=1 "), 0), 0U) << journal()[0];
}

TEST_F(ContextTest, UserAlreadyLoggedInStillOpensTheContext)
{
    fake_answer("C_Login", CKR_USER_ALREADY_LOGGED_IN);
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    ASSERT_NE(get_ctx(), nullptr);
    EXPECT_TRUE(take_errors().empty());
}

TEST_F(ContextTest, RefusedPinClosesTheSessionAndIsNotRetriedUntilInitAgain)
{
    for (unsigned long rv : {CKR_PIN_INCORRECT, CKR_PIN_LEN_RANGE, CKR_PIN_EXPIRED, CKR_PIN_LOCKED}) {
        char data[64];
        std::snprintf(data, sizeof data, "C_Login=0x%08lX", rv);
        clear_fake_answers();
        fake_answer("C_Login", rv);
        ENGINE *e = initialised(fake_token_config());
        ASSERT_NE(e, nullptr);

        EXPECT_EQ(get_ctx(), nullptr) << data;
        EXPECT_EQ(engine_error_data(), std::vector<std::string>{data});
        EXPECT_EQ(journal(), (std::vector<std::string>{
                                 journal_line("C_OpenSession slot=0 flags=0x6 session=1"),
                                 journal_line("C_Login session=1 user=1 pin=" + std::string(fake_pin)),
                                 journal_line("C_CloseSession session=1"),
                             }));
        EXPECT_TRUE(logged("get ctx, failed to open ctx"));

        clear_journal();
        EXPECT_EQ(get_ctx(), nullptr) << data;
        EXPECT_EQ(engine_error_data(), std::vector<std::string>{data});
        EXPECT_TRUE(journal().empty()) << data;

        ASSERT_EQ(finish(), 1);
        clear_fake_answers();
        ASSERT_EQ(init(), 1);
        EXPECT_NE(get_ctx(), nullptr) << data;
        release();
    }
}

TEST_F(ContextTest, OtherLoginFailuresAreTriedAgain)
{
    fake_answer("C_Login", CKR_DEVICE_ERROR);
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(engine_error_data(), (std::vector<std::string>{"C_Login=0x00000030", "C_Login=0x00000030"}));
    EXPECT_EQ(session_calls().size(), 6U);
    EXPECT_TRUE(logged("login user, C_Login failed with 0x00000030"));
}

TEST_F(ContextTest, WithoutPinEveryAttemptFailsAndLeavesNoSession)
{
    // Binding refuses a configuration without a PIN: take it away after binding.
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    zorvel_config_st *read = static_cast<zorvel_config_st *>(engine_symbol("zorvel_config"));
    ASSERT_NE(read, nullptr);
    OPENSSL_free(read->user_pin);
    read->user_pin = nullptr;
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(engine_error_data(),
              (std::vector<std::string>{"C_Login, no user pin provided", "C_Login, no user pin provided"}));
    EXPECT_EQ(journal(), (std::vector<std::string>{
                             journal_line("C_OpenSession slot=0 flags=0x6 session=1"),
                             journal_line("C_CloseSession session=1"),
                             journal_line("C_OpenSession slot=0 flags=0x6 session=2"),
                             journal_line("C_CloseSession session=2"),
                         }));
    EXPECT_TRUE(logged("login user, no user pin provided"));
}

TEST_F(ContextTest, OpenSessionFailureLeavesNoContext)
{
    fake_answer("C_OpenSession", CKR_SLOT_ID_INVALID);
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(current_ctx(), nullptr);
    EXPECT_EQ(engine_error_data(), std::vector<std::string>{"C_OpenSession=0x00000003"});
    EXPECT_TRUE(logged("open session, C_OpenSession failed with 0x00000003"));
}

TEST_F(ContextTest, WithoutFunctionListNoSessionOpens)
{
    config cfg = fake_token_config();
    cfg.lib = quoted(ZORVEL_FAKE_TOKEN_WITHOUT_VENDOR_ENTRY);
    ASSERT_NE(bind(cfg), nullptr);
    ASSERT_EQ(init(), 0);
    take_errors();
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(engine_error_data(), std::vector<std::string>{"C_OpenSession, no function pointers loaded"});
    EXPECT_TRUE(logged("open session, no function pointers loaded"));
}

TEST_F(ContextTest, DeferredContextRetriesTheLibraryAtEachAttempt)
{
    fake_answer("C_Initialize", 0x30);
    config cfg = fake_token_config();
    cfg.openssl_extra = "deferredInit = true;";
    ASSERT_NE(initialised(cfg), nullptr);
    EXPECT_EQ(get_ctx(), nullptr);
    EXPECT_EQ(engine_error_data(), std::vector<std::string>{"C_Initialize=0x00000030"});
    clear_fake_answers();
    EXPECT_NE(get_ctx(), nullptr);
}

TEST_F(ContextTest, ForkedChildOpensASessionOfItsOwn)
{
    ENGINE *e = initialised(fake_token_config());
    ASSERT_NE(e, nullptr);
    zorvel_ctx *parent = get_ctx();
    ASSERT_NE(parent, nullptr);
    const CK_SESSION_HANDLE parent_session = parent->session;
    clear_journal();

    EXPECT_EQ(in_child([&] {
                  zorvel_ctx *ctx = get_ctx();
                  ASSERT_NE(ctx, nullptr);
                  EXPECT_EQ(ctx->pid, getpid());
                  EXPECT_EQ(ctx->open, 1);
                  EXPECT_NE(ctx->session, parent_session);
                  EXPECT_EQ(finish(), 1);
              }),
              0);

    std::vector<std::string> calls = journal();
    ASSERT_EQ(calls.size(), 6U);
    const std::string child = calls[0].substr(0, calls[0].find(' ') + 1);
    const std::string session = std::to_string(parent_session + 1);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         child + "C_Initialize ./usr/local/zorvel/etc/zorvel.cfg",
                         child + "C_OpenSession slot=0 flags=0x6 session=" + session,
                         child + "C_Login session=" + session + " user=1 pin=" + std::string(fake_pin),
                         child + "C_Logout session=" + session,
                         child + "C_CloseSession session=" + session,
                         child + "C_Finalize",
                     }));
    EXPECT_NE(child, "pid=" + std::to_string(getpid()) + " ");
    EXPECT_EQ(current_ctx(), parent);
    EXPECT_EQ(get_ctx(), parent);
}

TEST_F(ContextTest, FinishInAChildLeavesTheParentsSessionAlone)
{
    ENGINE *e = initialised(fake_token_config());
    ASSERT_NE(e, nullptr);
    ASSERT_NE(get_ctx(), nullptr);
    clear_journal();

    EXPECT_EQ(in_child([&] { EXPECT_EQ(finish(), 1); }), 0);
    EXPECT_TRUE(journal().empty());

    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(session_calls().size(), 3U);
}

// A token library that starts a helper process inside one of its calls runs the fork
// handlers on a thread that holds the token lock (and, opening the context, the engine
// lock): they must not wait for it. In a child of the test, which an alarm ends if it hangs.
TEST_F(ContextTest, TokenLibraryForkingInsideItsCallDoesNotHang)
{
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    for (const char *call : {"C_Initialize", "C_Login"}) {
        EXPECT_EQ(in_child([&] {
                      setenv("ZORVEL_FAKE_FORK_IN", call, 1);
                      alarm(10);
                      EXPECT_NE(get_ctx(), nullptr);
                      EXPECT_EQ(finish(), 1);
                  }),
                  0)
            << call;
    }
}

TEST_F(ContextTest, ThreadsRacingForTheFirstContextShareOneSession)
{
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    std::vector<zorvel_ctx *> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (zorvel_ctx *&ctx : seen)
        threads.emplace_back([&ctx] { ctx = get_ctx(); });
    for (std::thread &thread : threads)
        thread.join();
    for (zorvel_ctx *ctx : seen)
        EXPECT_EQ(ctx, seen[0]);
    EXPECT_NE(seen[0], nullptr);
    EXPECT_EQ(session_calls().size(), 2U);
}

TEST_F(ContextTest, EveryThreadLogsWithItsOwnKernelThreadId)
{
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    ASSERT_NE(get_ctx(), nullptr);
    syslog_capture::reset();

    std::string prefixes[2];
    std::thread first([&] { get_ctx(); prefixes[0] = thread_prefix(); });
    first.join();
    std::thread second([&] { get_ctx(); prefixes[1] = thread_prefix(); });
    second.join();

    EXPECT_NE(prefixes[0], prefixes[1]);
    std::set<std::string> seen;
    for (const syslog_capture::line &line : syslog_capture::lines()) {
        std::string prefix = line.text.substr(0, line.text.find(' ') + 1);
        EXPECT_TRUE(prefix == prefixes[0] || prefix == prefixes[1]) << line.text;
        seen.insert(prefix);
    }
    EXPECT_EQ(seen.size(), 2U);
}

}  // namespace
