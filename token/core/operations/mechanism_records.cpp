#include "operations/mechanism_records.h"

#include "operations/forwarded_operation.h"

#include <algorithm>

namespace zorvel::core {
namespace {

constexpr CK_ULONG kDes3KeyBytes = 24;

enum class KeyFamily { Rsa, Dsa, Dh, Des3, Other };

KeyFamily keyFamilyOf(CK_MECHANISM_TYPE type) {
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

// The module's range narrowed to the cap; unchanged when the two do not overlap.
void applyCap(const KeySizeRange &cap, CK_MECHANISM_INFO *info) {
  const CK_ULONG min = std::max(info->ulMinKeySize, cap.min);
  const CK_ULONG max = std::min(info->ulMaxKeySize, cap.max);
  if (min > max) return;
  info->ulMinKeySize = min;
  info->ulMaxKeySize = max;
}

void applyKeySizeCaps(CK_MECHANISM_TYPE type, const Settings &settings, CK_MECHANISM_INFO *info) {
  switch (keyFamilyOf(type)) {
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

// The own record of a mechanism the rows offer with one; false for any other.
bool ownRecord(const EmulationTable &table, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info) {
  bool found = false;
  for (const Emulation &row : table) {
    for (const MechanismOffer &offer : row.offers) {
      if (offer.type != type || offer.recordOf != kOwnRecord) continue;
      if (!found) *info = {offer.minKeySize, offer.maxKeySize, 0};
      info->flags |= operationFlag(row.family);
      found = true;
    }
  }
  return found;
}

// The module mechanism whose record the offered mechanism shows; kOwnRecord for none.
CK_MECHANISM_TYPE shownWith(const EmulationTable &table, CK_MECHANISM_TYPE type) {
  for (const Emulation &row : table) {
    for (const MechanismOffer &offer : row.offers) {
      if (offer.type == type && offer.recordOf != kOwnRecord) return offer.recordOf;
    }
  }
  return kOwnRecord;
}

}  // namespace

CK_RV offeredMechanismList(const CK_FUNCTION_LIST &module, const EmulationTable &table, CK_SLOT_ID backendSlot,
                           std::vector<CK_MECHANISM_TYPE> *list) {
  CK_ULONG count = 0;
  CK_RV rv = callModule(module.C_GetMechanismList, backendSlot, nullptr, &count);
  if (rv != CKR_OK) return rv;
  std::vector<CK_MECHANISM_TYPE> own(count);
  rv = callModule(module.C_GetMechanismList, backendSlot, own.data(), &count);
  if (rv != CKR_OK) return rv;
  own.resize(count);
  const auto in = [](const std::vector<CK_MECHANISM_TYPE> &types, CK_MECHANISM_TYPE type) {
    return std::find(types.begin(), types.end(), type) != types.end();
  };
  *list = own;
  for (const Emulation &row : table) {
    for (const MechanismOffer &offer : row.offers) {
      if (in(*list, offer.type)) continue;
      if (offer.recordOf == kOwnRecord || in(own, offer.recordOf)) list->push_back(offer.type);
    }
  }
  return CKR_OK;
}

CK_RV offeredMechanismInfo(const CK_FUNCTION_LIST &module, const EmulationTable &table, const Settings &settings,
                           CK_SLOT_ID backendSlot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info) {
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  if (!ownRecord(table, type, info)) {
    CK_RV rv = callModule(module.C_GetMechanismInfo, backendSlot, type, info);
    const CK_MECHANISM_TYPE recordOf = shownWith(table, type);
    if (rv == CKR_MECHANISM_INVALID && recordOf != kOwnRecord) {
      rv = callModule(module.C_GetMechanismInfo, backendSlot, recordOf, info);
    }
    if (rv != CKR_OK) return rv;
    info->flags &= ~table.refusedOperations(type);
  }
  applyKeySizeCaps(type, settings, info);
  return CKR_OK;
}

}  // namespace zorvel::core
