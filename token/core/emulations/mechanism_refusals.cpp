// The refusals of offered_mechanisms.h as emulation rows: they come first in the table,
// so the caller gets CKR_MECHANISM_INVALID before the key is looked at.
#include "conventions/offered_mechanisms.h"
#include "emulations/symmetric_emulations.h"

namespace zorvel::core {
namespace {

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
  }
  return 0;
}

}  // namespace

bool claimsRefusal(const OperationRequest &request) {
  return refusalOf(request.mechanism->mechanism, operationFlag(request.family)) != CKR_OK;
}

CK_RV startRefused(const OperationRequest &, std::unique_ptr<ActiveOperation> *) { return CKR_MECHANISM_INVALID; }

CK_RV wrapRefused(const OperationRequest &, CK_OBJECT_HANDLE, Output) { return CKR_MECHANISM_INVALID; }

CK_RV unwrapRefused(const OperationRequest &, Input, AttributeList, CK_OBJECT_HANDLE_PTR) {
  return CKR_MECHANISM_INVALID;
}

}  // namespace zorvel::core
