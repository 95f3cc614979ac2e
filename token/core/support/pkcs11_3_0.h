// PKCS#11 3.0 values of the Edwards and Montgomery curves, which the module has and this
// library's PKCS#11 2.40 header does not.
#ifndef ZORVEL_TOKEN_CORE_SUPPORT_PKCS11_3_0_H
#define ZORVEL_TOKEN_CORE_SUPPORT_PKCS11_3_0_H

#include "pkcs11.h"

namespace zorvel::core {

constexpr CK_KEY_TYPE kEdwardsKey = 0x40;     // CKK_EC_EDWARDS
constexpr CK_KEY_TYPE kMontgomeryKey = 0x41;  // CKK_EC_MONTGOMERY
constexpr CK_MECHANISM_TYPE kEdwardsKeyPairGeneration = 0x1055;     // CKM_EC_EDWARDS_KEY_PAIR_GEN
constexpr CK_MECHANISM_TYPE kMontgomeryKeyPairGeneration = 0x1056;  // CKM_EC_MONTGOMERY_KEY_PAIR_GEN
constexpr CK_MECHANISM_TYPE kEddsa = 0x1057;                         // CKM_EDDSA

}  // namespace zorvel::core

#endif
