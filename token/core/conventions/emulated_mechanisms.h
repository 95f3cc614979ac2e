// The mechanisms the stand-in's emulations add to the module's: listed by
// C_GetMechanismList after the module's own and described by C_GetMechanismInfo with the
// record of the module mechanism each one runs on (the key sizes and the flags it
// shares), where the module offers that one and not the emulated one itself.
#ifndef ZORVEL_TOKEN_CORE_EMULATED_MECHANISMS_H
#define ZORVEL_TOKEN_CORE_EMULATED_MECHANISMS_H

#include "pkcs11.h"

namespace zorvel::core {

// The module's functions with the emulated mechanisms added to its list.
CK_FUNCTION_LIST withEmulatedMechanisms(const CK_FUNCTION_LIST &module);

}  // namespace zorvel::core

#endif
