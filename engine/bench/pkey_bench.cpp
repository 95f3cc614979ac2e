// Throughput of RSA-2048 signatures on one token session, directly and through the
// engine at the production trace level and at the default trace (every priority).
//
//   zorvel_pkey_bench ENGINE_LIBRARY TOKEN_LIBRARY [SECONDS]
//
// Runs in a folder prepared by scripts/with-token.sh; it writes the engine's
// configuration below that folder. engine/bench/run.sh runs it beside a syslog daemon.
#include <dlfcn.h>
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "bench_common.h"
#include "pkcs11.h"
#include "rsa_token_keys.h"

namespace {

using Bytes = std::vector<unsigned char>;
using bench::rate;
using bench::report;
using bench::result;

// The engine's exported process context (its leading fields).
struct engine_ctx_view {
    int open;
    CK_SESSION_HANDLE session;
};

// The private-key object of the key on the token, found on `session`.
CK_OBJECT_HANDLE find_private_key(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, const EVP_PKEY *key)
{
    Bytes n = key_param(key, "n");
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_MODULUS, n.data(), n.size()}};
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG count = 0;
    if (f->C_FindObjectsInit(session, tmpl, 2) != CKR_OK)
        return 0;
    f->C_FindObjects(session, &handle, 1, &count);
    f->C_FindObjectsFinal(session);
    return count == 1 ? handle : 0;
}

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    ENGINE *e = bench::start(argc, argv, &status);
    if (e == nullptr)
        return status;
    EVP_PKEY *key = make_software_rsa(2048);
    EVP_PKEY *engineKey = engine_pkey_copy(e, key, false);
    TokenKeys keys;
    if (key == nullptr || engineKey == nullptr || !keys.open(argv[2]) || !keys.import_pair(key)) {
        std::fprintf(stderr, "no key on the token\n");
        return 1;
    }

    const Bytes digest(32, 0x11);
    const unsigned char message[] = "benchmark message";
    auto key_method_sign = [&] {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(engineKey, e);
        unsigned char sig[256];
        size_t len = sizeof sig;
        bool ok = ctx != nullptr && EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1
                  && EVP_PKEY_sign(ctx, sig, &len, digest.data(), digest.size()) == 1;
        EVP_PKEY_CTX_free(ctx);
        return ok;
    };
    if (!key_method_sign()) { // also creates the engine's context and caches the handle
        ERR_print_errors_fp(stderr);
        return 1;
    }

    // The engine's session and the token's function list, for the direct calls.
    void *engineLib = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD);
    void *tokenLib = dlopen(argv[2], RTLD_NOW | RTLD_NOLOAD);
    auto **ctxp = engineLib ? static_cast<engine_ctx_view **>(dlsym(engineLib, "pZorvelCtx")) : nullptr;
    auto getList = tokenLib ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(tokenLib, "C_GetFunctionList")) : nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    if (ctxp == nullptr || *ctxp == nullptr || getList == nullptr || getList(&f) != CKR_OK) {
        std::fprintf(stderr, "engine session or token functions not found\n");
        return 1;
    }
    const CK_SESSION_HANDLE session = (*ctxp)->session;
    const CK_OBJECT_HANDLE privateKey = find_private_key(f, session, key);
    RSA *rsa = EVP_PKEY_get1_RSA(engineKey);

    // The SHA-256 DigestInfo, as the engine sends it with CKM_RSA_PKCS.
    const unsigned char prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    Bytes digestInfo(sizeof prefix + digest.size());
    std::copy(prefix, prefix + sizeof prefix, digestInfo.begin());
    std::copy(digest.begin(), digest.end(), digestInfo.begin() + sizeof prefix);
    std::mutex pairLock; // like the engine: Init and Sign in one hold
    auto direct = [&] {
        CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
        unsigned char sig[256];
        CK_ULONG len = sizeof sig;
        std::lock_guard<std::mutex> guard(pairLock);
        return f->C_SignInit(session, &mechanism, privateKey) == CKR_OK
               && f->C_Sign(session, digestInfo.data(), digestInfo.size(), sig, &len) == CKR_OK;
    };
    auto rsa_method = [&] {
        unsigned char sig[256];
        unsigned int len = 0;
        return RSA_sign(NID_sha256, digest.data(), static_cast<unsigned int>(digest.size()), sig, &len, rsa) == 1;
    };
    auto digest_sign = [&] {
        EVP_MD_CTX *md = EVP_MD_CTX_new();
        unsigned char sig[256];
        size_t len = sizeof sig;
        bool ok = EVP_DigestSignInit(md, nullptr, EVP_sha256(), e, engineKey) == 1
                  && EVP_DigestSign(md, sig, &len, message, sizeof message) == 1;
        EVP_MD_CTX_free(md);
        ERR_clear_error();
        return ok;
    };

    // The engine writes a line where syslog's mask lets it through: the configured level
    // first, then the mask that a configuration without enableTrcLvl leaves (every
    // priority, about 45 lines per signature).
    const int productionMask = setlogmask(0);
    const int defaultMask = LOG_UPTO(LOG_DEBUG);
    std::printf("RSA-2048 signatures of a SHA-256 digest on one token session (%.1f s each)\n", bench::seconds);
    for (int threads : {1, 8}) {
        std::printf(" %d thread%s\n", threads, threads > 1 ? "s" : "");
        const result d = rate(threads, direct);
        report("direct C_SignInit + C_Sign", d, nullptr, "");
        setlogmask(productionMask);
        report("production trace: RSA method (RSA_sign)", rate(threads, rsa_method), &d, "direct");
        report("production trace: key method", rate(threads, key_method_sign), &d, "direct");
        report("production trace: EVP_DigestSign", rate(threads, digest_sign), &d, "direct");
        setlogmask(defaultMask);
        report("default trace: key method", rate(threads, key_method_sign), &d, "direct");
        report("default trace: EVP_DigestSign", rate(threads, digest_sign), &d, "direct");
        setlogmask(productionMask);
    }
    RSA_free(rsa);
    EVP_PKEY_free(engineKey);
    EVP_PKEY_free(key);
    ENGINE_finish(e);
    ENGINE_free(e);
    return 0;
}
