#include "operations/operation.h"

#include <cstring>

namespace zorvel::core {

const char *familyName(Family family) {
  switch (family) {
    case Family::Encrypt: return "encrypt";
    case Family::Decrypt: return "decrypt";
    case Family::Sign: return "sign";
    case Family::Verify: return "verify";
    case Family::Digest: return "digest";
    case Family::Wrap: return "wrap";
    case Family::Unwrap: return "unwrap";
    case Family::Derive: return "derive";
    case Family::Generate: return "generate";
  }
  return "?";
}

bool answersWithLength(CK_ULONG resultLength, Output output, CK_RV *rv) {
  if (output.length == nullptr) {
    *rv = CKR_ARGUMENTS_BAD;
    return true;
  }
  if (!output.isLengthQuery() && *output.length >= resultLength) return false;
  *rv = output.isLengthQuery() ? CKR_OK : CKR_BUFFER_TOO_SMALL;
  *output.length = resultLength;
  return true;
}

CK_RV deliver(const CK_BYTE *result, CK_ULONG resultLength, Output output) {
  CK_RV rv = CKR_OK;
  if (answersWithLength(resultLength, output, &rv)) return rv;
  if (resultLength > 0) std::memcpy(output.data, result, resultLength);
  *output.length = resultLength;
  return CKR_OK;
}

bool operationGoesOn(Step step, CK_RV rv, const Output &output) {
  if (rv == CKR_BUFFER_TOO_SMALL || rv == CKR_ARGUMENTS_BAD || rv == CKR_FUNCTION_NOT_SUPPORTED) return true;
  if (rv != CKR_OK) return false;
  switch (step) {
    case Step::Update: return true;
    case Step::Completion: return output.isLengthQuery();
    case Step::Check: return false;
  }
  return false;
}

bool refusesSinglePartAfterParts(Family family) { return family == Family::Sign || family == Family::Verify; }

CK_RV ActiveOperation::oneShot(Input, Output) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV ActiveOperation::update(Input, Output) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV ActiveOperation::finish(Output) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV ActiveOperation::verify(Input, Input) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV ActiveOperation::verifyFinal(Input) { return CKR_FUNCTION_NOT_SUPPORTED; }

}  // namespace zorvel::core
