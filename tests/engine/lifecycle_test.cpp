// Engine init, finish and destroy against the fake token library: loading, binding the
// vendor list, initialising, deferred loading, and the failures of each step.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/err.h>

#include "engine_harness.h"

using namespace engine_harness;

namespace {

const std::string initialisation_calls[] = {
    journal_line("C_GetZorvelFunctionList"),
    journal_line("C_GetFunctionList"),
    journal_line("C_Initialize ./usr/local/zorvel/etc/zorvel.cfg"),
};

// What finish sends for a context with this session.
std::vector<std::string> teardown_calls(CK_SESSION_HANDLE session)
{
    const std::string handle = std::to_string(session);
    return {journal_line("C_Logout session=" + handle), journal_line("C_CloseSession session=" + handle),
            journal_line("C_Finalize")};
}

config deferred_config(const std::string &lib)
{
    config cfg = fake_token_config();
    cfg.lib = quoted(lib);
    cfg.openssl_extra = "deferredInit = true;";
    return cfg;
}

// The first entry on the queue, which must come from the engine.
error_entry first_error()
{
    std::vector<error_entry> errors = take_errors();
    return errors.empty() ? error_entry{0, 0, "", "", ""} : errors.front();
}

void expect_engine_error(const error_entry &error, int reason, const std::string &function, const std::string &data)
{
    EXPECT_TRUE(is_engine_library(error.lib)) << error.lib;
    EXPECT_EQ(error.reason, reason);
    EXPECT_EQ(error.function, function);
    EXPECT_EQ(error.file, "src/e_zorvel");
    EXPECT_EQ(error.data, data);
}

class LifecycleTest : public EngineTest {};

TEST_F(LifecycleTest, InitLoadsBindsAndInitialisesWithTheConfigurationPath)
{
    ASSERT_NE(bind(fake_token_config()), nullptr);
    ASSERT_EQ(init(), 1);
    EXPECT_EQ(journal(), std::vector<std::string>(std::begin(initialisation_calls), std::end(initialisation_calls)));
    for (const char *message : {"init engine (deferred 0)", "load DSO", "load func pointer list", "initialize"})
        EXPECT_TRUE(logged(message)) << message;
    EXPECT_TRUE(library_loaded(ZORVEL_FAKE_TOKEN));

    clear_journal();
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(journal(), std::vector<std::string>{journal_line("C_Finalize")});
    EXPECT_FALSE(library_loaded(ZORVEL_FAKE_TOKEN));
}

TEST_F(LifecycleTest, DeferredInitLoadsNothingUntilTheFirstContext)
{
    ASSERT_NE(bind(deferred_config(ZORVEL_FAKE_TOKEN)), nullptr);
    ASSERT_EQ(init(), 1);
    EXPECT_TRUE(logged("init engine (deferred 1)"));
    EXPECT_TRUE(journal().empty());
    EXPECT_FALSE(library_loaded(ZORVEL_FAKE_TOKEN));

    ASSERT_NE(get_ctx(), nullptr);
    std::vector<std::string> calls = journal();
    ASSERT_GE(calls.size(), 3U);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
              std::vector<std::string>(std::begin(initialisation_calls), std::end(initialisation_calls)));
    EXPECT_EQ(finish(), 1);
}

TEST_F(LifecycleTest, DeferredInitAndFinishSucceedWithNoLibraryPresent)
{
    ASSERT_NE(bind(deferred_config("./no-such-library.so")), nullptr);
    EXPECT_EQ(init(), 1);
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(take_errors().empty());
}

TEST_F(LifecycleTest, LibraryWithoutVendorEntryFailsInitAndIsUnloaded)
{
    config cfg = fake_token_config();
    cfg.lib = quoted(ZORVEL_FAKE_TOKEN_WITHOUT_VENDOR_ENTRY);
    ASSERT_NE(bind(cfg), nullptr);
    EXPECT_EQ(init(), 0);
    expect_engine_error(first_error(), ZORVEL_R_ENGINE_ERROR, "ZORVEL_INIT", "C_GetZorvelFunctionList not found");
    EXPECT_TRUE(logged("load func pointer list, C_GetZorvelFunctionList not found"));
    EXPECT_TRUE(logged("unload DSO, free DSO"));
    EXPECT_FALSE(library_loaded(ZORVEL_FAKE_TOKEN_WITHOUT_VENDOR_ENTRY));
}

TEST_F(LifecycleTest, UnloadableLibraryFailsInitUnderTheEngineLibraryCode)
{
    config cfg = fake_token_config();
    cfg.lib = quoted("./no-such-library.so");
    ASSERT_NE(bind(cfg), nullptr);
    EXPECT_EQ(init(), 0);
    std::vector<error_entry> errors = take_errors();
    ASSERT_EQ(errors.size(), 2U);
    for (const error_entry &error : errors) {
        EXPECT_EQ(error.lib, ERR_LIB_ENGINE);
        EXPECT_EQ(error.reason, ZORVEL_R_ENGINE_ERROR);
        EXPECT_EQ(error.function, "ZORVEL_INIT");
    }
    EXPECT_EQ(errors[0].data, "DSO not loadable ./no-such-library.so");
    EXPECT_TRUE(logged("load DSO, , DSO not loadable ./no-such-library.so"));
    // The loader's own reason follows.
    const std::string reason = "./no-such-library.so: cannot open shared object file: No such file or directory";
    EXPECT_EQ(errors[1].data, reason);
    EXPECT_TRUE(logged("load DSO, " + reason));
}

TEST_F(LifecycleTest, LoadsTheConfiguredNameAsGiven)
{
    // A name without '/' is the loader's to find, not to be made "lib<name>.so": one the
    // process has loaded already is found by its soname.
    image_hold token(ZORVEL_FAKE_TOKEN);
    ASSERT_TRUE(token.held());
    const std::string name = ZORVEL_FAKE_TOKEN;
    config cfg = fake_token_config();
    cfg.lib = quoted(name.substr(name.rfind('/') + 1));
    ASSERT_NE(bind(cfg), nullptr);
    EXPECT_EQ(init(), 1);
    EXPECT_TRUE(take_errors().empty());
    EXPECT_EQ(journal(), std::vector<std::string>(std::begin(initialisation_calls), std::end(initialisation_calls)));
}

TEST_F(LifecycleTest, VendorCallFailuresAreReportedWithTheirValue)
{
    struct vendor_failure {
        const char *function;
        unsigned long rv;
        const char *data;
        const char *message;
        bool stays_loaded;
    };
    const vendor_failure cases[] = {
        {"C_GetZorvelFunctionList", 0x5, "C_GetZorvelFunctionList=0x00000005",
         "load func pointer list, C_GetZorvelFunctionList failed with 0x00000005", false},
        {"C_GetFunctionList", 0x80000001, "C_GetFunctionList=0x80000001",
         "load func pointer list, C_GetFunctionList failed with 0x80000001", false},
        {"C_Initialize", 0x30, "C_Initialize=0x00000030", "initialize, C_Initialize failed with 0x00000030", true},
    };
    // A failed initialisation leaves the library loaded for the next init: each case in
    // a child of its own, so that the next case starts with the library unloaded.
    for (const vendor_failure &c : cases) {
        EXPECT_EQ(in_child([&] {
                      fake_answer(c.function, c.rv);
                      ASSERT_NE(bind(fake_token_config()), nullptr);
                      EXPECT_EQ(init(), 0) << c.function;
                      expect_engine_error(first_error(), ZORVEL_R_PKCS11_ERROR, "ZORVEL_INIT", c.data);
                      EXPECT_TRUE(logged(c.message)) << c.function;
                      EXPECT_EQ(library_loaded(ZORVEL_FAKE_TOKEN), c.stays_loaded) << c.function;
                  }),
                  0)
            << c.function;
    }
}

TEST_F(LifecycleTest, ListsAnsweredWithoutAListFailInitWithoutACallThroughThem)
{
    struct missing_list {
        const char *list;
        const char *data;
    };
    const missing_list cases[] = {
        {"vendor", "C_GetZorvelFunctionList gave no usable list"},
        {"standard", "C_GetFunctionList gave no list"},
    };
    for (const missing_list &c : cases) {
        EXPECT_EQ(in_child([&] {
                      setenv("ZORVEL_FAKE_NO_LIST", c.list, 1);
                      ASSERT_NE(bind(fake_token_config()), nullptr);
                      EXPECT_EQ(init(), 0) << c.list;
                      expect_engine_error(first_error(), ZORVEL_R_ENGINE_ERROR, "ZORVEL_INIT", c.data);
                      EXPECT_TRUE(logged(std::string("load func pointer list, ") + c.data)) << c.list;
                  }),
                  0)
            << c.list;
    }
}

TEST_F(LifecycleTest, InitAfterAFailedInitialisationOnlyInitialisesAgain)
{
    fake_answer("C_Initialize", 0x30);
    ASSERT_NE(bind(fake_token_config()), nullptr);
    ASSERT_EQ(init(), 0);

    clear_fake_answers();
    clear_journal();
    EXPECT_EQ(init(), 1);
    EXPECT_EQ(journal(), std::vector<std::string>{initialisation_calls[2]});
    EXPECT_EQ(finish(), 1);
}

TEST_F(LifecycleTest, AlreadyInitialisedLibraryCountsAsInitialised)
{
    fake_answer("C_Initialize", CKR_CRYPTOKI_ALREADY_INITIALIZED);
    ASSERT_NE(bind(fake_token_config()), nullptr);
    EXPECT_EQ(init(), 1);
    EXPECT_TRUE(take_errors().empty());
    EXPECT_EQ(finish(), 1);
}

TEST_F(LifecycleTest, FinishLogsOutClosesAndFinalisesAndASecondInitWorks)
{
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    zorvel_ctx *ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    const CK_SESSION_HANDLE session = ctx->session;

    clear_journal();
    syslog_capture::reset();
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(journal(), teardown_calls(session));
    for (const char *message : {"finish engine (deferred 0)", "clear ctx", "close ctx", "close session",
                                "logout user", "finalize", "unload DSO, free DSO"})
        EXPECT_TRUE(logged(message)) << message;
    EXPECT_EQ(current_ctx(), nullptr);
    EXPECT_FALSE(library_loaded(ZORVEL_FAKE_TOKEN));

    clear_journal();
    ASSERT_EQ(init(), 1);
    ASSERT_NE(get_ctx(), nullptr);
    std::vector<std::string> calls = journal();
    ASSERT_EQ(calls.size(), 5U);
    EXPECT_EQ(calls[2], initialisation_calls[2]);
    EXPECT_EQ(calls[3].rfind(journal_line("C_OpenSession slot=0"), 0), 0U) << calls[3];
    EXPECT_EQ(finish(), 1);
}

TEST_F(LifecycleTest, FinishClosesTheSessionEvenWhenLogoutFails)
{
    fake_answer("C_Logout", CKR_USER_NOT_LOGGED_IN);
    ASSERT_NE(initialised(fake_token_config()), nullptr);
    zorvel_ctx *ctx = get_ctx();
    ASSERT_NE(ctx, nullptr);
    const CK_SESSION_HANDLE session = ctx->session;

    clear_journal();
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(journal(), teardown_calls(session));
    expect_engine_error(first_error(), ZORVEL_R_PKCS11_ERROR, "ZORVEL_INIT", "C_Logout=0x00000101");
    EXPECT_TRUE(logged("logout user, C_Logout failed with 0x00000101"));
}

TEST_F(LifecycleTest, FinalizeFailureKeepsTheLibraryLoaded)
{
    // OpenSSL keeps an engine whose finish failed referenced for good: in a child.
    EXPECT_EQ(in_child([&] {
                  fake_answer("C_Finalize", 0x5);
                  ASSERT_NE(bind(fake_token_config()), nullptr);
                  ASSERT_EQ(init(), 1);
                  EXPECT_EQ(finish(), 0);
                  expect_engine_error(first_error(), ZORVEL_R_PKCS11_ERROR, "ZORVEL_FINISH", "C_Finalize=0x00000005");
                  EXPECT_TRUE(logged("finalize, failed: 0x00000005"));
                  EXPECT_TRUE(library_loaded(ZORVEL_FAKE_TOKEN));
              }),
              0);
}

TEST_F(LifecycleTest, FinishWithoutFunctionListFailsUnlessDeferred)
{
    // Bound but never initialised: no function list.
    ASSERT_NE(bind(fake_token_config()), nullptr);
    syslog_capture::reset();
    ENGINE_GEN_INT_FUNC_PTR finish = ENGINE_get_finish_function(engine.get());
    EXPECT_EQ(finish(engine.get()), 0);
    expect_engine_error(first_error(), ZORVEL_R_PKCS11_ERROR, "ZORVEL_INIT", "C_Finalize, no function pointers loaded");
    for (const syslog_capture::line &line : syslog_capture::lines())
        EXPECT_NE(line.priority, LOG_ERR) << line.text;
}

}  // namespace
