// Faults the stand-in commits on request, so that tests can show that a caller notices
// them. ZORVEL_P11_FAULTS names the faults to switch on, comma-separated (spaces around
// a name do not count); it is read at
// every initialisation, and an unknown name makes the initialisation fail.
//
// Every fault is one entry of kFaults (faults.cpp) and one hook below, which the code
// calls at the point where the fault acts and which does nothing while it is off.
#ifndef ZORVEL_TOKEN_CORE_SUPPORT_FAULTS_H
#define ZORVEL_TOKEN_CORE_SUPPORT_FAULTS_H

#include "pkcs11.h"

#include <atomic>
#include <string>

namespace zorvel::core {

enum class Fault {
  CorruptSignature,   // corrupt-signature
  CorruptCiphertext,  // corrupt-ciphertext
  RoDestroy,          // ro-destroy
  KeepClosedSession,  // keep-closed-session
  UndeletableObjects, // undeletable-objects
  DeviceErrors,       // device-errors
};

class FaultSwitches {
 public:
  // Switches on the faults ZORVEL_P11_FAULTS names, and no other. False, with a line for
  // stderr in *error and every fault off, when a name is unknown.
  bool readEnvironment(std::string *error);
  bool on(Fault fault) const { return (bits_ >> static_cast<unsigned>(fault)) & 1u; }
  // Counts one more call for device-errors: the number of calls counted since the
  // switches were read.
  unsigned long countCall() const { return ++calls_; }

 private:
  unsigned bits_ = 0;
  mutable std::atomic<unsigned long> calls_{0};
};

// The hooks.

// A signature or MAC that C_Sign or C_SignFinal returns, forwarded or emulated:
// corrupt-signature flips the lowest bit of its last byte.
void signatureHook(const FaultSwitches &faults, CK_BYTE_PTR signature, CK_ULONG length);
// A ciphertext that C_Encrypt, C_EncryptUpdate or C_EncryptFinal returns, or a wrapped
// key from C_WrapKey: corrupt-ciphertext flips the lowest bit of its first byte.
void ciphertextHook(const FaultSwitches &faults, CK_BYTE_PTR ciphertext, CK_ULONG length);
// The module's answer `rv` to C_DestroyObject in `session`: where it refuses a read-only
// session (CKR_SESSION_READ_ONLY), ro-destroy destroys the object all the same, through a
// read-write session of its own on the same slot, and answers what that destroy answers.
CK_RV readOnlyDestroyHook(const FaultSwitches &faults, const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session,
                          CK_OBJECT_HANDLE object, CK_RV rv);
// Before C_CloseSession: true when keep-closed-session leaves `session` open and the close
// is to answer CKR_OK without reaching the module. Only a session the module still has
// open is kept, so a second close answers CKR_OK too and a session that C_CloseAllSessions
// closed stays refused.
bool keepClosedSessionHook(const FaultSwitches &faults, const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session);
// After the module's C_FindObjects found `*count` handles for an array of `max`:
// undeletable-objects fills the rest of the array with handles of objects the module does
// not have, the same ones at every call, so that a search never ends and no destroy of
// those handles succeeds (the module answers CKR_OBJECT_HANDLE_INVALID).
void undeletableObjectsHook(const FaultSwitches &faults, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max,
                            CK_ULONG_PTR count);
// In the entry prologue of a call made while the library is initialised (every standard
// function but C_Initialize, C_Finalize and C_GetFunctionList): true when device-errors
// is on and the call is the 7th, 14th, ... such call since the initialisation; it then
// answers CKR_DEVICE_ERROR without reaching the module.
bool deviceErrorHook(const FaultSwitches &faults);

}  // namespace zorvel::core

#endif
