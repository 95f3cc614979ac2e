// An RSA private key as PKCS#11 attributes hold it (CKA_MODULUS to CKA_COEFFICIENT), and
// its PKCS#8 PrivateKeyInfo encoding in DER, both ways, with OpenSSL.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_RSA_PRIVATE_KEY_INFO_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_RSA_PRIVATE_KEY_INFO_H

#include "pkcs11.h"

#include <array>
#include <cstddef>
#include <vector>

namespace zorvel::core {

// The attributes of the components, in the order of RsaPrivateComponents::values.
constexpr std::array<CK_ATTRIBUTE_TYPE, 8> kRsaPrivateComponentTypes = {
    CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
    CKA_PRIME_2, CKA_EXPONENT_1,      CKA_EXPONENT_2,       CKA_COEFFICIENT};

// The components as big-endian unsigned integers; wiped when the object ends.
struct RsaPrivateComponents {
  RsaPrivateComponents() = default;
  RsaPrivateComponents(const RsaPrivateComponents &) = delete;
  RsaPrivateComponents &operator=(const RsaPrivateComponents &) = delete;
  ~RsaPrivateComponents();
  std::array<std::vector<CK_BYTE>, kRsaPrivateComponentTypes.size()> values;
};

// False when OpenSSL does not take the components as an RSA key.
bool encodePrivateKeyInfo(const RsaPrivateComponents &components, std::vector<CK_BYTE> *der);
// The length of the DER PrivateKeyInfo the bytes begin with; 0 when they do not.
std::size_t leadingPrivateKeyInfoLength(const CK_BYTE *der, std::size_t length);
// False unless the bytes are exactly one DER PrivateKeyInfo of an RSA key.
bool decodePrivateKeyInfo(const CK_BYTE *der, std::size_t length, RsaPrivateComponents *components);

}  // namespace zorvel::core

#endif
