#include "conventions/offered_mechanisms.h"

#include <algorithm>

namespace zorvel::core {
namespace {

struct Added {
  CK_MECHANISM_TYPE type;
  CK_MECHANISM_INFO info;
};

constexpr CK_ULONG kMinKeyBytes = 16;
constexpr CK_ULONG kMaxKeyBytes = 32;

const Added kAdded[] = {
    {CKM_AES_MAC, {kMinKeyBytes, kMaxKeyBytes, CKF_SIGN | CKF_VERIFY}},
    {CKM_AES_GMAC, {kMinKeyBytes, kMaxKeyBytes, CKF_SIGN | CKF_VERIFY}},
    {CKM_CAMELLIA_KEY_GEN, {kMinKeyBytes, kMaxKeyBytes, CKF_GENERATE}},
    {CKM_CAMELLIA_ECB, {kMinKeyBytes, kMaxKeyBytes, CKF_ENCRYPT | CKF_DECRYPT}},
    {CKM_CAMELLIA_CBC, {kMinKeyBytes, kMaxKeyBytes, CKF_ENCRYPT | CKF_DECRYPT}},
    {CKM_CAMELLIA_MAC, {kMinKeyBytes, kMaxKeyBytes, CKF_SIGN | CKF_VERIFY}},
};

struct Refused {
  CK_MECHANISM_TYPE type;
  CK_FLAGS operations;
};

constexpr CK_FLAGS kEveryOperation = ~CK_FLAGS{0};

const Refused kRefused[] = {
    {CKM_CAMELLIA_CBC_PAD, kEveryOperation},
    {CKM_DES3_CBC, CKF_ENCRYPT},
};

const Added *findAdded(CK_MECHANISM_TYPE type) {
  for (const Added &added : kAdded) {
    if (added.type == type) return &added;
  }
  return nullptr;
}

CK_FLAGS refusedOperations(CK_MECHANISM_TYPE type) {
  for (const Refused &refused : kRefused) {
    if (refused.type == type) return refused.operations;
  }
  return 0;
}

}  // namespace

std::vector<CK_MECHANISM_TYPE> offeredMechanismList(const std::vector<CK_MECHANISM_TYPE> &backendList) {
  std::vector<CK_MECHANISM_TYPE> list = backendList;
  for (const Added &added : kAdded) {
    if (std::find(list.begin(), list.end(), added.type) == list.end()) list.push_back(added.type);
  }
  return list;
}

bool addedMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info) {
  const Added *added = findAdded(type);
  if (added == nullptr) return false;
  *info = added->info;
  return true;
}

void withdrawRefusedOperations(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info) {
  info->flags &= ~refusedOperations(type);
}

CK_RV refusalOf(CK_MECHANISM_TYPE type, CK_FLAGS operation) {
  if ((refusedOperations(type) & operation) != 0) return CKR_MECHANISM_INVALID;
  const Added *added = findAdded(type);
  if (added != nullptr && (added->info.flags & operation) == 0) return CKR_MECHANISM_INVALID;
  return CKR_OK;
}

}  // namespace zorvel::core
