// Throughput of SHA-256 over 1 MiB fed in parts of 64 bytes, 16 KiB and 1 MiB: in
// software, by direct C_DigestInit/C_DigestUpdate/C_DigestFinal calls on the token, and
// through the engine's digest on the same token, all in one process. Each figure is the
// best of a few short rounds, taken in turn, so that a busy machine slows all three alike.
//
//   zorvel_digest_bench ENGINE_LIBRARY TOKEN_LIBRARY [SECONDS]
//
// Runs in a folder prepared by scripts/with-token.sh; it writes the engine's
// configuration below that folder.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <openssl/engine.h>
#include <openssl/evp.h>

#include "bench_common.h"
#include "pkcs11.h"

namespace {

using Bytes = std::vector<unsigned char>;

const int kRounds = 10;

// SHA-256 of `data` in parts of `part` bytes through OpenSSL, with the given digest and engine.
bool evp_digest(EVP_MD_CTX *ctx, const EVP_MD *md, ENGINE *e, const Bytes &data, size_t part)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestInit_ex(ctx, md, e) != 1)
        return false;
    for (size_t at = 0; at < data.size(); at += part)
        if (EVP_DigestUpdate(ctx, data.data() + at, std::min(part, data.size() - at)) != 1)
            return false;
    return EVP_DigestFinal_ex(ctx, out, &len) == 1 && len == 32;
}

// The same by direct calls on a session of the token.
bool token_digest(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, Bytes &data, size_t part)
{
    CK_MECHANISM mechanism = {CKM_SHA256, nullptr, 0};
    unsigned char out[32];
    CK_ULONG len = sizeof out;
    if (f->C_DigestInit(session, &mechanism) != CKR_OK)
        return false;
    for (size_t at = 0; at < data.size(); at += part)
        if (f->C_DigestUpdate(session, data.data() + at, std::min(part, data.size() - at)) != CKR_OK)
            return false;
    return f->C_DigestFinal(session, out, &len) == CKR_OK && len == sizeof out;
}

bench::result best(const bench::result &a, const bench::result &b)
{
    return {std::max(a.perSecond, b.perSecond), a.failures + b.failures};
}

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    ENGINE *e = bench::start(argc, argv, &status);
    if (e == nullptr)
        return status;
    // Binding made the engine every digest's default: without that, EVP_sha256() is software.
    ENGINE_unregister_digests(e);
    const EVP_MD *engineMd = ENGINE_get_digest(e, NID_sha256);

    void *tokenLib = dlopen(argv[2], RTLD_NOW | RTLD_NOLOAD);
    auto getList = tokenLib ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(tokenLib, "C_GetFunctionList")) : nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE session = 0;
    if (engineMd == nullptr || getList == nullptr || getList(&f) != CKR_OK
        || f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        std::fprintf(stderr, "engine digest or token session not available\n");
        return 1;
    }

    Bytes mebibyte(1 << 20, 0x5a);
    // A context of each: OpenSSL keeps a context's engine for the next init of the same digest.
    EVP_MD_CTX *softwareCtx = EVP_MD_CTX_new();
    EVP_MD_CTX *engineCtx = EVP_MD_CTX_new();
    const double round = bench::seconds / kRounds;
    std::printf("SHA-256 of 1 MiB, digests per second (best of %d rounds of %.2f s each)\n", kRounds, round);
    std::printf("  %-10s %10s %10s %8s %10s %8s %15s\n", "parts of", "software", "direct", "of sw", "engine", "of sw",
                "engine/direct");
    for (size_t part : {size_t{64}, size_t{16384}, size_t{1} << 20}) {
        bench::result software = {0, 0}, direct = {0, 0}, engine = {0, 0};
        for (int r = 0; r < kRounds; ++r) {
            software = best(software, bench::rate(1, [&] { return evp_digest(softwareCtx, EVP_sha256(), nullptr, mebibyte, part); },
                                                  round));
            direct = best(direct, bench::rate(1, [&] { return token_digest(f, session, mebibyte, part); }, round));
            engine = best(engine, bench::rate(1, [&] { return evp_digest(engineCtx, engineMd, e, mebibyte, part); }, round));
        }
        char label[16];
        std::snprintf(label, sizeof label, part < 1024 ? "%zu B" : part < (1 << 20) ? "%zu KiB" : "%zu MiB",
                      part < 1024 ? part : part < (1 << 20) ? part >> 10 : part >> 20);
        std::printf("  %-10s %10.1f %10.1f %8.3f %10.1f %8.3f %15.3f", label, software.perSecond, direct.perSecond,
                    direct.perSecond / software.perSecond, engine.perSecond, engine.perSecond / software.perSecond,
                    engine.perSecond / direct.perSecond);
        if (software.failures + direct.failures + engine.failures > 0)
            std::printf("   (%ld failed)", software.failures + direct.failures + engine.failures);
        std::printf("\n");
    }

    EVP_MD_CTX_free(softwareCtx);
    EVP_MD_CTX_free(engineCtx);
    f->C_CloseSession(session);
    ENGINE_finish(e);
    ENGINE_free(e);
    return 0;
}
