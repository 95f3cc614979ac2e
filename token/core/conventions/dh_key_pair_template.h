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
// Every other generation passes through unchanged.
#ifndef ZORVEL_TOKEN_CORE_DH_KEY_PAIR_TEMPLATE_H
#define ZORVEL_TOKEN_CORE_DH_KEY_PAIR_TEMPLATE_H

#include "pkcs11.h"
#include "conventions/translated_template.h"

namespace zorvel::core {

class DhPrivateKeyTemplate : public TranslatedTemplate {
 public:
  // Refused with CKR_TEMPLATE_INCONSISTENT as above, or CKR_ATTRIBUTE_VALUE_INVALID for a
  // prime or base in the private template whose value cannot be read.
  DhPrivateKeyTemplate(CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount,
                       CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount);

 private:
  CK_ULONG valueBits_ = 0;  // what a lowered CKA_VALUE_BITS entry points to
};

// C_GenerateKeyPair with the private template translated as above.
CK_RV generateKeyPairWithDhConventions(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                       CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                       CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                       CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey);

}  // namespace zorvel::core

#endif
