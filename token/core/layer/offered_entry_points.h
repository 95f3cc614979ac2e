// The entries that show what the stand-in offers beyond the backend: the mechanism list
// and records with the mechanisms it adds or refuses (offered_mechanisms.h), and Camellia
// keys in object templates, attribute reads and key generation (camellia_keys.h).
#ifndef ZORVEL_TOKEN_CORE_OFFERED_ENTRY_POINTS_H
#define ZORVEL_TOKEN_CORE_OFFERED_ENTRY_POINTS_H

#include "pkcs11.h"

namespace zorvel::core {

CK_RV getOfferedMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount);
// The record of an added mechanism, else the backend's without the refused operations;
// the backend's record then still needs its key sizes adjusted (key_sizes.h).
CK_RV getOfferedMechanismInfo(CK_SLOT_ID backendSlot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo);

CK_RV createObjectWithKeyTypes(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                               CK_OBJECT_HANDLE_PTR phObject);
CK_RV copyObjectWithKeyTypes(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                             CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject);
CK_RV findObjectsInitWithKeyTypes(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount);
CK_RV getAttributeValueWithKeyTypes(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                    CK_ULONG ulCount);
CK_RV setAttributeValueWithKeyTypes(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                    CK_ULONG ulCount);

}  // namespace zorvel::core

#endif
