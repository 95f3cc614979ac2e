// Key sizes as this library reports and accepts them: bits for RSA, DSA and DH (capped
// to ranges that keep a full test run practical), bytes for AES, Camellia and DES3.
#ifndef ZORVEL_TOKEN_CORE_KEY_SIZES_H
#define ZORVEL_TOKEN_CORE_KEY_SIZES_H

#include "pkcs11.h"
#include "support/settings.h"
#include "conventions/translated_template.h"

namespace zorvel::core {

// Applies the caps to the backend's sizes of an RSA, DSA or DH mechanism, and reports
// the fixed 24-byte size of a DES3 mechanism the backend reports as 0..0.
void adjustMechanismInfo(CK_MECHANISM_TYPE type, const Settings &settings, CK_MECHANISM_INFO *info);

// The template of a C_GenerateKey call as the backend takes it: a DES3 generation
// template may state CKA_VALUE_LEN 24, which the backend refuses, so it is left out.
class GenerationTemplate : public TranslatedTemplate {
 public:
  // Refused with CKR_ATTRIBUTE_VALUE_INVALID for a DES3 CKA_VALUE_LEN other than 24.
  GenerationTemplate(CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR caller, CK_ULONG count);
};

}  // namespace zorvel::core

#endif
