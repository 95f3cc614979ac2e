#include "engine_harness.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/err.h>

namespace fs = std::filesystem;

namespace engine_harness {

namespace {

std::set<std::string> fake_answer_names;

bool memory_functions = false;
std::atomic<const void *> watched_pointer{nullptr};
std::atomic<size_t> watched_length{0};
std::atomic<freed_block> watched_state{freed_block::not_freed};

void *pass_malloc(size_t size, const char *, int)
{
    return std::malloc(size);
}

void *pass_realloc(void *block, size_t size, const char *, int)
{
    return std::realloc(block, size);
}

void watching_free(void *block, const char *, int)
{
    const void *watched = block;
    if (block != nullptr && watched_pointer.compare_exchange_strong(watched, nullptr)) {
        const unsigned char *bytes = static_cast<const unsigned char *>(block);
        bool zero = true;
        for (size_t i = 0; i < watched_length; ++i)
            zero = zero && bytes[i] == 0;
        watched_state = zero ? freed_block::wiped : freed_block::not_wiped;
    }
    std::free(block);
}

void install_memory_functions()
{
    memory_functions = CRYPTO_set_mem_functions(pass_malloc, pass_realloc, watching_free) == 1;
}

}  // namespace

const char fake_pin[] = "pin-4711";

std::string config_path(config_place place)
{
    return place == config_place::first ? "./usr/local/zorvel/etc/zorvel.cfg" : "./etc/zorvel/zorvel.cfg";
}

std::string config::text() const
{
    std::string out = "zorvel = {\n  openssl = {\n";
    if (!lib.empty())
        out += "    lib = " + lib + ";\n";
    if (!user_pin.empty())
        out += "    user_pin = " + user_pin + ";\n";
    if (!slot_id.empty())
        out += "    slotId = " + slot_id + ";\n";
    out += openssl_extra;
    out += "  };\n";
    if (!log.empty())
        out += "  log = { " + log + " };\n";
    out += "};\n";
    return out;
}

std::string quoted(const std::string &value)
{
    return "\"" + value + "\"";
}

config fake_token_config()
{
    config cfg;
    cfg.lib = quoted(ZORVEL_FAKE_TOKEN);
    cfg.user_pin = quoted(fake_pin);
    return cfg;
}

void write_config(const std::string &text, config_place place)
{
    fs::path path = config_path(place);
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

void remove_configs()
{
    fs::remove_all("usr");
    fs::remove_all("etc");
}

engine_ptr load_engine(const char *id)
{
    ENGINE *e = ENGINE_by_id("dynamic");
    if (e == nullptr)
        return nullptr;
    if (!ENGINE_ctrl_cmd_string(e, "SO_PATH", ZORVEL_TEST_ENGINE, 0) ||
        (id != nullptr && !ENGINE_ctrl_cmd_string(e, "ID", id, 0)) || !ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0)) {
        ENGINE_free(e);
        return nullptr;
    }
    return engine_ptr(e);
}

void *engine_symbol(const char *name)
{
    void *library = dlopen(ZORVEL_TEST_ENGINE, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return nullptr;
    void *symbol = dlsym(library, name);
    dlclose(library);
    return symbol;
}

zorvel_ctx *get_ctx()
{
    auto get = reinterpret_cast<zorvel_ctx *(*)(void)>(engine_symbol("zorvel_get_ctx"));
    return get != nullptr ? get() : nullptr;
}

zorvel_ctx *current_ctx()
{
    auto ctx = static_cast<zorvel_ctx **>(engine_symbol("pZorvelCtx"));
    return ctx != nullptr ? *ctx : nullptr;
}

bool library_loaded(const std::string &path)
{
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return false;
    dlclose(library);
    return true;
}

image_hold::image_hold(const char *path) : handle(dlopen(path, RTLD_NOW))
{
}

image_hold::~image_hold()
{
    if (handle != nullptr)
        dlclose(handle);
}

bool memory_functions_installed()
{
    return memory_functions;
}

void watch_free_of(const void *block, size_t length)
{
    watched_length = length;
    watched_state = freed_block::not_freed;
    watched_pointer = block;
}

freed_block watched_block()
{
    return watched_state;
}

std::vector<error_entry> take_errors()
{
    std::vector<error_entry> entries;
    const char *file = nullptr;
    const char *function = nullptr;
    const char *data = nullptr;
    int line = 0;
    int flags = 0;
    while (unsigned long code = ERR_get_error_all(&file, &line, &function, &data, &flags)) {
        entries.push_back({ERR_GET_LIB(code), ERR_GET_REASON(code), function != nullptr ? function : "",
                           file != nullptr ? file : "", (flags & ERR_TXT_STRING) && data != nullptr ? data : ""});
    }
    return entries;
}

bool is_engine_library(int lib)
{
    return lib >= ERR_LIB_USER;
}

std::string thread_prefix()
{
    return "eZorvel(" + std::to_string(static_cast<int>(syscall(SYS_gettid))) + ") ";
}

std::vector<std::string> log_messages()
{
    const std::string prefix = thread_prefix();
    std::vector<std::string> messages;
    for (const syslog_capture::line &line : syslog_capture::lines())
        messages.push_back(line.text.compare(0, prefix.size(), prefix) == 0 ? line.text.substr(prefix.size())
                                                                            : line.text);
    return messages;
}

bool logged(const std::string &message)
{
    for (const std::string &m : log_messages())
        if (m == message)
            return true;
    return false;
}

std::string journal_path()
{
    return (fs::current_path() / "journal").string();
}

std::vector<std::string> journal()
{
    std::vector<std::string> lines;
    std::ifstream in(journal_path());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void clear_journal()
{
    fs::remove(journal_path());
}

void fake_answer(const std::string &function, unsigned long rv)
{
    std::string name = "ZORVEL_FAKE_RV_" + function;
    char hex[32];
    std::snprintf(hex, sizeof hex, "%lx", rv);
    setenv(name.c_str(), hex, 1);
    fake_answer_names.insert(name);
}

void clear_fake_answers()
{
    for (const std::string &name : fake_answer_names)
        unsetenv(name.c_str());
    fake_answer_names.clear();
}

std::string journal_line(const std::string &call)
{
    return "pid=" + std::to_string(getpid()) + " " + call;
}

void EngineTest::SetUp()
{
    syslog_capture::reset();
    remove_configs();
    clear_journal();
    clear_fake_answers();
    setenv("ZORVEL_FAKE_JOURNAL", journal_path().c_str(), 1);
    ERR_clear_error();
    syslog_capture::watch_for(fake_pin);
}

void EngineTest::TearDown()
{
    release();
    clear_fake_answers();
    ERR_clear_error();
    watch_free_of(nullptr, 0);
    EXPECT_EQ(syslog_capture::watched_lines(), 0) << "log lines showed the PIN " << fake_pin;
    syslog_capture::watch_for("");
}

ENGINE *EngineTest::initialised(const config &cfg)
{
    ENGINE *e = bind(cfg);
    if (e != nullptr) {
        EXPECT_EQ(init(), 1);
    }
    clear_journal();
    syslog_capture::reset();
    return e;
}

int EngineTest::init()
{
    int result = ENGINE_init(engine.get());
    if (result == 1)
        ++initialisations;
    return result;
}

int EngineTest::finish()
{
    --initialisations;
    return ENGINE_finish(engine.get());
}

void EngineTest::release()
{
    for (; initialisations > 0; --initialisations)
        ENGINE_finish(engine.get());
    engine.reset();
}

ENGINE *EngineTest::bind(const config &cfg)
{
    write_config(cfg.text());
    engine = load_engine();
    if (engine == nullptr) {
        std::string errors;
        for (const error_entry &error : take_errors())
            errors += "  " + error.function + " " + std::to_string(error.lib) + "/" + std::to_string(error.reason) +
                      " " + error.data + "\n";
        std::string log;
        for (const std::string &message : log_messages())
            log += "  " + message + "\n";
        ADD_FAILURE() << "binding failed for\n" << cfg.text() << "with errors\n" << errors << "and log\n" << log;
    }
    return engine.get();
}

}  // namespace engine_harness

namespace {

// Every test program runs in a fresh directory of its own, which holds its
// configuration files and the fake library's journal.
class private_directory : public ::testing::Environment {
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/zorvel-engine-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        previous = fs::current_path();
        fs::current_path(directory);
    }
    void TearDown() override
    {
        fs::current_path(previous);
        fs::remove_all(directory);
    }

private:
    fs::path directory;
    fs::path previous;
};

}  // namespace

int main(int argc, char **argv)
{
    // Before anything allocates through OpenSSL, which refuses the functions after that.
    engine_harness::install_memory_functions();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new private_directory);
    int result = RUN_ALL_TESTS();
    // Every test it ran skipped (a tool they need is missing): ctest reports it skipped.
    const ::testing::UnitTest &run = *::testing::UnitTest::GetInstance();
    if (result == 0 && run.test_to_run_count() > 0 && run.skipped_test_count() == run.test_to_run_count())
        return 77;
    return result;
}
