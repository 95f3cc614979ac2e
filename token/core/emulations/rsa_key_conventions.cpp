#include "emulations/rsa_key_conventions.h"

#include <vector>

namespace zorvel::core {
namespace {

using InitFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
using RunFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);

// The class of a key object; CK_UNAVAILABLE_INFORMATION when it cannot be read.
CK_OBJECT_CLASS keyClass(const OperationRequest &request) {
  CK_OBJECT_CLASS objectClass = CK_UNAVAILABLE_INFORMATION;
  CK_ATTRIBUTE attribute = {CKA_CLASS, &objectClass, sizeof objectClass};
  if (request.module.C_GetAttributeValue == nullptr ||
      request.module.C_GetAttributeValue(request.session, request.key, &attribute, 1) != CKR_OK) {
    return CK_UNAVAILABLE_INFORMATION;
  }
  return objectClass;
}

bool claims(const OperationRequest &request, CK_MECHANISM_TYPE mechanism, CK_OBJECT_CLASS keyClassClaimed) {
  return request.mechanism->mechanism == mechanism && keyClass(request) == keyClassClaimed;
}

// The module's single-part operation standing in for the caller's.
class SubstituteOperation : public ActiveOperation {
 public:
  SubstituteOperation(const OperationRequest &request, RunFunction run, bool refuseOverlongInput)
      : session_(request.session), run_(run), refuseOverlongInput_(refuseOverlongInput) {}

  CK_RV oneShot(Input input, Output output) override {
    if (refuseOverlongInput_ && longerThanModulus(input)) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    return run_(session_, input.data, input.length, output.data, output.length);
  }

  // Completes the module's operation on a block of zeros as long as the modulus, which
  // it either carries out or refuses; both end it.
  void abort() override {
    CK_BYTE none = 0;
    CK_ULONG modulusLen = 0;
    if (run_(session_, &none, 0, nullptr, &modulusLen) != CKR_OK) return;
    std::vector<CK_BYTE> zeros(modulusLen), scratch(modulusLen);
    CK_ULONG scratchLen = modulusLen;
    run_(session_, zeros.data(), modulusLen, scratch.data(), &scratchLen);
  }

 private:
  // The module's raw public operation ends the process on an input longer than the
  // modulus (measured: SoftHSM2 exits with status 5), so it never gets one.
  bool longerThanModulus(Input input) {
    CK_ULONG modulusLen = 0;
    return run_(session_, input.data, input.length, nullptr, &modulusLen) == CKR_OK && input.length > modulusLen;
  }

  CK_SESSION_HANDLE session_;
  RunFunction run_;
  bool refuseOverlongInput_;
};

CK_RV startSubstitute(const OperationRequest &request, InitFunction init, RunFunction run, bool refuseOverlongInput,
                      std::unique_ptr<ActiveOperation> *operation) {
  if (init == nullptr || run == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
  const CK_RV rv = init(request.session, request.mechanism, request.key);
  if (rv == CKR_OK) *operation = std::make_unique<SubstituteOperation>(request, run, refuseOverlongInput);
  return rv;
}

}  // namespace

bool claimsPrivateKeyEncryption(const OperationRequest &request) {
  return claims(request, CKM_RSA_PKCS, CKO_PRIVATE_KEY);
}

CK_RV startPrivateKeyEncryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  return startSubstitute(request, request.module.C_SignInit, request.module.C_Sign, false, operation);
}

bool claimsPublicKeyDecryption(const OperationRequest &request) {
  return claims(request, CKM_RSA_X_509, CKO_PUBLIC_KEY);
}

CK_RV startPublicKeyDecryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  return startSubstitute(request, request.module.C_EncryptInit, request.module.C_Encrypt, true, operation);
}

}  // namespace zorvel::core
