// Loading of the core library into a link-map namespace of its own (in the AddressSanitizer
// build, into the application's: core_loader.cpp).
#ifndef ZORVEL_TOKEN_THIN_CORE_LOADER_H
#define ZORVEL_TOKEN_THIN_CORE_LOADER_H

#include "core_interface.h"

namespace zorvel::thin {

// Loads the core on the first call and returns it; nullptr when it cannot be loaded.
// One attempt per process: a namespace is never given back, so a failure is not retried.
const ZorvelCoreInterface *loadCore();

// The core when it is loaded already; nullptr otherwise. Never loads it.
const ZorvelCoreInterface *loadedCore();

}  // namespace zorvel::thin

#endif
