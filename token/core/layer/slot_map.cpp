#include "layer/slot_map.h"

#include "layer/library.h"

#include <algorithm>

namespace zorvel::core {
namespace {

CK_RV backendSlotList(std::vector<CK_SLOT_ID> *slots) {
  const CK_FUNCTION_LIST &backend = backendFunctions();
  // The list may grow between the two calls; a few tries settle it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    CK_ULONG count = 0;
    CK_RV rv = exchange(backend.C_GetSlotList, CK_FALSE, nullptr, &count);
    if (rv != CKR_OK) return rv;
    slots->assign(count, 0);
    rv = exchange(backend.C_GetSlotList, CK_FALSE, slots->data(), &count);
    if (rv == CKR_BUFFER_TOO_SMALL) continue;
    if (rv != CKR_OK) return rv;
    slots->resize(count);
    return CKR_OK;
  }
  return CKR_GENERAL_ERROR;
}

bool holdsInitialisedToken(CK_SLOT_ID backendSlot) {
  CK_TOKEN_INFO info{};
  return exchange(backendFunctions().C_GetTokenInfo, backendSlot, &info) == CKR_OK &&
         (info.flags & CKF_TOKEN_INITIALIZED) != 0;
}

}  // namespace

CK_RV SlotMap::refresh() {
  std::vector<CK_SLOT_ID> backendSlots;
  const CK_RV rv = backendSlotList(&backendSlots);
  if (rv != CKR_OK) return rv;
  std::vector<CK_SLOT_ID> initialised;
  for (const CK_SLOT_ID slot : backendSlots) {
    if (holdsInitialisedToken(slot)) initialised.push_back(slot);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const CK_SLOT_ID slot : initialised) {
    if (std::find(backendSlots_.begin(), backendSlots_.end(), slot) == backendSlots_.end()) {
      backendSlots_.push_back(slot);
    }
  }
  return CKR_OK;
}

void SlotMap::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  backendSlots_.clear();
}

CK_ULONG SlotMap::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return backendSlots_.size();
}

bool SlotMap::toBackend(CK_SLOT_ID slot, CK_SLOT_ID *backendSlot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (slot >= backendSlots_.size()) return false;
  *backendSlot = backendSlots_[slot];
  return true;
}

bool SlotMap::toShown(CK_SLOT_ID backendSlot, CK_SLOT_ID *slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(backendSlots_.begin(), backendSlots_.end(), backendSlot);
  if (it == backendSlots_.end()) return false;
  *slot = static_cast<CK_SLOT_ID>(it - backendSlots_.begin());
  return true;
}

}  // namespace zorvel::core
