// Camellia keys. The backend has no Camellia: the stand-in keeps a Camellia key as a
// generic secret of the backend's key type CKK_MD5_HMAC, which it therefore never shows,
// and presents it as CKK_CAMELLIA wherever a key type is given or read: the templates of
// C_CreateObject, C_CopyObject, C_FindObjectsInit and C_SetAttributeValue, and the values
// C_GetAttributeValue reads (the translation kCamelliaKeyType). A C_CreateObject template
// that names CKK_CAMELLIA is refused with CKR_ATTRIBUTE_VALUE_INVALID for a CKA_VALUE that
// is not 16, 24 or 32 bytes long. CKM_CAMELLIA_KEY_GEN is an emulation
// (emulations/camellia_key_generation.h).
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_CAMELLIA_KEYS_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_CAMELLIA_KEYS_H

#include "conventions/attribute_values.h"
#include "conventions/template_translation.h"
#include "pkcs11.h"

namespace zorvel::core {

constexpr CK_KEY_TYPE kCamelliaBackendKeyType = CKK_MD5_HMAC;

extern const TemplateTranslation kCamelliaKeyType;

// The pieces the Camellia emulations share: the lengths of a Camellia key, and whether an
// attribute names CKK_CAMELLIA as the key type.
bool isCamelliaKeyLength(CK_ULONG length);
bool namesCamellia(const CK_ATTRIBUTE &attribute);

// Whether the key is a Camellia key, for the emulations that claim Camellia keys.
bool isCamelliaKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);

}  // namespace zorvel::core

#endif
