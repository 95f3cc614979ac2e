// The engine's core against the stand-in token library on a provisioned token: loading
// and initialising it, the process session, a refused PIN, finish, and fork.
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine_harness.h"

using namespace engine_harness;

namespace {

config standin_config(const std::string &pin)
{
    config cfg;
    cfg.lib = quoted(ZORVEL_STANDIN);
    cfg.user_pin = quoted(pin);
    return cfg;
}

std::string user_pin()
{
    const char *pin = std::getenv("ZORVEL_TEST_USER_PIN");
    return pin != nullptr ? pin : "1234";
}

// The stand-in's standard function list, from the copy the engine loaded.
CK_FUNCTION_LIST_PTR standin_functions()
{
    void *library = dlopen(ZORVEL_STANDIN, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return nullptr;
    auto entry = reinterpret_cast<CK_RV (*)(CK_ZORVEL_FUNCTION_LIST_PTR_PTR)>(dlsym(library, "C_GetZorvelFunctionList"));
    CK_ZORVEL_FUNCTION_LIST_PTR vendor = nullptr;
    CK_FUNCTION_LIST_PTR functions = nullptr;
    if (entry == nullptr || entry(&vendor) != CKR_OK || vendor->C_GetFunctionList(&functions) != CKR_OK)
        functions = nullptr;
    dlclose(library);
    return functions;
}

// Checks that the session is open on slot 0, read-write, with the user logged in.
void expect_user_session(CK_SESSION_HANDLE session)
{
    CK_FUNCTION_LIST_PTR p11 = standin_functions();
    ASSERT_NE(p11, nullptr);
    CK_SESSION_INFO info{};
    ASSERT_EQ(p11->C_GetSessionInfo(session, &info), CKR_OK);
    EXPECT_EQ(info.slotID, 0UL);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(info.flags & (CKF_RW_SESSION | CKF_SERIAL_SESSION), CKF_RW_SESSION | CKF_SERIAL_SESSION);
}

class StandinTest : public EngineTest {};

TEST_F(StandinTest, InitLoadsAndInitialisesTheStandInAndTheContextLogsIn)
{
    ASSERT_NE(bind(standin_config(user_pin())), nullptr);
    ASSERT_EQ(init(), 1);
    for (const char *message : {"load DSO", "load func pointer list", "initialize"})
        EXPECT_TRUE(logged(message)) << message;
    EXPECT_TRUE(take_errors().empty());

    zorvel_ctx *ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(get_ctx(), ctx);
    expect_user_session(ctx->session);
    const CK_SESSION_HANDLE session = ctx->session;

    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(current_ctx(), nullptr);
    CK_SESSION_INFO info{};
    EXPECT_EQ(standin_functions()->C_GetSessionInfo(session, &info), CKR_CRYPTOKI_NOT_INITIALIZED);

    ASSERT_EQ(init(), 1);
    ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    expect_user_session(ctx->session);
}

TEST_F(StandinTest, WrongPinIsReportedLeavesNoSessionAndIsNotRetried)
{
    ASSERT_NE(initialised(standin_config("0000")), nullptr);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(get_ctx(), nullptr);
        std::vector<error_entry> errors = take_errors();
        ASSERT_EQ(errors.size(), 1U);
        EXPECT_TRUE(is_engine_library(errors[0].lib));
        EXPECT_EQ(errors[0].reason, ZORVEL_R_PKCS11_ERROR);
        EXPECT_EQ(errors[0].function, "ZORVEL_INIT");
        EXPECT_EQ(errors[0].data, "C_Login=0x000000A0");
    }
    CK_FUNCTION_LIST_PTR p11 = standin_functions();
    ASSERT_NE(p11, nullptr);
    for (CK_SESSION_HANDLE session = 1; session <= 64; ++session) {
        CK_SESSION_INFO info{};
        EXPECT_EQ(p11->C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID) << session;
    }
}

TEST_F(StandinTest, ForkedChildGetsASessionOfItsOwn)
{
    ASSERT_NE(initialised(standin_config(user_pin())), nullptr);
    zorvel_ctx *parent = get_ctx();
    ASSERT_NE(parent, nullptr);
    const CK_SESSION_HANDLE parent_session = parent->session;

    EXPECT_EQ(in_child([&] {
                  zorvel_ctx *ctx = get_ctx();
                  ASSERT_NE(ctx, nullptr);
                  EXPECT_EQ(ctx->pid, getpid());
                  expect_user_session(ctx->session);
                  EXPECT_EQ(finish(), 1);
              }),
              0);

    EXPECT_EQ(get_ctx(), parent);
    expect_user_session(parent_session);
}

// Run on its own: the stand-in stays loaded once a test of the process has loaded it.
TEST_F(StandinTest, DeferredInitLoadsTheStandInAtTheFirstContext)
{
    config cfg = standin_config(user_pin());
    cfg.openssl_extra = "deferredInit = true;";
    ASSERT_NE(bind(cfg), nullptr);
    ASSERT_EQ(init(), 1);
    EXPECT_FALSE(library_loaded(ZORVEL_STANDIN));

    zorvel_ctx *ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    EXPECT_TRUE(library_loaded(ZORVEL_STANDIN));
    expect_user_session(ctx->session);
}

}  // namespace
