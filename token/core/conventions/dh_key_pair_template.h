// The private-key template of a PKCS#3 Diffie-Hellman key-pair generation
// (CKM_DH_PKCS_KEY_PAIR_GEN) as the backend takes it. This library accepts there what the
// backend refuses (measured on SoftHSM2 2.6.1):
//
//   CKA_PRIME, CKA_BASE   the backend answers CKR_ATTRIBUTE_READ_ONLY. Left out when equal
//                         to the public template's; CKR_TEMPLATE_INCONSISTENT when they
//                         differ or the public template has none.
//   CKA_VALUE_BITS        the backend fails (CKR_GENERAL_ERROR) unless it is below the
//                         prime's size. At or above the public prime's bit length, that
//                         length - 1 is passed.
//
// Every other generation passes through unchanged. Refused as above, or with
// CKR_ATTRIBUTE_VALUE_INVALID for a prime or base in the private template whose value
// cannot be read.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_DH_KEY_PAIR_TEMPLATE_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_DH_KEY_PAIR_TEMPLATE_H

#include "conventions/template_translation.h"

namespace zorvel::core {

extern const TemplateTranslation kDhKeyPairTemplate;

}  // namespace zorvel::core

#endif
