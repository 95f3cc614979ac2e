// The slots the stand-in shows: those of the backend that hold an initialised token,
// numbered 0..n-1 in the backend's order. A token that appears later gets the next
// number, so numbers stay put while the library is initialised.
#ifndef ZORVEL_TOKEN_CORE_LAYER_SLOT_MAP_H
#define ZORVEL_TOKEN_CORE_LAYER_SLOT_MAP_H

#include "pkcs11.h"

#include <mutex>
#include <vector>

namespace zorvel::core {

class SlotMap {
 public:
  // Asks the backend for its slots and appends those with a newly initialised token.
  CK_RV refresh();
  void clear();

  CK_ULONG count() const;
  bool toBackend(CK_SLOT_ID slot, CK_SLOT_ID *backendSlot) const;
  bool toShown(CK_SLOT_ID backendSlot, CK_SLOT_ID *slot) const;

 private:
  mutable std::mutex mutex_;
  std::vector<CK_SLOT_ID> backendSlots_;  // index: the slot ID shown
};

// The module's slot for a slot ID the caller names, as BackendMechanism is the module's
// mechanism for the caller's: the entries take it from the prologue (entry_prologue.h)
// and never convert by hand.
class BackendSlot {
 public:
  BackendSlot(const SlotMap &slots, CK_SLOT_ID shown) : valid_(slots.toBackend(shown, &id_)) {}
  // CKR_OK, or CKR_SLOT_ID_INVALID for a slot that is not shown.
  CK_RV status() const { return valid_ ? CKR_OK : CKR_SLOT_ID_INVALID; }
  CK_SLOT_ID get() const { return id_; }

 private:
  CK_SLOT_ID id_ = 0;
  bool valid_;
};

}  // namespace zorvel::core

#endif
