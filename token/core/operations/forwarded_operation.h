// The module's own operations, seen through the interface of the emulated ones: the
// emulation layer forwards every call that no emulation claims through it.
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_FORWARDED_OPERATION_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_FORWARDED_OPERATION_H

#include "operations/operation.h"
#include "pkcs11.h"

namespace zorvel::core {

// Calls a function of the module, which it may lack.
template <typename Function, typename... Args>
CK_RV callModule(Function function, Args... args) {
  return function == nullptr ? CKR_FUNCTION_NOT_SUPPORTED : function(args...);
}

// The module's Init of the family (Encrypt to Digest; a digest takes no key).
CK_RV forwardInit(const CK_FUNCTION_LIST &module, Family family, CK_SESSION_HANDLE session,
                  CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);

// The longest input the module's operation may be given, and the answer to a longer one:
// the module's raw RSA takes no input longer than its block, and ends the process on one
// (measured: SoftHSM2 exits with status 5 in C_Encrypt, C_Sign and C_Verify with
// CKM_RSA_X_509 and data longer than the modulus) or answers CKR_GENERAL_ERROR.
struct InputBound {
  bool bounded = false;
  CK_ULONG longest = 0;
  CK_RV answer = CKR_OK;
  CK_ULONG blockLength = 0;  // the modulus length, for ending the module's operation
};

// The bound of an operation of the module forwardInit started: CKM_RSA_X_509 takes a block
// of the modulus length (longer data: CKR_DATA_LEN_RANGE, a longer ciphertext:
// CKR_ENCRYPTED_DATA_LEN_RANGE), CKM_RSA_PKCS encrypts and signs at most 11 bytes less
// (nothing with a modulus of 11 bytes or fewer); no bound for other mechanisms, or where
// the key's modulus cannot be read.
InputBound inputBoundOf(const CK_FUNCTION_LIST &module, Family family, CK_SESSION_HANDLE session,
                        CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);

// An operation of the module, started by forwardInit. The module ends it by itself, so
// there is nothing to abort; an input beyond its bound is refused before the module sees
// it, and the module's operation is ended then on a block it can take.
class ForwardedOperation : public ActiveOperation {
 public:
  ForwardedOperation(const CK_FUNCTION_LIST &module, Family family, CK_SESSION_HANDLE session,
                     InputBound bound = {})
      : module_(module), family_(family), session_(session), bound_(bound) {}

  CK_RV oneShot(Input input, Output output) override;
  CK_RV update(Input input, Output output) override;
  CK_RV finish(Output output) override;
  CK_RV verify(Input data, Input signature) override;
  CK_RV verifyFinal(Input signature) override;

  // Whether the module still runs an operation on the session. The module may end its
  // operation through calls the layer does not follow (C_DigestKey, C_SignRecover, the
  // dual-function calls, or whatever a module does), so the layer asks before it refuses
  // an emulated Init for this record: an Init of the family with a mechanism no module has
  // meets CKR_OPERATION_ACTIVE while an operation runs, and starts nothing. A module that
  // lacks the Init, or answers otherwise than either way, is taken to run it still.
  bool stillActive() const;

 private:
  // Whether input is beyond the bound; then the module's operation is ended.
  bool refuses(Input input);
  void endModuleOperation();
  CK_RV forwardOneShot(Input input, Output output);
  CK_RV forwardVerify(Input data, Input signature);

  const CK_FUNCTION_LIST &module_;
  Family family_;
  CK_SESSION_HANDLE session_;
  InputBound bound_;
};

}  // namespace zorvel::core

#endif
