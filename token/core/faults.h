// Faults the stand-in commits on request, so that tests can show that a caller notices
// them. ZORVEL_P11_FAULTS names the faults to switch on, comma-separated; it is read at
// every initialisation, and an unknown name makes the initialisation fail.
//
// Every fault is one entry of kFaults (faults.cpp) and one hook below, which the code
// calls at the point where the fault acts and which does nothing while it is off.
#ifndef ZORVEL_TOKEN_CORE_FAULTS_H
#define ZORVEL_TOKEN_CORE_FAULTS_H

#include "pkcs11.h"

#include <string>

namespace zorvel::core {

enum class Fault {
  CorruptSignature,   // corrupt-signature
  CorruptCiphertext,  // corrupt-ciphertext
};

class FaultSwitches {
 public:
  // Switches on the faults ZORVEL_P11_FAULTS names, and no other. False, with a line for
  // stderr in *error and every fault off, when a name is unknown.
  bool readEnvironment(std::string *error);
  bool on(Fault fault) const { return (bits_ >> static_cast<unsigned>(fault)) & 1u; }

 private:
  unsigned bits_ = 0;
};

// The hooks.

// A signature or MAC that C_Sign or C_SignFinal returns, forwarded or emulated:
// corrupt-signature flips the lowest bit of its last byte.
void signatureHook(const FaultSwitches &faults, CK_BYTE_PTR signature, CK_ULONG length);
// A ciphertext that C_Encrypt, C_EncryptUpdate or C_EncryptFinal returns, or a wrapped
// key from C_WrapKey: corrupt-ciphertext flips the lowest bit of its first byte.
void ciphertextHook(const FaultSwitches &faults, CK_BYTE_PTR ciphertext, CK_ULONG length);

}  // namespace zorvel::core

#endif
