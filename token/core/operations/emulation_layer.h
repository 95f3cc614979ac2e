// The emulation layer: one generic entry for each operation family (encrypt, decrypt,
// sign, verify, digest, wrap, unwrap, derive, generate). At an Init it asks the table of
// emulations (emulation.h) and starts the emulation that claims the call, else forwards
// to the module; later calls go to the session's active operation, emulated or
// forwarded. The rules every operation shares are kept here once:
//
//   - a mechanism the table refuses gets CKR_MECHANISM_INVALID before the key is looked
//     at, then a key of another type than the mechanism works with its ..._INCONSISTENT
//     answer (mechanism_key_types.h), before the module sees it;
//   - one operation per session, whatever its family: a second Init gets
//     CKR_OPERATION_ACTIVE (a forwarded Init meets the module's own guard, which also
//     knows operations the stand-in does not follow);
//   - a call of another family than the active operation's gets
//     CKR_OPERATION_NOT_INITIALIZED and leaves the operation alone;
//   - a call ends the operation unless operationGoesOn (operation.h) says it goes on;
//     ended by an error, an emulated operation is aborted first;
//   - an emulated operation answers misuse as the module answers it for its own
//     multi-part mechanisms: a single-part call after parts where the module refuses it
//     (refusesSinglePartAfterParts), CKR_OPERATION_NOT_INITIALIZED, ending the operation;
//     a call after the one that completed it meets no operation, the module's answer;
//   - the results pass the fault hooks (faults.h);
//   - the call trace names the row that served the call (trace.h).
//
// The session's operation ends with it (C_CloseSession, C_CloseAllSessions, C_Finalize
// drop the session's state, see session_registry.h).
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_EMULATION_LAYER_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_EMULATION_LAYER_H

#include "operations/emulation.h"
#include "operations/operation.h"
#include "operations/operation_slot.h"
#include "pkcs11.h"
#include "support/faults.h"

namespace zorvel::core {

// Every member takes the session's operation slot, null for a handle the stand-in did
// not open: such calls go to the module unchanged, which answers for the handle.
class EmulationLayer {
 public:
  EmulationLayer(const CK_FUNCTION_LIST &module, const EmulationTable &emulations, const FaultSwitches &faults)
      : module_(module), emulations_(emulations), faults_(faults) {}

  // C_EncryptInit, C_DecryptInit, C_SignInit, C_VerifyInit, C_DigestInit (key
  // CK_INVALID_HANDLE). The mechanism is as the module takes it.
  CK_RV init(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
             CK_OBJECT_HANDLE key);
  // C_Encrypt, C_Decrypt, C_Sign, C_Digest.
  CK_RV oneShot(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, Input input, Output output);
  // C_EncryptUpdate, C_DecryptUpdate; the others with output {nullptr, nullptr}.
  CK_RV update(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, Input input, Output output);
  // C_EncryptFinal, C_DecryptFinal, C_SignFinal, C_DigestFinal.
  CK_RV finish(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, Output output);
  // C_Verify, C_VerifyFinal.
  CK_RV verify(OperationSlot *slot, CK_SESSION_HANDLE session, Input data, Input signature);
  CK_RV verifyFinal(OperationSlot *slot, CK_SESSION_HANDLE session, Input signature);

  // C_WrapKey, C_UnwrapKey, C_DeriveKey, C_GenerateKey: single calls, no active operation.
  CK_RV wrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE wrappingKey,
                CK_OBJECT_HANDLE key, Output wrapped);
  CK_RV unwrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE unwrappingKey,
                  Input wrapped, AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key);
  CK_RV deriveKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE baseKey,
                  AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key);
  CK_RV generateKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, AttributeList keyTemplate,
                    CK_OBJECT_HANDLE_PTR key);

 private:
  // What the table says of the call, named in the trace.
  Claim claim(const OperationRequest &request) const;
  template <typename Call>
  CK_RV onActive(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, CallPart part, Step step,
                 Output output, Call call);
  void hookResult(Family family, CK_RV rv, Output output) const;

  const CK_FUNCTION_LIST &module_;
  const EmulationTable &emulations_;
  const FaultSwitches &faults_;
};

}  // namespace zorvel::core

#endif
