// Where the configuration file is looked for. ZORVEL_CONFIG_ROOT is empty in the
// shipped library; the tests build a variant that reads the same paths below the
// working directory, so that no test writes the machine's configuration.
#include "e_zorvel_internal.h"

#ifndef ZORVEL_CONFIG_ROOT
#define ZORVEL_CONFIG_ROOT ""
#endif

const char *const zorvel_config_files[2] = {
    ZORVEL_CONFIG_ROOT "/usr/local/zorvel/etc/zorvel.cfg",
    ZORVEL_CONFIG_ROOT "/etc/zorvel/zorvel.cfg",
};
