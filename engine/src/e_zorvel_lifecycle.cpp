// Engine life cycle (init, finish, destroy, ctrl) and the steps that bring the token
// library into the process: load it by its configured path, bind the vendor function
// list and the standard list from it, and initialise it from the configuration file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/err.h>

#include "e_zorvel_internal.h"

extern "C" {
zorvel_p11_st zorvel_p11 = {nullptr, nullptr};
}

namespace {

// Handle of the token library, loaded untranslated from its configured path.
void *zorvel_dso = nullptr;

// Process in which the vendor C_Initialize last succeeded; 0 when none did.
pid_t zorvel_initialized_pid = 0;

const char ZORVEL_VENDOR_ENTRY[] = "C_GetZorvelFunctionList";

typedef CK_RV (*zorvel_vendor_entry_fn)(CK_ZORVEL_FUNCTION_LIST_PTR_PTR);

int zorvel_finalize(void)
{
    zorvel_log(LOG_DEBUG, "finalize");
    if (zorvel_p11.pFunctionList == nullptr) {
        if (zorvel_config.deferredInit)
            return 1;
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Finalize, no function pointers loaded");
        return 0;
    }
    // A child after fork leaves the library to the parent that initialised it.
    if (!zorvel_initialized_elsewhere()) {
        zorvel_token_enter();
        CK_RV rv = zorvel_p11.pFunctionList->C_Finalize(nullptr);
        zorvel_token_leave();
        if (rv != CKR_OK) {
            ZORVEL_REPORT_VALUE(ZORVEL_FINISH, ZORVEL_R_PKCS11_ERROR, "C_Finalize=0x", rv);
            zorvel_log(LOG_ERR, "finalize, failed: 0x%08X", ZORVEL_HEX32(rv));
            return 0;
        }
    }
    zorvel_unload_dso();
    return 1;
}

}  // namespace

int zorvel_load_dso(void)
{
    zorvel_log(LOG_DEBUG, "load DSO");
    if (zorvel_dso != nullptr)
        return 1;
    if (zorvel_config.lib == nullptr) {
        zorvel_put_error(ERR_LIB_ENGINE, ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, __LINE__);
        zorvel_log(LOG_ERR, "load DSO, no so file");
        return 0;
    }
    zorvel_dso = dlopen(zorvel_config.lib, RTLD_NOW | RTLD_LOCAL);
    if (zorvel_dso == nullptr) {
        // The loader's reason (no such file, wrong architecture, a missing dependency,
        // a name too long), which names the path again: whole in the line in words, cut
        // to the buffer in the error data and the trace.
        const char *loader = dlerror();
        char *whole_reason = loader != nullptr ? strdup(loader) : nullptr;
        char reason[512];
        std::snprintf(reason, sizeof reason, "%s", loader != nullptr ? loader : "");
        zorvel_put_error(ERR_LIB_ENGINE, ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, __LINE__);
        ERR_add_error_data(2, "DSO not loadable ", zorvel_config.lib);
        zorvel_log(LOG_ERR, "load DSO, , DSO not loadable %s", zorvel_config.lib);
        if (reason[0] != '\0') {
            zorvel_put_error(ERR_LIB_ENGINE, ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, __LINE__);
            ERR_add_error_data(1, reason);
            zorvel_log(LOG_ERR, "load DSO, %s", reason);
        }
        zorvel_tell(LOG_ERR, "the token library \"%s\" cannot be loaded: %s", zorvel_config.lib,
                    reason[0] == '\0' ? "no reason given" : whole_reason != nullptr ? whole_reason : reason);
        std::free(whole_reason);
        return 0;
    }
    return 1;
}

int zorvel_load_pflist(void)
{
    zorvel_log(LOG_DEBUG, "load func pointer list");
    if (zorvel_dso == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, "DSO not loaded");
        zorvel_log(LOG_ERR, "load func pointer list, DSO not loaded");
        return 0;
    }
    if (zorvel_p11.pFunctionList != nullptr)
        return 1;

    auto entry = reinterpret_cast<zorvel_vendor_entry_fn>(dlsym(zorvel_dso, ZORVEL_VENDOR_ENTRY));
    if (entry == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, "C_GetZorvelFunctionList not found");
        zorvel_log(LOG_ERR, "load func pointer list, C_GetZorvelFunctionList not found");
        zorvel_tell(LOG_ERR, "the token library \"%s\" lacks the entry point %s",
                    zorvel_config.lib != nullptr ? zorvel_config.lib : "n/a", ZORVEL_VENDOR_ENTRY);
        return 0;
    }
    zorvel_p11.pZorvelFunctionList = nullptr;
    zorvel_token_enter();
    CK_RV rv = entry(&zorvel_p11.pZorvelFunctionList);
    zorvel_token_leave();
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_GetZorvelFunctionList=0x", rv);
        zorvel_log(LOG_ERR, "load func pointer list, C_GetZorvelFunctionList failed with 0x%08X", ZORVEL_HEX32(rv));
        return 0;
    }
    // A library that answers CKR_OK without a usable list must not be called through it.
    const CK_ZORVEL_FUNCTION_LIST *vendor = zorvel_p11.pZorvelFunctionList;
    if (vendor == nullptr || vendor->C_GetFunctionList == nullptr || vendor->C_Initialize == nullptr) {
        zorvel_p11.pZorvelFunctionList = nullptr;
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, "C_GetZorvelFunctionList gave no usable list");
        zorvel_log(LOG_ERR, "load func pointer list, C_GetZorvelFunctionList gave no usable list");
        return 0;
    }
    zorvel_token_enter();
    rv = vendor->C_GetFunctionList(&zorvel_p11.pFunctionList);
    zorvel_token_leave();
    if (rv != CKR_OK) {
        zorvel_p11.pFunctionList = nullptr;
        ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_GetFunctionList=0x", rv);
        zorvel_log(LOG_ERR, "load func pointer list, C_GetFunctionList failed with 0x%08X", ZORVEL_HEX32(rv));
        return 0;
    }
    if (zorvel_p11.pFunctionList == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_ENGINE_ERROR, "C_GetFunctionList gave no list");
        zorvel_log(LOG_ERR, "load func pointer list, C_GetFunctionList gave no list");
        return 0;
    }
    return 1;
}

int zorvel_initialize(void)
{
    zorvel_log(LOG_DEBUG, "initialize");
    if (zorvel_pre_config == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Initialize, no configuration file provided");
        zorvel_log(LOG_ERR, "initialize, no configuration file provided");
        return 0;
    }
    if (zorvel_p11.pFunctionList == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Initialize, no function pointers loaded");
        zorvel_log(LOG_ERR, "initialize, no function pointers loaded");
        return 0;
    }
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pZorvelFunctionList->C_Initialize(zorvel_pre_config);
    zorvel_token_leave();
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        ZORVEL_REPORT_VALUE(ZORVEL_INIT, ZORVEL_R_PKCS11_ERROR, "C_Initialize=0x", rv);
        zorvel_log(LOG_ERR, "initialize, C_Initialize failed with 0x%08X", ZORVEL_HEX32(rv));
        zorvel_tell(LOG_ERR, "the token library \"%s\" failed to initialise from %s: %s",
                    zorvel_config.lib != nullptr ? zorvel_config.lib : "n/a", zorvel_pre_config,
                    zorvel_rv_in_words(rv).text);
        return 0;
    }
    zorvel_initialized_pid = zorvel_process_id();
    return 1;
}

void zorvel_unload_dso(void)
{
    zorvel_log(LOG_DEBUG, "unload DSO");
    if (zorvel_dso != nullptr) {
        zorvel_log(LOG_DEBUG, "unload DSO, free DSO");
        dlclose(zorvel_dso);
        zorvel_dso = nullptr;
    }
    zorvel_p11.pFunctionList = nullptr;
    zorvel_p11.pZorvelFunctionList = nullptr;
    zorvel_initialized_pid = 0;
}

int zorvel_load_library(void)
{
    if (!zorvel_load_dso())
        return 0;
    if (!zorvel_load_pflist()) {
        zorvel_unload_dso();
        return 0;
    }
    // On failure the library stays loaded and bound; the next attempt only initialises.
    return zorvel_initialize();
}

int zorvel_initialized_elsewhere(void)
{
    return zorvel_initialized_pid != 0 && zorvel_initialized_pid != zorvel_process_id();
}

int zorvel_init_engine(ENGINE *)
{
    zorvel_log(LOG_INFO, "init engine (deferred %i)", zorvel_config.deferredInit);
    zorvel_forget_login_failure();
    if (zorvel_config.deferredInit)
        return 1;
    return zorvel_load_library();
}

int zorvel_finish_engine(ENGINE *)
{
    zorvel_log(LOG_INFO, "finish engine (deferred %i)", zorvel_config.deferredInit);
    zorvel_close_ctx();
    return zorvel_finalize();
}

int zorvel_destroy_engine(ENGINE *)
{
    zorvel_log(LOG_INFO, "destroy engine");
    zorvel_log(LOG_DEBUG, "finalize config");
    zorvel_clear_config();
    zorvel_unbind_areas();
    zorvel_lock_destroy();
    zorvel_unload_error_strings();
    return 1;
}

void zorvel_unbind_areas(void)
{
    zorvel_unbind_rsa();
    zorvel_unbind_digests();
    zorvel_unbind_pkey_methods();
}

int zorvel_ctrl_engine(ENGINE *, int cmd, long, void *, void (*)(void))
{
    zorvel_log(LOG_INFO, "ctrl engine, cmd: %i", cmd);
    return 1;
}
