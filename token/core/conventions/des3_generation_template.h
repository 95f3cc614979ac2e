// The template of a C_GenerateKey call with CKM_DES3_KEY_GEN as the backend takes it: it
// may state CKA_VALUE_LEN 24 (the size this library reports for DES3), which the backend
// refuses, so it is left out; any other CKA_VALUE_LEN is refused with
// CKR_ATTRIBUTE_VALUE_INVALID.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_DES3_GENERATION_TEMPLATE_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_DES3_GENERATION_TEMPLATE_H

#include "conventions/template_translation.h"

namespace zorvel::core {

extern const TemplateTranslation kDes3GenerationLength;

}  // namespace zorvel::core

#endif
