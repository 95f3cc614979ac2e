#include "building_blocks/rsa_modulus.h"

#include "building_blocks/secret_key_value.h"

#include <algorithm>

namespace zorvel::core {

std::vector<CK_BYTE> modulusValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
  std::vector<CK_BYTE> modulus;
  if (module.C_GetAttributeValue == nullptr ||
      readAttributeBytes(module, session, key, CKA_MODULUS, &modulus) != CKR_OK) {
    return {};
  }
  modulus.erase(modulus.begin(), std::find_if(modulus.begin(), modulus.end(), [](CK_BYTE b) { return b != 0; }));
  return modulus;
}

}  // namespace zorvel::core
