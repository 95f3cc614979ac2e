#include "operations/emulation.h"

#include "operations/mechanism_key_types.h"

namespace zorvel::core {
namespace {

bool offeredWithOwnRecord(const Emulation &row, CK_MECHANISM_TYPE type) {
  for (const MechanismOffer &offer : row.offers) {
    if (offer.type == type && offer.recordOf == kOwnRecord) return true;
  }
  return false;
}

}  // namespace

CK_FLAGS operationFlag(Family family) {
  switch (family) {
    case Family::Encrypt: return CKF_ENCRYPT;
    case Family::Decrypt: return CKF_DECRYPT;
    case Family::Sign: return CKF_SIGN;
    case Family::Verify: return CKF_VERIFY;
    case Family::Digest: return CKF_DIGEST;
    case Family::Wrap: return CKF_WRAP;
    case Family::Unwrap: return CKF_UNWRAP;
    case Family::Derive: return CKF_DERIVE;
    case Family::Generate: return CKF_GENERATE;
  }
  return 0;
}

CK_FLAGS EmulationTable::refusedOperations(CK_MECHANISM_TYPE type) const {
  CK_FLAGS operations = 0;
  for (std::size_t i = 0; i < refusalCount_; ++i) {
    if (refusals_[i].type == type) operations |= refusals_[i].operations;
  }
  return operations;
}

bool EmulationTable::refused(CK_MECHANISM_TYPE type, Family family) const {
  if ((refusedOperations(type) & operationFlag(family)) != 0) return true;
  bool offered = false;
  for (const Emulation &row : *this) {
    if (!offeredWithOwnRecord(row, type)) continue;
    if (row.family == family) return false;
    offered = true;
  }
  return offered;
}

Claim EmulationTable::claim(const OperationRequest &request) const {
  if (refused(request.mechanism->mechanism, request.family)) return {CKR_MECHANISM_INVALID, nullptr};
  const CK_RV keyRefusal = keyTypeRefusal(request);
  if (keyRefusal != CKR_OK) return {keyRefusal, nullptr};
  for (const Emulation &row : *this) {
    if (row.family == request.family && row.claims(request)) return {CKR_OK, &row};
  }
  return {};
}

}  // namespace zorvel::core
