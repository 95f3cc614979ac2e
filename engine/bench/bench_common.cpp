#include "bench_common.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <openssl/err.h>

namespace bench {

double seconds = 2.0;

result rate(int threads, const std::function<bool()> &op, double duration)
{
    using clock_type = std::chrono::steady_clock;
    std::vector<long> counts(threads, 0);
    std::vector<long> failed(threads, 0);
    const auto start = clock_type::now();
    const auto end = start + std::chrono::duration<double>(duration > 0 ? duration : seconds);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            while (clock_type::now() < end) {
                if (op())
                    ++counts[t];
                else
                    ++failed[t];
            }
        });
    for (std::thread &thread : pool)
        thread.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - start).count();
    result r = {0, 0};
    for (int t = 0; t < threads; ++t) {
        r.perSecond += counts[t];
        r.failures += failed[t];
    }
    r.perSecond /= elapsed;
    return r;
}

void write_config(const char *tokenLibrary)
{
    mkdir("etc", 0755);
    mkdir("etc/zorvel", 0755);
    const char *pin = std::getenv("ZORVEL_TEST_USER_PIN");
    const char *level = std::getenv("ZORVEL_BENCH_TRACE_LEVEL");
    std::ofstream cfg("etc/zorvel/zorvel.cfg");
    cfg << "zorvel: { openssl: { lib = \"" << tokenLibrary << "\"; user_pin = \"" << (pin ? pin : "")
        << "\"; slotId = 0; enableRSA = true; enableSSLv3 = false; enableDigest = true; enableTrcLvl = true; };\n"
        << "  log: { trace_level = " << (level ? level : "6") << "; }; };\n";
}

ENGINE *load_engine(const char *path)
{
    ENGINE_load_dynamic();
    ENGINE *e = ENGINE_by_id("dynamic");
    if (e == nullptr || !ENGINE_ctrl_cmd_string(e, "SO_PATH", path, 0) || !ENGINE_ctrl_cmd_string(e, "ID", "zorvel", 0)
        || !ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0) || !ENGINE_init(e)) {
        ERR_print_errors_fp(stderr);
        return nullptr;
    }
    return e;
}

ENGINE *start(int argc, char **argv, int *status)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ENGINE_LIBRARY TOKEN_LIBRARY [SECONDS]\n", argv[0]);
        *status = 2;
        return nullptr;
    }
    if (argc > 3)
        seconds = std::atof(argv[3]);
    write_config(argv[2]);
    ENGINE *e = load_engine(argv[1]);
    *status = e != nullptr ? 0 : 1;
    return e;
}

void report(const char *what, const result &r, const result *baseline, const char *baselineName)
{
    std::printf("  %-42s %9.1f /s", what, r.perSecond);
    if (baseline != nullptr && baseline->perSecond > 0)
        std::printf("   %6.3f of %s", r.perSecond / baseline->perSecond, baselineName);
    if (r.failures > 0)
        std::printf("   (%ld failed)", r.failures);
    std::printf("\n");
}

} // namespace bench
