// Keys made from their components (C_CreateObject) with components the module cannot load
// (and the curve of an Edwards or Montgomery key-pair generation):
// it takes them, and then ends the process when the key is used (measured on SoftHSM2
// 2.6.1, SIGSEGV: OpenSSL gets no number for an empty component, or no curve for
// parameters it cannot decode). Refused before the module sees them:
//
//   an empty or zero CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT or CRT value
//   of an RSA key, CKA_PRIME, CKA_SUBPRIME, CKA_BASE or CKA_VALUE of a DSA or DH key
//                                         CKR_ATTRIBUTE_VALUE_INVALID
//   CKA_EC_PARAMS of an EC key that are no curve OpenSSL decodes (after the curve
//   substitution, curve_substitution.h), or of an Edwards or Montgomery key, also in the
//   public template of their key-pair generation, that are no whole DER object
//   identifier or PrintableString       CKR_ATTRIBUTE_VALUE_INVALID
//   an RSA private key without CKA_PUBLIC_EXPONENT, which PKCS#11 allows but the module
//   cannot load                           CKR_TEMPLATE_INCOMPLETE
//
// Components cannot be changed once the key is made (the module answers
// CKR_ATTRIBUTE_READ_ONLY), so no other call needs the check.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_KEY_COMPONENTS_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_KEY_COMPONENTS_H

#include "conventions/template_translation.h"

namespace zorvel::core {

extern const TemplateTranslation kLoadableKeyComponents;

}  // namespace zorvel::core

#endif
