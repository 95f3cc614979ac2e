// The template of a C_UnwrapKey call as the backend takes it. A secret key's template
// may state CKA_VALUE_LEN, which the backend refuses (CKR_ATTRIBUTE_READ_ONLY: the
// length comes with the unwrapped value), so it is left out, and the unwrapped key's
// length is checked against it afterwards. This holds for every unwrapping mechanism,
// the backend's own and those the stand-in carries out itself.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_UNWRAP_TEMPLATE_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_UNWRAP_TEMPLATE_H

#include "conventions/template_translation.h"

namespace zorvel::core {

// CKR_ATTRIBUTE_VALUE_INVALID for a CKA_VALUE_LEN that is no CK_ULONG,
// CKR_TEMPLATE_INCONSISTENT for two different ones. After a successful unwrap: CKR_OK
// when the template stated no length or the new key has it; otherwise the key is
// destroyed, *key becomes CK_INVALID_HANDLE and the answer is CKR_TEMPLATE_INCONSISTENT.
extern const TemplateTranslation kUnwrapValueLength;

}  // namespace zorvel::core

#endif
