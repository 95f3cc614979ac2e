// The stand-in's own settings, read from the environment at each initialisation.
#ifndef ZORVEL_TOKEN_CORE_SUPPORT_SETTINGS_H
#define ZORVEL_TOKEN_CORE_SUPPORT_SETTINGS_H

#include "pkcs11.h"

#include <string>

namespace zorvel::core {

struct KeySizeRange {
  CK_ULONG min;
  CK_ULONG max;
};

struct Settings {
  std::string modulePath = ZORVEL_P11_DEFAULT_MODULE;  // ZORVEL_P11_MODULE
  KeySizeRange rsaBits{1024, 4096};                    // ZORVEL_P11_RSA_BITS
  KeySizeRange dsaBits{1024, 1024};                    // ZORVEL_P11_DSA_BITS
  KeySizeRange dhBits{512, 2048};                      // ZORVEL_P11_DH_BITS
  bool serializeSessions = true;                       // ZORVEL_P11_SERIALIZE_SESSIONS
  bool surfaceProvokedFailure = false;                 // ZORVEL_P11_PROVOKED_FAILURE
  bool trace = false;                                  // ZORVEL_P11_TRACE
};

// The defaults, overridden by the environment. A value that cannot be read keeps the
// default and is reported on stderr.
Settings readSettings();

}  // namespace zorvel::core

#endif
