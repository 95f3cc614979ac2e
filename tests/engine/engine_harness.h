// Shared routines of the engine tests: a private working directory with the engine's
// configuration files below it, loading the engine through OpenSSL's dynamic engine,
// reaching its process context, reading the error queue, the syslog capture and the
// fake token library's journal.
#ifndef ZORVEL_TESTS_ENGINE_HARNESS_H
#define ZORVEL_TESTS_ENGINE_HARNESS_H

#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/engine.h>

#include "e_zorvel_internal.h"
#include "syslog_capture.h"

namespace engine_harness {

// ---------------------------------------------------------------- configuration

// The engine variant under test reads "./usr/local/zorvel/etc/zorvel.cfg", then
// "./etc/zorvel/zorvel.cfg", below the working directory.
enum class config_place { first, second };
std::string config_path(config_place place);

// A configuration file; each value is libconfig text ("\"1234\"", "5"), empty to leave
// the key out.
struct config {
    std::string lib;
    std::string user_pin;
    std::string slot_id = "0";
    std::string openssl_extra;  // further settings of the zorvel.openssl group
    std::string log;            // settings of the zorvel.log group
    std::string text() const;
};

std::string quoted(const std::string &value);

// The fake token library with the PIN fake_pin on slot 0.
extern const char fake_pin[];
config fake_token_config();
void write_config(const std::string &text, config_place place = config_place::first);
void remove_configs();

// --------------------------------------------------------------------- loading

struct engine_free {
    void operator()(ENGINE *e) const { ENGINE_free(e); }
};
using engine_ptr = std::unique_ptr<ENGINE, engine_free>;

// Loads the engine with the given id (nullptr: none given); empty when binding failed.
engine_ptr load_engine(const char *id = "zorvel");

// The engine library's own symbols, while OpenSSL has it loaded.
void *engine_symbol(const char *name);
zorvel_ctx *get_ctx();
zorvel_ctx *current_ctx();

bool library_loaded(const std::string &path);

// Holds a library image loaded while it lives, so that its statics outlast the engine
// that OpenSSL frees (and unloads) meanwhile.
class image_hold {
public:
    explicit image_hold(const char *path);
    ~image_hold();
    image_hold(const image_hold &) = delete;
    image_hold &operator=(const image_hold &) = delete;
    bool held() const { return handle != nullptr; }

private:
    void *handle;
};

// ---------------------------------------------------------------------- errors

struct error_entry {
    int lib;
    int reason;
    std::string function;
    std::string file;
    std::string data;
};

// Drains the calling thread's error queue, oldest first.
std::vector<error_entry> take_errors();

// The entries of the engine's own library (libraries from ERR_LIB_USER up).
bool is_engine_library(int lib);

// ----------------------------------------------------------------- freed memory

// OpenSSL's memory functions pass through the test program, which can watch one block
// being freed: what its first `length` bytes held at that moment.
enum class freed_block { not_freed, wiped, not_wiped };
bool memory_functions_installed();
void watch_free_of(const void *block, size_t length);
freed_block watched_block();

// ------------------------------------------------------------------------- log

// The text of every captured syslog line after the "eZorvel(<tid>) " prefix; a line
// without the prefix of the calling thread is kept whole, so that it fails a match.
std::vector<std::string> log_messages();
bool logged(const std::string &message);
std::string thread_prefix();

// --------------------------------------------------------------- fake library

std::string journal_path();
std::vector<std::string> journal();
void clear_journal();
// Makes the fake token library answer `function` with `rv` until the test ends.
void fake_answer(const std::string &function, unsigned long rv);
void clear_fake_answers();

// A journal line of this process ("pid=<n> <call>").
std::string journal_line(const std::string &call);

// ---------------------------------------------------------------------- fixture

// Runs `body` in a forked child and returns its exit status: 0 when the child's checks
// passed. For tests that leave the process in a state the later tests must not see.
template <typename Body>
int in_child(Body body)
{
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Fresh capture, configuration and journal for every test; finishes and frees the
// engine after, and fails the test when a log line showed fake_pin. OpenSSL refuses to load the engine again while an earlier instance is
// still referenced, so tests initialise and finish through init() and finish().
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the configuration and loads the engine; fails the test when binding fails.
    ENGINE *bind(const config &cfg);
    // Binds and initialises, then starts the journal and the log afresh.
    ENGINE *initialised(const config &cfg);
    int init();
    int finish();
    // Finishes every initialisation left and frees the engine.
    void release();

    engine_ptr engine;
    int initialisations = 0;
};

}  // namespace engine_harness

#endif
