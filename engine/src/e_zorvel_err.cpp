// The engine's OpenSSL error library: function names, reason strings and the
// reporting of one failure with its error data.
//
// OpenSSL 3 keeps no function code in an error entry (ERR_PACK drops it), so the
// function's name is recorded with ERR_set_debug and only the reasons are loaded as
// strings. A PKCS#11 return value never goes into a reason; it is error data.
#include <cstdio>

#include <openssl/err.h>

#include "e_zorvel_internal.h"

namespace {

// Error entries name this as their source file.
const char ZORVEL_ERROR_FILE[] = "src/e_zorvel";

int ZORVEL_lib_error_code = 0;
int ZORVEL_error_init = 1;

struct zorvel_function_string {
    int code;
    const char *name;
};

const zorvel_function_string ZORVEL_str_functs[] = {
    {ZORVEL_INIT, "ZORVEL_INIT"},
    {ZORVEL_FINISH, "ZORVEL_FINISH"},
    {ZORVEL_F_SEED, "ZORVEL_F_SEED"},
    {ZORVEL_F_RAND, "ZORVEL_F_RAND"},
    {ZORVEL_F_INIT_HASH, "ZORVEL_F_INIT_HASH"},
    {ZORVEL_F_HASH, "ZORVEL_F_HASH"},
    {ZORVEL_F_FINISH_HASH, "ZORVEL_F_FINISH_HASH"},
    {ZORVEL_F_GEN_RSA, "ZORVEL_F_GEN_RSA"},
    {ZORVEL_F_FIND_OBJECT, "ZORVEL_F_FIND_OBJECT"},
    {ZORVEL_F_LOAD_KEY, "ZORVEL_F_LOAD_KEY"},
    {ZORVEL_F_RSA_PRIVATE_ENCRYPT, "ZORVEL_F_RSA_PRIVATE_ENCRYPT"},
    {ZORVEL_F_RSA_PRIVATE_DECRYPT, "ZORVEL_F_RSA_PRIVATE_DECRYPT"},
    {ZORVEL_F_RSA_PUBLIC_ENCRYPT, "ZORVEL_F_RSA_PUBLIC_ENCRYPT"},
    {ZORVEL_F_RSA_PUBLIC_DECRYPT, "ZORVEL_F_RSA_PUBLIC_DECRYPT"},
    {ZORVEL_F_RSA_PRIVATE_SIGN, "ZORVEL_F_RSA_PRIVATE_SIGN"},
    {ZORVEL_F_RSA_PUBLIC_VERIFY, "ZORVEL_F_RSA_PUBLIC_VERIFY"},
    {ZORVEL_F_NO_FPTR, "ZORVEL_F_NO_FPTR"},
};

// ERR_load_strings puts the library code into every row; no row for the library's name.
ERR_STRING_DATA ZORVEL_str_reasons[] = {
    {ERR_PACK(0, 0, ZORVEL_R_ENGINE_ERROR), "engine error"},
    {ERR_PACK(0, 0, ZORVEL_R_OUT_OF_MEMORY), "Out of memory"},
    {ERR_PACK(0, 0, ZORVEL_R_PKCS11_ERROR), "PKCS#11 error"},
    {ERR_PACK(0, 0, ZORVEL_R_INVALID_VALUE), "Invalid value"},
    {ERR_PACK(0, 0, ZORVEL_R_KEY_HANDLE_NOT_FOUND), "Key handle not found"},
    {ERR_PACK(0, 0, ZORVEL_R_UNSUPPORTED_PADDING), "Unsupported padding"},
    {ERR_PACK(0, 0, ZORVEL_R_NO_FPTR), "No PKCS#11 function pointer"},
    {ERR_PACK(0, 0, ZORVEL_R_UNSUPPORTED_MECHANISM), "Unsupported mechanism"},
    {ERR_PACK(0, 0, ZORVEL_R_INVALID_HASH_LENGTH), "Invalid hash length"},
    {0, nullptr},
};

}  // namespace

int zorvel_error_library(void)
{
    if (ZORVEL_lib_error_code == 0)
        ZORVEL_lib_error_code = ERR_get_next_error_library();
    return ZORVEL_lib_error_code;
}

const char *zorvel_function_name(int function)
{
    for (const zorvel_function_string &entry : ZORVEL_str_functs)
        if (entry.code == function)
            return entry.name;
    return nullptr;
}

void zorvel_put_library_error(int lib, const char *function_name, int reason, int line)
{
    ERR_new();
    ERR_set_debug(ZORVEL_ERROR_FILE, line, function_name);
    ERR_set_error(lib, reason, nullptr);
}

void zorvel_put_error(int lib, int function, int reason, int line)
{
    zorvel_put_library_error(lib, zorvel_function_name(function), reason, line);
}

void ERR_ZORVEL_error(int function, int reason, int line)
{
    zorvel_put_error(zorvel_error_library(), function, reason, line);
}

void zorvel_add_error_text(const char *text)
{
    ERR_add_error_data(1, text);
}

void zorvel_add_error_value(const char *text, unsigned long value)
{
    char hex[32];
    std::snprintf(hex, sizeof hex, "%08X", ZORVEL_HEX32(value));
    ERR_add_error_data(2, text, hex);
}

void zorvel_load_error_strings(void)
{
    int lib = zorvel_error_library();
    if (ZORVEL_error_init) {
        ZORVEL_error_init = 0;
        ERR_load_strings(lib, ZORVEL_str_reasons);
    }
}

void zorvel_unload_error_strings(void)
{
    if (!ZORVEL_error_init) {
        ERR_unload_strings(zorvel_error_library(), ZORVEL_str_reasons);
        ZORVEL_error_init = 1;
    }
}
