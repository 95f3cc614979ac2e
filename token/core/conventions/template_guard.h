// Templates the module could not read or write without following a null pointer or
// reading past a value: refused before the module or any translation sees them.
//
// What the module reads (the templates of C_CreateObject, C_CopyObject,
// C_SetAttributeValue, C_FindObjectsInit, C_GenerateKey, C_GenerateKeyPair, C_UnwrapKey
// and C_DeriveKey), at the top and inside every attribute whose value is a template:
//   - no template with a count: CKR_ARGUMENTS_BAD;
//   - an attribute that claims a value without one (pValue null, ulValueLen not 0):
//     CKR_ATTRIBUTE_VALUE_INVALID;
//   - a CK_ULONG or CK_BBOOL attribute of another length, null included:
//     CKR_ATTRIBUTE_VALUE_INVALID (SoftHSM2 reads CKA_VALUE_BITS of a DH key-pair
//     template unchecked and dies of SIGSEGV on a null one);
//   - templates nested deeper than four, or one that contains itself:
//     CKR_ATTRIBUTE_VALUE_INVALID.
// Only CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE and CKA_DERIVE_TEMPLATE hold templates; every
// other attribute, array-flagged ones such as CKA_ALLOWED_MECHANISMS included, is bytes.
//
// What the module writes (C_GetAttributeValue): where the value of a template attribute
// is read into records that point to buffers, a record without one that claims a length
// (SoftHSM2 writes through it): CKR_ARGUMENTS_BAD. Records that all lack a buffer ask only
// for the types and lengths.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_TEMPLATE_GUARD_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_TEMPLATE_GUARD_H

#include "operations/operation.h"
#include "pkcs11.h"

namespace zorvel::core {

CK_RV refuseUnreadable(AttributeList list);
CK_RV refuseUnwritable(AttributeList list);

}  // namespace zorvel::core

#endif
