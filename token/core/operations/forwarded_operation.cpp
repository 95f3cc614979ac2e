#include "operations/forwarded_operation.h"

#include "building_blocks/rsa_modulus.h"

#include <vector>

namespace zorvel::core {

InputBound inputBoundOf(const CK_FUNCTION_LIST &module, Family family, CK_SESSION_HANDLE session,
                        CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
  const bool raw = mechanism->mechanism == CKM_RSA_X_509;
  if (!raw && mechanism->mechanism != CKM_RSA_PKCS) return {};
  if (family != Family::Encrypt && family != Family::Decrypt && family != Family::Sign &&
      !(raw && family == Family::Verify)) {
    return {};
  }
  const CK_ULONG block = static_cast<CK_ULONG>(modulusValue(module, session, key).size());
  if (block == 0) return {};
  if (family == Family::Decrypt) return {true, block, CKR_ENCRYPTED_DATA_LEN_RANGE, block};
  const CK_ULONG longest = raw ? block : block > kPkcs1PaddingLength ? block - kPkcs1PaddingLength : 0;
  return {true, longest, CKR_DATA_LEN_RANGE, block};
}

CK_RV forwardInit(const CK_FUNCTION_LIST &module, Family family, CK_SESSION_HANDLE session,
                  CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
  switch (family) {
    case Family::Encrypt: return callModule(module.C_EncryptInit, session, mechanism, key);
    case Family::Decrypt: return callModule(module.C_DecryptInit, session, mechanism, key);
    case Family::Sign: return callModule(module.C_SignInit, session, mechanism, key);
    case Family::Verify: return callModule(module.C_VerifyInit, session, mechanism, key);
    case Family::Digest: return callModule(module.C_DigestInit, session, mechanism);
    default: return CKR_GENERAL_ERROR;
  }
}

bool ForwardedOperation::stillActive() const {
  CK_MECHANISM probe = {CKM_VENDOR_DEFINED | 0x5A17E57, nullptr, 0};
  const CK_RV rv = forwardInit(module_, family_, session_, &probe, CK_INVALID_HANDLE);
  return rv == CKR_OPERATION_ACTIVE || rv == CKR_FUNCTION_NOT_SUPPORTED || rv == CKR_OK;
}

bool ForwardedOperation::refuses(Input input) {
  if (!bound_.bounded || input.length <= bound_.longest) return false;
  endModuleOperation();
  return true;
}

// Completes the module's operation on a block of zeros as long as the modulus, which it
// either carries out or refuses; both end it.
void ForwardedOperation::endModuleOperation() {
  std::vector<CK_BYTE> zeros(bound_.blockLength), scratch(bound_.blockLength);
  CK_ULONG scratchLength = bound_.blockLength;
  if (family_ == Family::Verify) {
    forwardVerify({zeros.data(), bound_.blockLength}, {scratch.data(), bound_.blockLength});
  } else {
    forwardOneShot({zeros.data(), bound_.blockLength}, {scratch.data(), &scratchLength});
  }
}

CK_RV ForwardedOperation::oneShot(Input input, Output output) {
  // A length query leaves the input to the call that gives it room.
  if (!output.isLengthQuery() && refuses(input)) return bound_.answer;
  return forwardOneShot(input, output);
}

CK_RV ForwardedOperation::forwardOneShot(Input input, Output output) {
  switch (family_) {
    case Family::Encrypt: return callModule(module_.C_Encrypt, session_, input.data, input.length, output.data, output.length);
    case Family::Decrypt: return callModule(module_.C_Decrypt, session_, input.data, input.length, output.data, output.length);
    case Family::Sign: return callModule(module_.C_Sign, session_, input.data, input.length, output.data, output.length);
    case Family::Digest: return callModule(module_.C_Digest, session_, input.data, input.length, output.data, output.length);
    default: return CKR_GENERAL_ERROR;
  }
}

CK_RV ForwardedOperation::update(Input input, Output output) {
  switch (family_) {
    case Family::Encrypt:
      return callModule(module_.C_EncryptUpdate, session_, input.data, input.length, output.data, output.length);
    case Family::Decrypt:
      return callModule(module_.C_DecryptUpdate, session_, input.data, input.length, output.data, output.length);
    case Family::Sign: return callModule(module_.C_SignUpdate, session_, input.data, input.length);
    case Family::Verify: return callModule(module_.C_VerifyUpdate, session_, input.data, input.length);
    case Family::Digest: return callModule(module_.C_DigestUpdate, session_, input.data, input.length);
    default: return CKR_GENERAL_ERROR;
  }
}

CK_RV ForwardedOperation::finish(Output output) {
  switch (family_) {
    case Family::Encrypt: return callModule(module_.C_EncryptFinal, session_, output.data, output.length);
    case Family::Decrypt: return callModule(module_.C_DecryptFinal, session_, output.data, output.length);
    case Family::Sign: return callModule(module_.C_SignFinal, session_, output.data, output.length);
    case Family::Digest: return callModule(module_.C_DigestFinal, session_, output.data, output.length);
    default: return CKR_GENERAL_ERROR;
  }
}

CK_RV ForwardedOperation::verify(Input data, Input signature) {
  if (refuses(data)) return bound_.answer;
  return forwardVerify(data, signature);
}

CK_RV ForwardedOperation::forwardVerify(Input data, Input signature) {
  return callModule(module_.C_Verify, session_, data.data, data.length, signature.data, signature.length);
}

CK_RV ForwardedOperation::verifyFinal(Input signature) {
  return callModule(module_.C_VerifyFinal, session_, signature.data, signature.length);
}

}  // namespace zorvel::core
