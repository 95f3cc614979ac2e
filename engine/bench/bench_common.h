// What the engine's benchmarks share: the configuration they write, loading the engine
// as a host does, and timing an operation for a fixed time on one or more threads.
#pragma once

#include <functional>

#include <openssl/engine.h>

namespace bench {

// Seconds each measurement runs.
extern double seconds;

struct result {
    double perSecond; // successful operations per second
    long failures;
};

// Runs op on `threads` threads for `duration` seconds (default: `seconds`).
result rate(int threads, const std::function<bool()> &op, double duration = 0);

// The command line ENGINE_LIBRARY TOKEN_LIBRARY [SECONDS]: sets `seconds`, writes the
// configuration and loads the engine; nullptr with the exit status (2 for a wrong command
// line) when that fails.
ENGINE *start(int argc, char **argv, int *status);

// Writes ./etc/zorvel/zorvel.cfg for the token library with ZORVEL_TEST_USER_PIN, the
// RSA method and the digests on, and the production trace level (6, LOG_INFO: every
// LOG_DEBUG step line dropped) or ZORVEL_BENCH_TRACE_LEVEL.
void write_config(const char *tokenLibrary);

// Loads and initialises the engine from its path through OpenSSL's dynamic engine;
// nullptr (errors printed) when that fails.
ENGINE *load_engine(const char *path);

// One row: the rate, and its ratio to the baseline when there is one.
void report(const char *what, const result &r, const result *baseline, const char *baselineName);

} // namespace bench
