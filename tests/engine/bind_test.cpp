// Binding: the engine id check, the configuration file and its keys, the trace level,
// the order of the binding steps in the log, and the error strings.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/err.h>

#include "engine_harness.h"

using namespace engine_harness;

namespace {

class BindTest : public EngineTest {};

TEST_F(BindTest, LogsEveryBindingStepInOrderWithThreadPrefix)
{
    config cfg = fake_token_config();
    cfg.slot_id = "3";
    ASSERT_NE(bind(cfg), nullptr);

    const std::string path = config_path(config_place::first);
    const std::vector<std::string> expected = {
        "bind dynamic",
        "initialized mutex",
        "init config",
        "init config, reading " + path,
        "set config file " + path,
        "set SO " ZORVEL_FAKE_TOKEN,
        "set pin ****",
        "set slotId 3",
        "bind engine",
        "set engine id: zorvel",
        "set engine name: Zorvel engine support",
        "set destroy function",
        "set init function",
        "set finish function",
        "set control function",
        "set command definitions",
    };
    std::vector<std::string> messages = log_messages();
    ASSERT_GE(messages.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(messages.begin(), messages.begin() + expected.size()), expected);
    EXPECT_EQ(messages.back(), "load error strings");

    for (const syslog_capture::line &line : syslog_capture::lines()) {
        EXPECT_EQ(line.text.rfind(thread_prefix(), 0), 0U) << line.text;
        EXPECT_EQ(line.text.find(fake_pin), std::string::npos) << line.text;
    }
    std::vector<syslog_capture::open_call> opens = syslog_capture::open_calls();
    ASSERT_EQ(opens.size(), 1U);
    EXPECT_EQ(opens[0].option, LOG_PID | LOG_CONS | LOG_NDELAY);
    EXPECT_EQ(opens[0].facility, LOG_LOCAL1);

    EXPECT_STREQ(ENGINE_get_id(engine.get()), "zorvel");
    EXPECT_STREQ(ENGINE_get_name(engine.get()), "Zorvel engine support");
    EXPECT_EQ(ENGINE_get_cmd_defns(engine.get())->cmd_num, 0U);
}

TEST_F(BindTest, LogsBindingStepsAtTheirPriorities)
{
    ASSERT_NE(bind(fake_token_config()), nullptr);
    for (const syslog_capture::line &line : syslog_capture::lines()) {
        bool trace = line.text.find("initialized mutex") != std::string::npos ||
                     line.text.find("set finish function") != std::string::npos;
        EXPECT_EQ(line.priority, trace ? LOG_DEBUG : LOG_INFO) << line.text;
    }
}

TEST_F(BindTest, WithoutIdBindsAsZorvel)
{
    write_config(fake_token_config().text());
    engine = load_engine(nullptr);
    ASSERT_NE(engine, nullptr);
    EXPECT_STREQ(ENGINE_get_id(engine.get()), "zorvel");
}

TEST_F(BindTest, RefusesAnyOtherIdWithoutFurtherLogging)
{
    write_config(fake_token_config().text());
    for (const char *id : {"zorve", "zorvel1", "Zorvel"}) {
        syslog_capture::reset();
        EXPECT_EQ(load_engine(id), nullptr) << id;
        EXPECT_EQ(log_messages(), std::vector<std::string>{"bind dynamic"}) << id;
        EXPECT_TRUE(syslog_capture::open_calls().empty()) << id;
    }
}

// A setting that is missing, of another type or out of range, or a library path that is
// empty or blank, refuses the configuration with one line on standard error and one in
// syslog naming it; the lines read before it are logged as ever, and reading stops at it.
// That one line is all: an empty path never reaches the loader, which would open the
// program itself and report the token library's entry point missing.
TEST_F(BindTest, RefusesAMissingOrMistypedSettingNamingIt)
{
    struct setting_case {
        std::string config::*field;
        const char *value;       // "" removes the setting
        const char *problem;
        const char *last_line;   // the binding's last line before the refusal
    };
    const std::string slot = "zorvel.openssl.slotId: ";
    const setting_case cases[] = {
        {&config::lib, "", "zorvel.openssl.lib: missing, expected string", "set config file "},
        {&config::user_pin, "", "zorvel.openssl.user_pin: missing, expected string", "set SO " ZORVEL_FAKE_TOKEN},
        {&config::slot_id, "", "zorvel.openssl.slotId: missing, expected int", "set pin ****"},
        {&config::lib, "5", "zorvel.openssl.lib: found int, expected string", "set SO n/a"},
        {&config::lib, "\"\"", "zorvel.openssl.lib: found an empty string, expected the token library's path",
         "set SO "},
        {&config::lib, "\"   \"", "zorvel.openssl.lib: found a blank string, expected the token library's path",
         "set SO "},
        {&config::lib, "\" \\t\\n \"", "zorvel.openssl.lib: found a blank string, expected the token library's path",
         "set SO "},
        {&config::user_pin, "1234", "zorvel.openssl.user_pin: found int, expected string", "set pin n/a"},
        {&config::slot_id, "\"abc\"", "zorvel.openssl.slotId: found string, expected int", "set pin ****"},
        {&config::slot_id, "\"0\"", "zorvel.openssl.slotId: found string, expected int", "set pin ****"},
        {&config::slot_id, "0.5", "zorvel.openssl.slotId: found float, expected int", "set pin ****"},
        {&config::slot_id, "true", "zorvel.openssl.slotId: found bool, expected int", "set pin ****"},
        {&config::slot_id, "-1", "zorvel.openssl.slotId: -1 outside 0..4294967295", "set pin ****"},
        {&config::slot_id, "4294967296L", "zorvel.openssl.slotId: 4294967296 outside 0..4294967295", "set pin ****"},
        {&config::openssl_extra, "enableDigest = \"yes\";", "zorvel.openssl.enableDigest: found string, expected bool",
         "set slotId 0"},
        {&config::openssl_extra, "enableRSA = 1;", "zorvel.openssl.enableRSA: found int, expected bool",
         "set slotId 0"},
        {&config::openssl_extra, "enableRand = true; deferredInit = 0;",
         "zorvel.openssl.deferredInit: found int, expected bool", "set enable rand 1"},
        {&config::openssl_extra, "enableTrcLvl = \"on\";", "zorvel.openssl.enableTrcLvl: found string, expected bool",
         "set slotId 0"},
        {&config::log, "trace_level = \"high\";", "zorvel.log.trace_level: found string, expected int",
         "set slotId 0"},
    };
    const std::string path = config_path(config_place::first);
    for (const setting_case &c : cases) {
        syslog_capture::reset();
        config cfg = fake_token_config();
        cfg.*c.field = c.value;
        write_config(cfg.text());
        testing::internal::CaptureStderr();
        EXPECT_EQ(load_engine(), nullptr) << c.problem;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), path + ": " + c.problem + "\n");
        std::vector<std::string> lines = log_messages();
        ASSERT_GE(lines.size(), 2U) << c.problem;
        EXPECT_EQ(lines.back(), std::string("init config, ") + c.problem);
        EXPECT_EQ(lines[lines.size() - 2].rfind(c.last_line, 0), 0U) << lines[lines.size() - 2];
    }

    syslog_capture::reset();
    write_config("");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_engine(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), path + ": zorvel.openssl.lib: missing, expected string\n");
}

// The slot is a 32-bit unsigned number: the largest one needs libconfig's L suffix.
TEST_F(BindTest, ReadsTheLargestSlotIdAsInt64)
{
    config cfg = fake_token_config();
    cfg.slot_id = "4294967295L";
    ASSERT_NE(bind(cfg), nullptr);
    EXPECT_TRUE(logged("set slotId 4294967295"));
    EXPECT_EQ(static_cast<zorvel_config_st *>(engine_symbol("zorvel_config"))->slotId, 4294967295U);
}

TEST_F(BindTest, ReadsTheFirstFileThatParsesAndReportsEachThatDoesNot)
{
    const std::string good = fake_token_config().text();
    const std::string unparsable = "zorvel = { openssl = { lib = ; }; };\n";
    const std::string first_missing = "./usr/local/zorvel/etc/zorvel.cfg:0 - file I/O error\n";
    const std::string first_unparsable = "./usr/local/zorvel/etc/zorvel.cfg:1 - syntax error\n";
    const std::string second_missing = "./etc/zorvel/zorvel.cfg:0 - file I/O error\n";
    struct file_case {
        const char *name;
        const std::string *first;   // nullptr: no file
        const std::string *second;  // nullptr: no file
        std::string stderr_text;
        const char *read;           // the file that was read; nullptr: binding fails
    };
    const file_case cases[] = {
        {"neither file", nullptr, nullptr, first_missing + second_missing, nullptr},
        {"first unparsable", &unparsable, nullptr, first_unparsable + second_missing, nullptr},
        {"only the second", nullptr, &good, first_missing, "./etc/zorvel/zorvel.cfg"},
        {"first unparsable, second good", &unparsable, &good, first_unparsable, "./etc/zorvel/zorvel.cfg"},
    };
    for (const file_case &c : cases) {
        remove_configs();
        syslog_capture::reset();
        if (c.first != nullptr)
            write_config(*c.first, config_place::first);
        if (c.second != nullptr)
            write_config(*c.second, config_place::second);
        testing::internal::CaptureStderr();
        engine = load_engine();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.stderr_text) << c.name;
        if (c.read == nullptr) {
            EXPECT_EQ(engine, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(engine, nullptr) << c.name;
        EXPECT_TRUE(logged(std::string("set config file ") + c.read)) << c.name;
        EXPECT_STREQ(*static_cast<char **>(engine_symbol("zorvel_pre_config")), c.read) << c.name;
        release();
    }
}

TEST_F(BindTest, SwitchesAreLoggedAsRead)
{
    config cfg = fake_token_config();
    cfg.openssl_extra = "enableDigest = true; enableRand = false; enableSSLv3 = true; enableRSA = true;"
                        " deferredInit = true;";
    ASSERT_NE(bind(cfg), nullptr);
    for (const char *message : {"set enable digest 1", "set enable rand 0", "set enable SSL v3 1", "set enable RSA 1",
                                "set init deferred 1"})
        EXPECT_TRUE(logged(message)) << message;
    const zorvel_config_st *read = static_cast<zorvel_config_st *>(engine_symbol("zorvel_config"));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->enableDigest, 1);
    EXPECT_EQ(read->enableRand, 0);
    EXPECT_EQ(read->enableSSLv3, 1);
    EXPECT_EQ(read->enableRSA, 1);
    EXPECT_EQ(read->deferredInit, 1);
}

TEST_F(BindTest, TraceLevelSetsTheSyslogMask)
{
    struct level_case {
        const char *level;
        int mask;  // 0: the mask stays as it was
    };
    const level_case cases[] = {
        {"7", 0xFF}, {"3", 0x0F}, {"0", 0x01}, {"-1", 0}, {"31", 0}, {"30", 0x7FFFFFFF}, {"-5", 0},
    };
    for (const level_case &c : cases) {
        syslog_capture::reset();
        config cfg = fake_token_config();
        cfg.openssl_extra = "enableTrcLvl = true;";
        cfg.log = std::string("trace_level = ") + c.level + ";";
        write_config(cfg.text());
        engine = load_engine();
        ASSERT_NE(engine, nullptr) << c.level;
        EXPECT_EQ(syslog_capture::mask_calls(), c.mask != 0 ? std::vector<int>{c.mask} : std::vector<int>{})
            << c.level;
        const bool info_passes = c.mask == 0 || (c.mask & LOG_MASK(LOG_INFO)) != 0;
        EXPECT_EQ(logged(std::string("trace level enabled up to ") + c.level), info_passes) << c.level;
        release();
    }
}

TEST_F(BindTest, TraceLevelHoldsBackLaterLinesAboveIt)
{
    config cfg = fake_token_config();
    cfg.openssl_extra = "enableTrcLvl = true;";
    cfg.log = "trace_level = 6;";
    ASSERT_NE(bind(cfg), nullptr);
    EXPECT_TRUE(logged("trace level enabled up to 6"));
    EXPECT_TRUE(logged("set control function"));
    EXPECT_FALSE(logged("set finish function"));
}

TEST_F(BindTest, TraceLevelIgnoredWhenNotEnabled)
{
    for (const char *enabled : {"", "enableTrcLvl = false;"}) {
        syslog_capture::reset();
        config cfg = fake_token_config();
        cfg.openssl_extra = enabled;
        cfg.log = "trace_level = 3;";
        write_config(cfg.text());
        engine = load_engine();
        ASSERT_NE(engine, nullptr);
        EXPECT_TRUE(syslog_capture::mask_calls().empty()) << enabled;
        EXPECT_FALSE(logged("trace level enabled up to 3")) << enabled;
        release();
    }
}

TEST_F(BindTest, ReasonStringsLoadWithBindingAndUnloadWithDestroy)
{
    config cfg = fake_token_config();
    cfg.lib = quoted(ZORVEL_FAKE_TOKEN_WITHOUT_VENDOR_ENTRY);
    ASSERT_NE(bind(cfg), nullptr);
    ASSERT_EQ(init(), 0);
    std::vector<error_entry> errors = take_errors();
    ASSERT_FALSE(errors.empty());
    ASSERT_TRUE(is_engine_library(errors[0].lib));
    const int lib = errors[0].lib;

    const std::pair<int, const char *> reasons[] = {
        {ZORVEL_R_ENGINE_ERROR, "engine error"},
        {ZORVEL_R_OUT_OF_MEMORY, "Out of memory"},
        {ZORVEL_R_PKCS11_ERROR, "PKCS#11 error"},
        {ZORVEL_R_INVALID_VALUE, "Invalid value"},
        {ZORVEL_R_KEY_HANDLE_NOT_FOUND, "Key handle not found"},
        {ZORVEL_R_UNSUPPORTED_PADDING, "Unsupported padding"},
        {ZORVEL_R_NO_FPTR, "No PKCS#11 function pointer"},
        {ZORVEL_R_UNSUPPORTED_MECHANISM, "Unsupported mechanism"},
        {ZORVEL_R_INVALID_HASH_LENGTH, "Invalid hash length"},
    };
    for (const auto &reason : reasons) {
        const char *text = ERR_reason_error_string(ERR_PACK(lib, 0, reason.first));
        ASSERT_NE(text, nullptr) << reason.first;
        EXPECT_STREQ(text, reason.second);
    }

    release();
    EXPECT_EQ(ERR_reason_error_string(ERR_PACK(lib, 0, ZORVEL_R_PKCS11_ERROR)), nullptr);
}

TEST_F(BindTest, PinIsWipedWhenDestroyReleasesIt)
{
    ASSERT_TRUE(memory_functions_installed());
    ASSERT_NE(bind(fake_token_config()), nullptr);
    const zorvel_config_st *read = static_cast<zorvel_config_st *>(engine_symbol("zorvel_config"));
    ASSERT_NE(read, nullptr);
    ASSERT_STREQ(read->user_pin, fake_pin);
    watch_free_of(read->user_pin, std::strlen(fake_pin));
    release();
    EXPECT_EQ(watched_block(), freed_block::wiped);
}

// The first engine error after a failed init: the library without the vendor entry.
int engine_library_of_failed_init(ENGINE *e)
{
    EXPECT_EQ(ENGINE_init(e), 0);
    std::vector<error_entry> errors = take_errors();
    return errors.empty() ? 0 : errors[0].lib;
}

TEST_F(BindTest, BindsAgainAfterDestroyWithTheNewConfiguration)
{
    // The image stays loaded, so the second binding starts from what destroy left.
    image_hold image(ZORVEL_TEST_ENGINE);
    ASSERT_TRUE(image.held());
    config cfg = fake_token_config();
    cfg.lib = quoted(ZORVEL_FAKE_TOKEN_WITHOUT_VENDOR_ENTRY);
    ASSERT_NE(bind(cfg), nullptr);
    const int lib = engine_library_of_failed_init(engine.get());
    ASSERT_TRUE(is_engine_library(lib)) << lib;
    release();
    EXPECT_TRUE(logged("destroy engine"));
    EXPECT_TRUE(logged("finalized mutex"));
    EXPECT_EQ(ERR_reason_error_string(ERR_PACK(lib, 0, ZORVEL_R_ENGINE_ERROR)), nullptr);

    syslog_capture::reset();
    cfg.slot_id = "9";
    ASSERT_NE(bind(cfg), nullptr);
    EXPECT_TRUE(logged("initialized mutex"));
    EXPECT_TRUE(logged("set slotId 9"));
    EXPECT_EQ(static_cast<zorvel_config_st *>(engine_symbol("zorvel_config"))->slotId, 9U);
    // The library code obtained the first time stays, and its strings are loaded again.
    EXPECT_EQ(engine_library_of_failed_init(engine.get()), lib);
    EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(lib, 0, ZORVEL_R_ENGINE_ERROR)), "engine error");
}

TEST_F(BindTest, ControlCommandsAllSucceed)
{
    ASSERT_NE(bind(fake_token_config()), nullptr);
    for (int cmd : {ENGINE_CMD_BASE, ENGINE_CMD_BASE + 7, 1000})
        EXPECT_EQ(ENGINE_ctrl(engine.get(), cmd, 0, nullptr, nullptr), 1) << cmd;
    EXPECT_TRUE(logged("ctrl engine, cmd: 1000"));
}

}  // namespace
