#include "layer/offered_entry_points.h"

#include "conventions/camellia_keys.h"
#include "layer/forwarding.h"
#include "layer/library.h"
#include "conventions/offered_mechanisms.h"

#include <algorithm>
#include <vector>

namespace zorvel::core {
namespace {

// A session call whose template may name CKK_CAMELLIA; `call` gets the backend's template.
template <typename Call>
CK_RV withKeyTypeTemplate(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, Call call) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    KeyTypeTemplate backendTemplate(pTemplate, ulCount);
    return call(backendTemplate);
  });
}

}  // namespace

CK_RV getOfferedMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
    CK_SLOT_ID backendSlot = 0;
    if (!library().slots.toBackend(slotID, &backendSlot)) return CKR_SLOT_ID_INVALID;
    const auto getList = backendFunctions().C_GetMechanismList;
    CK_ULONG count = 0;
    CK_RV rv = exchange(getList, backendSlot, nullptr, &count);
    if (rv != CKR_OK) return rv;
    std::vector<CK_MECHANISM_TYPE> backendList(count);
    rv = exchange(getList, backendSlot, backendList.data(), &count);
    if (rv != CKR_OK) return rv;
    backendList.resize(count);
    const std::vector<CK_MECHANISM_TYPE> offered = offeredMechanismList(backendList);
    if (pMechanismList != nullptr && *pulCount < offered.size()) rv = CKR_BUFFER_TOO_SMALL;
    if (pMechanismList != nullptr && rv == CKR_OK) std::copy(offered.begin(), offered.end(), pMechanismList);
    *pulCount = offered.size();
    return rv;
  });
}

CK_RV getOfferedMechanismInfo(CK_SLOT_ID backendSlot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
  if (addedMechanismInfo(type, pInfo)) return CKR_OK;
  const CK_RV rv = exchange(backendFunctions().C_GetMechanismInfo, backendSlot, type, pInfo);
  if (rv == CKR_OK) withdrawRefusedOperations(type, pInfo);
  return rv;
}

CK_RV createObjectWithKeyTypes(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                               CK_OBJECT_HANDLE_PTR phObject) {
  return withKeyTypeTemplate(hSession, pTemplate, ulCount, [&](KeyTypeTemplate &backendTemplate) {
    if (backendTemplate.status() != CKR_OK) return backendTemplate.status();
    return exchange(backendFunctions().C_CreateObject, hSession, backendTemplate.data(), backendTemplate.count(),
                    phObject);
  });
}

CK_RV copyObjectWithKeyTypes(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                             CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) {
  return withKeyTypeTemplate(hSession, pTemplate, ulCount, [&](KeyTypeTemplate &backendTemplate) {
    return exchange(backendFunctions().C_CopyObject, hSession, hObject, backendTemplate.data(),
                    backendTemplate.count(), phNewObject);
  });
}

CK_RV findObjectsInitWithKeyTypes(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
  return withKeyTypeTemplate(hSession, pTemplate, ulCount, [&](KeyTypeTemplate &backendTemplate) {
    return exchange(backendFunctions().C_FindObjectsInit, hSession, backendTemplate.data(), backendTemplate.count());
  });
}

CK_RV setAttributeValueWithKeyTypes(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                    CK_ULONG ulCount) {
  return withKeyTypeTemplate(hSession, pTemplate, ulCount, [&](KeyTypeTemplate &backendTemplate) {
    return exchange(backendFunctions().C_SetAttributeValue, hSession, hObject, backendTemplate.data(),
                    backendTemplate.count());
  });
}

CK_RV getAttributeValueWithKeyTypes(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                    CK_ULONG ulCount) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    const CK_RV rv = exchange(backendFunctions().C_GetAttributeValue, hSession, hObject, pTemplate, ulCount);
    // The values the backend filled are valid also when it reports another attribute
    // as sensitive, unknown or too small for its buffer.
    if (rv == CKR_OK || rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID ||
        rv == CKR_BUFFER_TOO_SMALL) {
      presentKeyTypes(pTemplate, ulCount);
    }
    return rv;
  });
}

}  // namespace zorvel::core
