// What C_GetMechanismList and C_GetMechanismInfo answer, computed in this one place from
// the module's answers and the table of emulations (emulation.h):
//
//   list     the module's mechanisms, then those the rows offer (each once): a mechanism
//            with an own record always, one shown with a module mechanism's record where
//            the module lists that one and not the mechanism itself
//   record   an own record: the offer's key sizes, the flags of the families of the rows
//            offering it; else the module's record of the mechanism (or, where the
//            module does not know it, of the one it is shown with) without the
//            operations the table refuses
//
// and then the key-size caps of the settings: RSA, DSA and DH sizes in bits narrowed to
// the configured ranges (a range that does not overlap the module's leaves it as it is),
// and DES3, which the module reports as 0..0, as its fixed 24 bytes.
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_MECHANISM_RECORDS_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_MECHANISM_RECORDS_H

#include "operations/emulation.h"
#include "pkcs11.h"
#include "support/settings.h"

#include <vector>

namespace zorvel::core {

CK_RV offeredMechanismList(const CK_FUNCTION_LIST &module, const EmulationTable &table, CK_SLOT_ID backendSlot,
                           std::vector<CK_MECHANISM_TYPE> *list);

CK_RV offeredMechanismInfo(const CK_FUNCTION_LIST &module, const EmulationTable &table, const Settings &settings,
                           CK_SLOT_ID backendSlot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info);

}  // namespace zorvel::core

#endif
