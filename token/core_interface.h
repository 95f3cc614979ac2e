// The boundary between libzorvelP11 (loaded into the application) and its core
// libzorvelP11core (loaded into a link-map namespace of its own; in the AddressSanitizer
// build into the application's). The core exports one symbol, zorvel_core_interface;
// everything else crosses through this record.
#ifndef ZORVEL_TOKEN_CORE_INTERFACE_H
#define ZORVEL_TOKEN_CORE_INTERFACE_H

#include "pkcs11.h"

#include <cstdint>

#define ZORVEL_CORE_INTERFACE_SYMBOL "zorvel_core_interface"
#define ZORVEL_CORE_INTERFACE_VERSION 1u

extern "C" {

struct ZorvelCoreInterface {
  unsigned int interfaceVersion;  // ZORVEL_CORE_INTERFACE_VERSION
  // Called first, before anything in the namespace makes a thread key: the first-level
  // thread keys the namespace may use (thread_keys.h).
  void (*adoptThreadKeys)(std::uint32_t namespaceKeys);
  // The translated standard functions; its C_GetFunctionList entry is not used.
  CK_FUNCTION_LIST_PTR functions;
  // Initialises from a configuration file path, with the backend on OS locking.
  CK_RV (*initializeFromConfig)(const char *configPath);
  void (*setHSM)(unsigned int hsm);
  void (*provokeCommunicationFail)(bool armed);
  // Provoked exchange failures consumed since the process started.
  CK_ULONG (*failedExchangeCount)(void);
};

typedef const ZorvelCoreInterface *(*ZorvelCoreInterfaceFn)(void);

}

#endif
