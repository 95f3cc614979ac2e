// The lines that tell a person what to do about a failure, beside the engine's usual
// report: a refused PIN, a slot the library does not have, a library that cannot be
// loaded, lacks the entry point or cannot be initialised, a trace level outside 0..7.
// Each goes to standard error and to syslog, whole, with the library's path between
// quotes; no line, on either or in the error queue, shows the PIN.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine_harness.h"

using namespace engine_harness;

namespace {

// How far a case drives the engine before its line is due.
enum class until { binding, init, context };

struct actionable_case {
    const char *name;
    void (*arrange)(config &cfg); // the configuration and the fake library's answers
    until step;
    std::string stderr_line;
    std::string log_message;      // the syslog line after the thread prefix
};

const std::string config_file = config_path(config_place::first);
const std::string fake = ZORVEL_FAKE_TOKEN;
const std::string fake_without_vendor_entry = ZORVEL_FAKE_TOKEN_WITHOUT_VENDOR_ENTRY;
// Longer than a line's stack buffer, and its last part longer than a file name may be.
const std::string long_path = "./" + std::string(2998, 'x');

// "0, 1, ..., n - 1", as the line lists the fake library's slots.
std::string slots_up_to(int n)
{
    std::string list;
    for (int i = 0; i < n; ++i)
        list += (i > 0 ? ", " : "") + std::to_string(i);
    return list;
}

void trace_level(config &cfg, const char *level)
{
    cfg.openssl_extra = "enableTrcLvl = true;";
    cfg.log = std::string("trace_level = ") + level + ";";
}

const actionable_case cases[] = {
    {"wrong PIN", [](config &) { fake_answer("C_Login", CKR_PIN_INCORRECT); }, until::context,
     "eZorvel: the token refused the user PIN: CKR_PIN_INCORRECT\n", "the token refused the user PIN: CKR_PIN_INCORRECT"},
    {"locked PIN", [](config &) { fake_answer("C_Login", CKR_PIN_LOCKED); }, until::context,
     "eZorvel: the token refused the user PIN: CKR_PIN_LOCKED\n", "the token refused the user PIN: CKR_PIN_LOCKED"},
    {"expired PIN", [](config &) { fake_answer("C_Login", CKR_PIN_EXPIRED); }, until::context,
     "eZorvel: the token refused the user PIN: CKR_PIN_EXPIRED\n", "the token refused the user PIN: CKR_PIN_EXPIRED"},
    {"other login failure", [](config &) { fake_answer("C_Login", CKR_DEVICE_ERROR); }, until::context,
     "eZorvel: the token refused the user login: CKR_DEVICE_ERROR\n",
     "the token refused the user login: CKR_DEVICE_ERROR"},
    {"absent slot",
     [](config &cfg) {
         cfg.slot_id = "7";
         fake_answer("C_OpenSession", CKR_SLOT_ID_INVALID);
     },
     until::context, "eZorvel: slot 7 is not a slot of the token library \"" + fake + "\"; its slots: 0, 1\n",
     "slot 7 is not a slot of the token library \"" + fake + "\"; its slots: 0, 1"},
    {"absent slot among many",
     [](config &cfg) {
         cfg.slot_id = "99";
         setenv("ZORVEL_FAKE_SLOTS", "40", 1);
         fake_answer("C_OpenSession", CKR_SLOT_ID_INVALID);
     },
     until::context,
     "eZorvel: slot 99 is not a slot of the token library \"" + fake + "\"; its slots: " + slots_up_to(40) + "\n",
     "slot 99 is not a slot of the token library \"" + fake + "\"; its slots: " + slots_up_to(40)},
    {"unloadable library", [](config &cfg) { cfg.lib = quoted("./no-such-library.so"); }, until::init,
     "eZorvel: the token library \"./no-such-library.so\" cannot be loaded: ./no-such-library.so: cannot open shared "
     "object file: No such file or directory\n",
     "the token library \"./no-such-library.so\" cannot be loaded: ./no-such-library.so: cannot open shared object "
     "file: No such file or directory"},
    {"library path with spaces around it", [](config &cfg) { cfg.lib = quoted(" /x "); }, until::init,
     "eZorvel: the token library \" /x \" cannot be loaded:  /x : cannot open shared object file: No such file or "
     "directory\n",
     "the token library \" /x \" cannot be loaded:  /x : cannot open shared object file: No such file or directory"},
    {"library path of 3000 characters", [](config &cfg) { cfg.lib = quoted(long_path); }, until::init,
     "eZorvel: the token library \"" + long_path + "\" cannot be loaded: " + long_path +
         ": cannot open shared object file: File name too long\n",
     "the token library \"" + long_path + "\" cannot be loaded: " + long_path +
         ": cannot open shared object file: File name too long"},
    {"library without the entry point", [](config &cfg) { cfg.lib = quoted(fake_without_vendor_entry); },
     until::init,
     "eZorvel: the token library \"" + fake_without_vendor_entry + "\" lacks the entry point C_GetZorvelFunctionList\n",
     "the token library \"" + fake_without_vendor_entry + "\" lacks the entry point C_GetZorvelFunctionList"},
    {"failing C_Initialize", [](config &) { fake_answer("C_Initialize", CKR_GENERAL_ERROR); }, until::init,
     "eZorvel: the token library \"" + fake + "\" failed to initialise from " + config_file + ": CKR_GENERAL_ERROR\n",
     "the token library \"" + fake + "\" failed to initialise from " + config_file + ": CKR_GENERAL_ERROR"},
    {"vendor-defined answer", [](config &) { fake_answer("C_Initialize", 0x80000123); }, until::init,
     "eZorvel: the token library \"" + fake + "\" failed to initialise from " + config_file +
         ": vendor-defined 0x80000123\n",
     "the token library \"" + fake + "\" failed to initialise from " + config_file + ": vendor-defined 0x80000123"},
    {"trace level 99", [](config &cfg) { trace_level(cfg, "99"); }, until::binding,
     config_file + ": trace_level 99 outside 0..7: syslog mask left as it is\n",
     "init config, trace_level 99 outside 0..7: syslog mask left as it is"},
    {"trace level -3", [](config &cfg) { trace_level(cfg, "-3"); }, until::binding,
     config_file + ": trace_level -3 outside 0..7: syslog mask left as it is\n",
     "init config, trace_level -3 outside 0..7: syslog mask left as it is"},
    {"trace level 12", [](config &cfg) { trace_level(cfg, "12"); }, until::binding,
     config_file + ": trace_level 12 outside 0..7: every priority passes, as with 7\n",
     "init config, trace_level 12 outside 0..7: every priority passes, as with 7"},
};

class ActionableErrorsTest : public EngineTest {
protected:
    // Drives the engine as far as the case says and checks its line and the PIN.
    void check(const actionable_case &c)
    {
        config cfg = fake_token_config();
        c.arrange(cfg);
        testing::internal::CaptureStderr();
        ENGINE *e = bind(cfg);
        if (e != nullptr && c.step != until::binding) {
            const int initialised = init();
            EXPECT_EQ(initialised, c.step == until::context ? 1 : 0);
            if (initialised == 1) {
                EXPECT_EQ(get_ctx(), nullptr);
            }
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(e, nullptr);
        EXPECT_NE(err.find(c.stderr_line), std::string::npos) << err;
        EXPECT_TRUE(logged(c.log_message));
        EXPECT_EQ(err.find(fake_pin), std::string::npos) << err;
        for (const syslog_capture::line &line : syslog_capture::lines())
            EXPECT_EQ(line.text.find(fake_pin), std::string::npos) << line.text;
        for (const error_entry &error : take_errors())
            EXPECT_EQ(error.data.find(fake_pin), std::string::npos) << error.data;
    }
};

// Each case in a child of its own: a failed initialisation leaves the library loaded.
TEST_F(ActionableErrorsTest, EachFailureTellsWhatIsWrongAndNoLineShowsThePin)
{
    for (const actionable_case &c : cases)
        EXPECT_EQ(in_child([&] { check(c); }), 0) << c.name;
}

} // namespace
