// Binding of the zorvel engine: the dynamic-engine entry points, the configuration
// file, and the registration of the engine's identity, life cycle and methods.
#include <cctype>
#include <cstdio>
#include <cstring>

#include <libconfig.h>

#include <openssl/crypto.h>
#include <openssl/engine.h>

#include "e_zorvel_internal.h"

zorvel_config_st zorvel_config = {};
char *zorvel_pre_config = nullptr;

namespace {

// The engine has no control commands: only the terminator.
const ENGINE_CMD_DEFN zorvel_cmd_defns[] = {{0, nullptr, nullptr, 0}};

void zorvel_release_string(char *&field)
{
    if (field != nullptr)
        OPENSSL_clear_free(field, std::strlen(field));
    field = nullptr;
}

// Stores an owned copy of value (NULL stays NULL), releasing the one stored before.
void zorvel_replace_string(char *&field, const char *value)
{
    zorvel_release_string(field);
    if (value != nullptr)
        field = OPENSSL_strdup(value);
}

void zorvel_print_config_error(const config_t *cfg, const char *path)
{
    // libconfig names no file when it could not open it: name the one tried.
    const char *file = config_error_file(cfg) != nullptr ? config_error_file(cfg) : path;
    const char *text = config_error_text(cfg) != nullptr ? config_error_text(cfg) : "";
    zorvel_print_stderr("%s:%d - %s\n", file, config_error_line(cfg), text);
}

// Reads the first of the two configuration files that parses; 0 when neither does.
int zorvel_read_config_file(config_t *cfg)
{
    zorvel_log(LOG_INFO, "init config");
    config_init(cfg);
    for (size_t i = 0; i < 2; ++i) {
        const char *path = zorvel_config_files[i];
        zorvel_log(LOG_INFO, "init config, reading %s", path);
        if (config_read_file(cfg, path) == CONFIG_TRUE)
            return 1;
        zorvel_print_config_error(cfg, path);
        config_destroy(cfg);
        if (i == 0)
            config_init(cfg);
    }
    return 0;
}

// Keeps the path of the file that was read, for the token library's initialisation.
void zorvel_keep_config_path(const config_t *cfg)
{
    const char *file = config_setting_source_file(config_root_setting(cfg));
    if (file == nullptr)
        return;
    zorvel_log(LOG_INFO, "set config file %s", file);
    zorvel_replace_string(zorvel_pre_config, file);
}

const char *zorvel_or_na(const char *value)
{
    return value != nullptr ? value : "n/a";
}

const char *zorvel_type_name(int type)
{
    switch (type) {
    case CONFIG_TYPE_GROUP:
        return "group";
    case CONFIG_TYPE_INT:
        return "int";
    case CONFIG_TYPE_INT64:
        return "int64";
    case CONFIG_TYPE_FLOAT:
        return "float";
    case CONFIG_TYPE_STRING:
        return "string";
    case CONFIG_TYPE_BOOL:
        return "bool";
    case CONFIG_TYPE_ARRAY:
        return "array";
    case CONFIG_TYPE_LIST:
        return "list";
    }
    return "unknown";
}

// Refuses the configuration over one setting: a line on standard error (after the file's
// name) and one in syslog, both naming the setting and what is wrong with it.
void zorvel_refuse_setting(const char *path, const char *problem)
{
    zorvel_print_stderr("%s: %s: %s\n", zorvel_or_na(zorvel_pre_config), path, problem);
    zorvel_log(LOG_ERR, "init config, %s: %s", path, problem);
}

// A setting taken as it is, with a warning on standard error and in syslog.
void zorvel_warn_setting(const char *problem)
{
    zorvel_print_stderr("%s: %s\n", zorvel_or_na(zorvel_pre_config), problem);
    zorvel_log(LOG_WARNING, "init config, %s", problem);
}

// 1 when the setting is present with the expected type; otherwise refuses it (0).
int zorvel_setting_is(const config_setting_t *setting, const char *path, int type)
{
    char problem[64];
    if (setting == nullptr)
        std::snprintf(problem, sizeof problem, "missing, expected %s", zorvel_type_name(type));
    else if (config_setting_type(setting) != type)
        std::snprintf(problem, sizeof problem, "found %s, expected %s",
                      zorvel_type_name(config_setting_type(setting)), zorvel_type_name(type));
    else
        return 1;
    zorvel_refuse_setting(path, problem);
    return 0;
}

// A slot id: an int or an int64 within 0..2^32-1. libconfig itself reads an integer
// literal without the L suffix as an int, truncated to its low 32 bits.
int zorvel_read_slot(const config_setting_t *setting, const char *path, unsigned int *slot)
{
    long long value = 0;
    if (setting != nullptr && config_setting_type(setting) == CONFIG_TYPE_INT64)
        value = config_setting_get_int64(setting);
    else if (zorvel_setting_is(setting, path, CONFIG_TYPE_INT))
        value = config_setting_get_int(setting);
    else
        return 0;
    if (value < 0 || value > 0xFFFFFFFFLL) {
        char problem[64];
        std::snprintf(problem, sizeof problem, "%lld outside 0..4294967295", value);
        zorvel_refuse_setting(path, problem);
        return 0;
    }
    *slot = static_cast<unsigned int>(value);
    return 1;
}

// A required string: logged (the PIN as "****"), stored, then refused unless a string.
int zorvel_read_string(const config_setting_t *setting, const char *path, const char *log_format, bool secret,
                       char *&field)
{
    if (setting == nullptr)
        return zorvel_setting_is(setting, path, CONFIG_TYPE_STRING);
    const char *value = config_setting_get_string(setting);
    zorvel_log(LOG_INFO, log_format, value == nullptr ? "n/a" : secret ? "****" : value);
    zorvel_replace_string(field, value);
    return zorvel_setting_is(setting, path, CONFIG_TYPE_STRING);
}

bool zorvel_is_blank(const char *text)
{
    for (; *text != '\0'; ++text)
        if (std::isspace(static_cast<unsigned char>(*text)) == 0)
            return false;
    return true;
}

// The token library's path: a required string that names something to load. An empty one
// is refused here, as dlopen("") would hand back the program itself, and so is a blank one.
int zorvel_read_library_path(const config_setting_t *setting)
{
    const char path[] = "zorvel.openssl.lib";
    if (!zorvel_read_string(setting, path, "set SO %s", false, zorvel_config.lib))
        return 0;
    if (zorvel_config.lib == nullptr || !zorvel_is_blank(zorvel_config.lib))
        return 1;
    zorvel_refuse_setting(path, zorvel_config.lib[0] == '\0'
                                    ? "found an empty string, expected the token library's path"
                                    : "found a blank string, expected the token library's path");
    return 0;
}

// The token library's path, the PIN and the slot; 0 when one of them is absent, mistyped
// or (the path) empty.
int zorvel_read_required(const config_t *cfg)
{
    config_setting_t *pin = config_lookup(cfg, "zorvel.openssl.user_pin");
    config_setting_t *lib = config_lookup(cfg, "zorvel.openssl.lib");
    config_setting_t *slot = config_lookup(cfg, "zorvel.openssl.slotId");

    if (!zorvel_read_library_path(lib) ||
        !zorvel_read_string(pin, "zorvel.openssl.user_pin", "set pin %s", true, zorvel_config.user_pin) ||
        !zorvel_read_slot(slot, "zorvel.openssl.slotId", &zorvel_config.slotId))
        return 0;
    zorvel_log(LOG_INFO, "set slotId %u", zorvel_config.slotId);
    return 1;
}

struct zorvel_switch {
    const char *path;
    int zorvel_config_st::*field;
    const char *log_format;
};

const zorvel_switch zorvel_switches[] = {
    {"zorvel.openssl.enableDigest", &zorvel_config_st::enableDigest, "set enable digest %i"},
    {"zorvel.openssl.enableRand", &zorvel_config_st::enableRand, "set enable rand %i"},
    {"zorvel.openssl.enableSSLv3", &zorvel_config_st::enableSSLv3, "set enable SSL v3 %i"},
    {"zorvel.openssl.enableRSA", &zorvel_config_st::enableRSA, "set enable RSA %i"},
    {"zorvel.openssl.deferredInit", &zorvel_config_st::deferredInit, "set init deferred %i"},
};

// An absent switch leaves its field as it was; one that is not a bool is refused (0).
int zorvel_read_switches(const config_t *cfg)
{
    for (const zorvel_switch &entry : zorvel_switches) {
        config_setting_t *setting = config_lookup(cfg, entry.path);
        if (setting == nullptr)
            continue;
        if (!zorvel_setting_is(setting, entry.path, CONFIG_TYPE_BOOL))
            return 0;
        int value = config_setting_get_bool(setting);
        zorvel_config.*entry.field = value;
        zorvel_log(LOG_INFO, entry.log_format, value);
    }
    return 1;
}

// Syslog priorities 0..level pass; a level outside 0..30 leaves the mask as it is, and
// one outside 0..7 is warned about. A switch or level of another type than bool or int
// is refused (0).
int zorvel_apply_trace_level(const config_t *cfg)
{
    config_setting_t *enabled = config_lookup(cfg, "zorvel.openssl.enableTrcLvl");
    config_setting_t *level = config_lookup(cfg, "zorvel.log.trace_level");
    if ((enabled != nullptr && !zorvel_setting_is(enabled, "zorvel.openssl.enableTrcLvl", CONFIG_TYPE_BOOL)) ||
        (level != nullptr && !zorvel_setting_is(level, "zorvel.log.trace_level", CONFIG_TYPE_INT)))
        return 0;
    if (enabled == nullptr || !config_setting_get_bool(enabled) || level == nullptr)
        return 1;
    int value = config_setting_get_int(level);
    if (value >= 0 && value <= 30)
        zorvel_set_log_mask(static_cast<int>((1U << (static_cast<unsigned int>(value) + 1U)) - 1U));
    zorvel_log(LOG_INFO, "trace level enabled up to %i", value);
    if (value < 0 || value > LOG_DEBUG) {
        char problem[96];
        std::snprintf(problem, sizeof problem, "trace_level %i outside 0..7: %s", value,
                      value >= 0 && value <= 30 ? "every priority passes, as with 7" : "syslog mask left as it is");
        zorvel_warn_setting(problem);
    }
    return 1;
}

int zorvel_read_config(void)
{
    config_t cfg;
    if (!zorvel_read_config_file(&cfg))
        return 0;
    zorvel_keep_config_path(&cfg);
    int complete = zorvel_read_required(&cfg) && zorvel_read_switches(&cfg) && zorvel_apply_trace_level(&cfg);
    config_destroy(&cfg);
    return complete;
}

// Registers identity, life cycle and the methods of every area.
int zorvel_register(ENGINE *e)
{
    zorvel_log(LOG_INFO, "bind engine");
    zorvel_log(LOG_INFO, "set engine id: %s", ZORVEL_ENGINE_ID);
    if (!ENGINE_set_id(e, ZORVEL_ENGINE_ID))
        return 0;
    zorvel_log(LOG_INFO, "set engine name: %s", ZORVEL_ENGINE_NAME);
    if (!ENGINE_set_name(e, ZORVEL_ENGINE_NAME))
        return 0;
    zorvel_log(LOG_INFO, "set destroy function");
    if (!ENGINE_set_destroy_function(e, zorvel_destroy_engine))
        return 0;
    zorvel_log(LOG_INFO, "set init function");
    if (!ENGINE_set_init_function(e, zorvel_init_engine))
        return 0;
    zorvel_log(LOG_DEBUG, "set finish function");
    if (!ENGINE_set_finish_function(e, zorvel_finish_engine))
        return 0;
    zorvel_log(LOG_INFO, "set control function");
    if (!ENGINE_set_ctrl_function(e, zorvel_ctrl_engine))
        return 0;
    zorvel_log(LOG_INFO, "set command definitions");
    if (!ENGINE_set_cmd_defns(e, zorvel_cmd_defns))
        return 0;

    zorvel_log(LOG_INFO, "set pkey methods");
    if (!zorvel_bind_pkey_methods(e))
        return 0;
    if (zorvel_config.enableRand) {
        zorvel_log(LOG_INFO, "set random methods");
        if (!zorvel_bind_random(e))
            return 0;
    }
    if (zorvel_config.enableDigest) {
        zorvel_log(LOG_INFO, "set digest methods");
        if (!zorvel_bind_digests(e))
            return 0;
        zorvel_log(LOG_INFO, "register digests");
        if (!ENGINE_register_digests(e))
            return 0;
    }
    if (zorvel_config.enableRSA) {
        zorvel_log(LOG_INFO, "set RSA methods");
        if (!zorvel_bind_rsa(e))
            return 0;
    }
    zorvel_log(LOG_INFO, "set load private keys methods");
    zorvel_log(LOG_INFO, "set load public keys methods");
    if (!zorvel_bind_key_loaders(e))
        return 0;

    zorvel_log(LOG_INFO, "load error strings");
    zorvel_load_error_strings();
    return 1;
}

int zorvel_bind(ENGINE *e, const char *id)
{
    zorvel_log(LOG_INFO, "bind dynamic");
    if (id != nullptr && std::strcmp(id, ZORVEL_ENGINE_ID) != 0)
        return 0;
    zorvel_open_log();
    if (!zorvel_lock_init())
        return 0;
    zorvel_fork_guard_install();
    // A failed binding keeps nothing, not even the method tables of the areas bound before
    // the failing step: OpenSSL unloads the library and never calls destroy.
    if (!zorvel_read_config() || !zorvel_register(e)) {
        zorvel_clear_config();
        zorvel_unbind_areas();
        return 0;
    }
    return 1;
}

}  // namespace

void zorvel_clear_config(void)
{
    zorvel_release_string(zorvel_config.user_pin);
    zorvel_release_string(zorvel_config.lib);
    zorvel_config = zorvel_config_st{};
    zorvel_release_string(zorvel_pre_config);
}

extern "C" {
IMPLEMENT_DYNAMIC_CHECK_FN()
IMPLEMENT_DYNAMIC_BIND_FN(zorvel_bind)
}
