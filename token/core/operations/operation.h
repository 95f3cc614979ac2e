// An operation as the emulation layer (emulation_layer.h) runs it: the caller's buffers, the
// active-operation object of a session, and the rule that says whether a call ended it.
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_OPERATION_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_OPERATION_H

#include "pkcs11.h"

namespace zorvel::core {

// The operation families. Encrypt to Digest start an operation that stays active on the
// session; Wrap, Unwrap, Derive and Generate (C_GenerateKey) are single calls.
enum class Family { Encrypt, Decrypt, Sign, Verify, Digest, Wrap, Unwrap, Derive, Generate };

const char *familyName(Family family);

// Bytes the caller passes in.
struct Input {
  CK_BYTE_PTR data;
  CK_ULONG length;
};

// Where a result goes. *length is the room at data on entry and the result's length on
// return; with data null the call asks only for the length.
struct Output {
  CK_BYTE_PTR data;
  CK_ULONG_PTR length;
  bool isLengthQuery() const { return data == nullptr; }
};

// The template of an object the call makes.
struct AttributeList {
  CK_ATTRIBUTE_PTR attributes;
  CK_ULONG count;
};

// For a result of known length not made yet: answers a length query, and a buffer too
// small (CKR_BUFFER_TOO_SMALL), with the length, and returns true with the answer in
// *rv; false when the result fits at output.data and is to be made.
bool answersWithLength(CK_ULONG resultLength, Output output, CK_RV *rv);

// Answers with a result held in full: its length to a length query, CKR_BUFFER_TOO_SMALL
// (with the length) when it does not fit, else the result. CKR_ARGUMENTS_BAD without a
// length pointer.
CK_RV deliver(const CK_BYTE *result, CK_ULONG resultLength, Output output);

// The kind of call made on an active operation.
enum class Step {
  Update,      // C_*Update: gives input, the operation goes on
  Completion,  // C_Encrypt, C_Sign, C_*Final and the like: returns the result
  Check,       // C_Verify, C_VerifyFinal: returns no bytes
};

// Whether the operation is still active after a call that returned rv. A length query
// and a too small buffer keep it, so that the caller can ask again with room for the
// result; so do arguments refused before the operation was looked at and a multi-part
// call its mechanism lacks (measured: SoftHSM2 keeps its operation on
// CKR_ARGUMENTS_BAD and on CKR_FUNCTION_NOT_SUPPORTED). A successful update keeps it;
// anything else ends it.
bool operationGoesOn(Step step, CK_RV rv, const Output &output);

// The part of a multi-part operation a call is.
enum class CallPart {
  SinglePart,  // C_Encrypt, C_Decrypt, C_Sign, C_Verify, C_Digest
  Update,      // C_*Update
  Final,       // C_*Final
};

// Whether the module refuses a single-part call once the operation was given parts, with
// CKR_OPERATION_NOT_INITIALIZED, ending it. Measured on SoftHSM2 2.6.1 for its own
// multi-part mechanisms (CKM_SHA256_RSA_PKCS, CKM_SHA256_HMAC, CKM_AES_CMAC): C_Sign after
// C_SignUpdate and C_Verify after C_VerifyUpdate are refused, a length query too;
// C_Encrypt and C_Decrypt after their updates (CKM_AES_ECB, CKM_AES_CBC) and C_Digest
// after C_DigestUpdate are carried out and end the operation.
bool refusesSinglePartAfterParts(Family family);

// An operation in progress on a session, started by an emulation's start function. The
// layer calls the member that matches the caller's call, only while the operation is
// active and only for the family it was started for, and ends it as operationGoesOn
// says: on completion, on error, and when the session, every session of its slot or the
// library ends. A member that the mechanism lacks answers CKR_FUNCTION_NOT_SUPPORTED. An
// answer that keeps the operation (CKR_BUFFER_TOO_SMALL, CKR_ARGUMENTS_BAD) comes before
// the member changes anything, so that the caller can make the call again.
class ActiveOperation {
 public:
  virtual ~ActiveOperation() = default;

  // C_Encrypt, C_Decrypt, C_Sign, C_Digest.
  virtual CK_RV oneShot(Input input, Output output);
  // C_EncryptUpdate, C_DecryptUpdate; C_SignUpdate, C_VerifyUpdate and C_DigestUpdate
  // pass an output of {nullptr, nullptr}.
  virtual CK_RV update(Input input, Output output);
  // C_EncryptFinal, C_DecryptFinal, C_SignFinal, C_DigestFinal.
  virtual CK_RV finish(Output output);
  // C_Verify.
  virtual CK_RV verify(Input data, Input signature);
  // C_VerifyFinal.
  virtual CK_RV verifyFinal(Input signature);
  // Called when a call ended the operation with an error while its session is open:
  // ends whatever the operation keeps active in the module. The object is destroyed
  // after it, and without it when the session is gone.
  virtual void abort() {}
};

}  // namespace zorvel::core

#endif
