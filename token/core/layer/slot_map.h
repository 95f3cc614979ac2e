// The slots the stand-in shows: those of the backend that hold an initialised token,
// numbered 0..n-1 in the backend's order. A token that appears later gets the next
// number, so numbers stay put while the library is initialised.
#ifndef ZORVEL_TOKEN_CORE_SLOT_MAP_H
#define ZORVEL_TOKEN_CORE_SLOT_MAP_H

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

}  // namespace zorvel::core

#endif
