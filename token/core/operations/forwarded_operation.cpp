#include "operations/forwarded_operation.h"

namespace zorvel::core {

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

CK_RV ForwardedOperation::oneShot(Input input, Output output) {
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
  return callModule(module_.C_Verify, session_, data.data, data.length, signature.data, signature.length);
}

CK_RV ForwardedOperation::verifyFinal(Input signature) {
  return callModule(module_.C_VerifyFinal, session_, signature.data, signature.length);
}

}  // namespace zorvel::core
