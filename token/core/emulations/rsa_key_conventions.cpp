#include "emulations/rsa_key_conventions.h"

#include "building_blocks/rsa_modulus.h"

#include <algorithm>
#include <utility>
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

// What input the substitute takes: the module's operation answers input it cannot take
// with CKR_GENERAL_ERROR, or ends the process on it, so the substitute answers it first.
enum class InputRule {
  // PKCS#1 v1.5 block type 1: at most the modulus length less 11 bytes, else
  // CKR_DATA_LEN_RANGE.
  SignatureBlock,
  // Raw public-key operation: a value below the modulus. Longer than the modulus:
  // CKR_ENCRYPTED_DATA_LEN_RANGE (SoftHSM2 ends the process on it); as long and not below
  // it: CKR_ENCRYPTED_DATA_INVALID.
  BelowModulus,
};

// The module's single-part operation standing in for the caller's.
class SubstituteOperation : public ActiveOperation {
 public:
  SubstituteOperation(const OperationRequest &request, RunFunction run, InputRule rule, std::vector<CK_BYTE> modulus)
      : session_(request.session), run_(run), rule_(rule), modulus_(std::move(modulus)) {}

  CK_RV oneShot(Input input, Output output) override {
    const CK_RV refusal = refusalOf(input, output.isLengthQuery());
    if (refusal != CKR_OK) return refusal;
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
  // CKR_OK for input the module takes; no rule applies without the modulus. A length query
  // is answered whatever the signature's input; an overlong value is refused also then.
  CK_RV refusalOf(Input input, bool lengthQuery) const {
    const std::size_t k = modulus_.size();
    if (k == 0) return CKR_OK;
    if (rule_ == InputRule::SignatureBlock) {
      return !lengthQuery && (k < kPkcs1PaddingLength || input.length > k - kPkcs1PaddingLength) ? CKR_DATA_LEN_RANGE
                                                                                                 : CKR_OK;
    }
    if (input.length > k) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    if (lengthQuery || input.data == nullptr) return CKR_OK;
    if (input.length == k && !std::lexicographical_compare(input.data, input.data + k, modulus_.begin(), modulus_.end())) {
      return CKR_ENCRYPTED_DATA_INVALID;
    }
    return CKR_OK;
  }

  CK_SESSION_HANDLE session_;
  RunFunction run_;
  InputRule rule_;
  std::vector<CK_BYTE> modulus_;
};

CK_RV startSubstitute(const OperationRequest &request, InitFunction init, RunFunction run, InputRule rule,
                      std::unique_ptr<ActiveOperation> *operation) {
  if (init == nullptr || run == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
  const CK_RV rv = init(request.session, request.mechanism, request.key);
  if (rv != CKR_OK) return rv;
  std::vector<CK_BYTE> modulus = modulusValue(request.module, request.session, request.key);
  *operation = std::make_unique<SubstituteOperation>(request, run, rule, std::move(modulus));
  return CKR_OK;
}

}  // namespace

bool claimsPrivateKeyEncryption(const OperationRequest &request) {
  return claims(request, CKM_RSA_PKCS, CKO_PRIVATE_KEY);
}

CK_RV startPrivateKeyEncryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  return startSubstitute(request, request.module.C_SignInit, request.module.C_Sign, InputRule::SignatureBlock, operation);
}

bool claimsPublicKeyDecryption(const OperationRequest &request) {
  return claims(request, CKM_RSA_X_509, CKO_PUBLIC_KEY);
}

CK_RV startPublicKeyDecryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  return startSubstitute(request, request.module.C_EncryptInit, request.module.C_Encrypt, InputRule::BelowModulus, operation);
}

}  // namespace zorvel::core
