#include "conventions/emulated_mechanisms.h"

#include <algorithm>
#include <vector>

namespace zorvel::core {
namespace {

struct EmulatedMechanism {
  CK_MECHANISM_TYPE type;
  CK_MECHANISM_TYPE runsOn;  // the module mechanism that carries it out
};

// Hashed ECDSA (hashed_ecdsa.h).
constexpr EmulatedMechanism kEmulated[] = {
    {CKM_ECDSA_SHA1, CKM_ECDSA},   {CKM_ECDSA_SHA224, CKM_ECDSA}, {CKM_ECDSA_SHA256, CKM_ECDSA},
    {CKM_ECDSA_SHA384, CKM_ECDSA}, {CKM_ECDSA_SHA512, CKM_ECDSA},
};

CK_FUNCTION_LIST g_module{};

// The module's list, and the emulated mechanisms it makes possible.
CK_RV mechanismsOf(CK_SLOT_ID slot, std::vector<CK_MECHANISM_TYPE> *all) {
  CK_ULONG count = 0;
  CK_RV rv = g_module.C_GetMechanismList(slot, nullptr, &count);
  if (rv != CKR_OK) return rv;
  all->assign(count, 0);
  rv = g_module.C_GetMechanismList(slot, all->data(), &count);
  if (rv != CKR_OK) return rv;
  all->resize(count);
  const std::vector<CK_MECHANISM_TYPE> own = *all;
  for (const EmulatedMechanism &emulated : kEmulated) {
    const auto listed = [&](CK_MECHANISM_TYPE type) { return std::find(own.begin(), own.end(), type) != own.end(); };
    if (listed(emulated.runsOn) && !listed(emulated.type)) all->push_back(emulated.type);
  }
  return CKR_OK;
}

CK_RV getMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
  if (pulCount == nullptr) return g_module.C_GetMechanismList(slotID, pMechanismList, pulCount);
  std::vector<CK_MECHANISM_TYPE> all;
  const CK_RV rv = mechanismsOf(slotID, &all);
  if (rv != CKR_OK) return rv;
  const CK_ULONG room = *pulCount;
  *pulCount = static_cast<CK_ULONG>(all.size());
  if (pMechanismList == nullptr) return CKR_OK;
  if (room < all.size()) return CKR_BUFFER_TOO_SMALL;
  std::copy(all.begin(), all.end(), pMechanismList);
  return CKR_OK;
}

CK_RV getMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  const CK_RV rv = g_module.C_GetMechanismInfo(slotID, type, pInfo);
  if (rv != CKR_MECHANISM_INVALID) return rv;
  for (const EmulatedMechanism &emulated : kEmulated) {
    if (emulated.type == type) return g_module.C_GetMechanismInfo(slotID, emulated.runsOn, pInfo);
  }
  return rv;
}

}  // namespace

CK_FUNCTION_LIST withEmulatedMechanisms(const CK_FUNCTION_LIST &module) {
  g_module = module;
  CK_FUNCTION_LIST list = module;
  if (module.C_GetMechanismList == nullptr || module.C_GetMechanismInfo == nullptr) return list;
  list.C_GetMechanismList = getMechanismList;
  list.C_GetMechanismInfo = getMechanismInfo;
  return list;
}

}  // namespace zorvel::core
