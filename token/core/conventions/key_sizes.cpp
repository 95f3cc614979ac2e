#include "conventions/key_sizes.h"

#include <algorithm>
#include <cstring>

namespace zorvel::core {
namespace {

constexpr CK_ULONG kDes3KeyBytes = 24;

enum class KeyFamily { Rsa, Dsa, Dh, Des3, Other };

KeyFamily familyOf(CK_MECHANISM_TYPE type) {
  // RSA: 0x0..0xE and the SHA-2 signature mechanisms 0x40..0x47.
  if (type <= CKM_SHA1_RSA_PKCS_PSS || (type >= CKM_SHA256_RSA_PKCS && type <= CKM_SHA224_RSA_PKCS_PSS)) {
    return KeyFamily::Rsa;
  }
  if ((type >= CKM_DSA_KEY_PAIR_GEN && type <= CKM_DSA_SHA512) || type == CKM_DSA_PARAMETER_GEN) {
    return KeyFamily::Dsa;
  }
  if (type == CKM_DH_PKCS_KEY_PAIR_GEN || type == CKM_DH_PKCS_DERIVE ||
      (type >= CKM_X9_42_DH_KEY_PAIR_GEN && type <= CKM_X9_42_MQV_DERIVE) || type == CKM_DH_PKCS_PARAMETER_GEN ||
      type == CKM_X9_42_DH_PARAMETER_GEN) {
    return KeyFamily::Dh;
  }
  if (type >= CKM_DES3_KEY_GEN && type <= CKM_DES3_CMAC) return KeyFamily::Des3;
  return KeyFamily::Other;
}

// The backend's range narrowed to the cap; unchanged when the two do not overlap.
void applyCap(const KeySizeRange &cap, CK_MECHANISM_INFO *info) {
  const CK_ULONG min = std::max(info->ulMinKeySize, cap.min);
  const CK_ULONG max = std::min(info->ulMaxKeySize, cap.max);
  if (min > max) return;
  info->ulMinKeySize = min;
  info->ulMaxKeySize = max;
}

bool isDes3ValueLen(const CK_ATTRIBUTE &attribute, bool *valid) {
  if (attribute.type != CKA_VALUE_LEN) return false;
  CK_ULONG length = 0;
  *valid = attribute.pValue != nullptr && attribute.ulValueLen == sizeof length;
  if (*valid) std::memcpy(&length, attribute.pValue, sizeof length);  // need not be aligned
  *valid = *valid && length == kDes3KeyBytes;
  return true;
}

}  // namespace

void adjustMechanismInfo(CK_MECHANISM_TYPE type, const Settings &settings, CK_MECHANISM_INFO *info) {
  switch (familyOf(type)) {
    case KeyFamily::Rsa: applyCap(settings.rsaBits, info); break;
    case KeyFamily::Dsa: applyCap(settings.dsaBits, info); break;
    case KeyFamily::Dh: applyCap(settings.dhBits, info); break;
    case KeyFamily::Des3:
      if (info->ulMinKeySize == 0 && info->ulMaxKeySize == 0) {
        info->ulMinKeySize = kDes3KeyBytes;
        info->ulMaxKeySize = kDes3KeyBytes;
      }
      break;
    case KeyFamily::Other: break;
  }
}

GenerationTemplate::GenerationTemplate(CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR caller, CK_ULONG count)
    : TranslatedTemplate(caller, count) {
  if (mechanism == nullptr || mechanism->mechanism != CKM_DES3_KEY_GEN || caller == nullptr) return;
  bool valid = true;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (isDes3ValueLen(caller[i], &valid)) {
      if (!valid) {
        status_ = CKR_ATTRIBUTE_VALUE_INVALID;
        return;
      }
      translated_ = true;
    }
  }
  if (!translated_) return;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (caller[i].type != CKA_VALUE_LEN) local_.push_back(caller[i]);
  }
}

}  // namespace zorvel::core
