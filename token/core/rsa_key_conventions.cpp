#include "rsa_key_conventions.h"

#include "forwarding.h"
#include "library.h"

#include <vector>

namespace zorvel::core {
namespace {

// The class of a key object, read from the backend without counting as an exchange (a
// provoked failure falls on the call the caller made); CK_UNAVAILABLE_INFORMATION when
// it cannot be read.
CK_OBJECT_CLASS keyClass(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
  CK_OBJECT_CLASS objectClass = CK_UNAVAILABLE_INFORMATION;
  CK_ATTRIBUTE attribute = {CKA_CLASS, &objectClass, sizeof objectClass};
  if (backendFunctions().C_GetAttributeValue(session, key, &attribute, 1) != CKR_OK) {
    return CK_UNAVAILABLE_INFORMATION;
  }
  return objectClass;
}

bool isPlainMechanism(CK_MECHANISM_PTR mechanism, CK_MECHANISM_TYPE type) {
  return mechanism != nullptr && mechanism->mechanism == type;
}

// A call after which the backend's operation is still active: a length query, an output
// buffer too small, or arguments the backend refused before it looked at the operation
// (measured: SoftHSM2 keeps the operation then, so the caller may try again).
bool operationGoesOn(CK_RV rv, CK_BYTE_PTR output) {
  return rv == CKR_BUFFER_TOO_SMALL || rv == CKR_ARGUMENTS_BAD || (rv == CKR_OK && output == nullptr);
}

using InitFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
using RunFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);

// What stands in for one caller operation: the caller's Init and completing call, the
// mechanism and key class it applies to, and the backend's Init and completing call.
struct Substitution {
  InitFunction CK_FUNCTION_LIST::*callerInit;
  RunFunction CK_FUNCTION_LIST::*callerRun;
  CK_MECHANISM_TYPE mechanism;
  CK_OBJECT_CLASS keyClass;
  InitFunction CK_FUNCTION_LIST::*backendInit;
  RunFunction CK_FUNCTION_LIST::*backendRun;
  PendingSubstitute pending;
};

const Substitution kPrivateKeyEncrypt = {&CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt,
                                         CKM_RSA_PKCS,                     CKO_PRIVATE_KEY,
                                         &CK_FUNCTION_LIST::C_SignInit,    &CK_FUNCTION_LIST::C_Sign,
                                         PendingSubstitute::SignForEncrypt};
const Substitution kPublicKeyDecrypt = {&CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt,
                                        CKM_RSA_X_509,                    CKO_PUBLIC_KEY,
                                        &CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt,
                                        PendingSubstitute::EncryptForDecrypt};

// Starts either the caller's operation or the backend operation that stands in for it.
CK_RV startOperation(const Substitution &substitution, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                     CK_OBJECT_HANDLE hKey) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    SessionState *state = session.state();
    if (state != nullptr && isPlainMechanism(pMechanism, substitution.mechanism) &&
        keyClass(hSession, hKey) == substitution.keyClass) {
      const CK_RV rv = exchange(backendFunctions().*substitution.backendInit, hSession, pMechanism, hKey);
      if (rv == CKR_OK) state->pendingSubstitute = substitution.pending;
      return rv;
    }
    const CK_RV rv = exchangeWithMechanism(backendFunctions().*substitution.callerInit, hSession, pMechanism, hKey);
    if (rv == CKR_OK && state != nullptr) state->pendingSubstitute = PendingSubstitute::None;
    return rv;
  });
}

// For the raw public operation standing in for a raw decryption: whether the input is
// longer than the modulus. The backend's raw public operation ends the process on such an
// input (measured: SoftHSM2 exits with status 5), so it never gets one; the operation is
// ended on a zero block instead, as a refused C_Decrypt ends it. Like the key class
// lookup, these calls do not count as exchanges.
bool refusedOverlongRawInput(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pInput, CK_ULONG ulInputLen) {
  const CK_FUNCTION_LIST &backend = backendFunctions();
  CK_ULONG modulusLen = 0;
  if (backend.C_Encrypt(hSession, pInput, ulInputLen, nullptr, &modulusLen) != CKR_OK || ulInputLen <= modulusLen) {
    return false;
  }
  std::vector<CK_BYTE> zeros(modulusLen), scratch(modulusLen);
  CK_ULONG scratchLen = modulusLen;
  backend.C_Encrypt(hSession, zeros.data(), modulusLen, scratch.data(), &scratchLen);
  return true;
}

// Completes the operation that the session's last Init started.
CK_RV completeOperation(const Substitution &substitution, CK_SESSION_HANDLE hSession, CK_BYTE_PTR pInput,
                        CK_ULONG ulInputLen, CK_BYTE_PTR pOutput, CK_ULONG_PTR pulOutputLen) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    SessionState *state = session.state();
    if (state == nullptr || state->pendingSubstitute != substitution.pending) {
      return exchange(backendFunctions().*substitution.callerRun, hSession, pInput, ulInputLen, pOutput, pulOutputLen);
    }
    if (substitution.pending == PendingSubstitute::EncryptForDecrypt &&
        refusedOverlongRawInput(hSession, pInput, ulInputLen)) {
      state->pendingSubstitute = PendingSubstitute::None;
      return CKR_ENCRYPTED_DATA_LEN_RANGE;
    }
    const CK_RV rv =
        exchange(backendFunctions().*substitution.backendRun, hSession, pInput, ulInputLen, pOutput, pulOutputLen);
    if (!operationGoesOn(rv, pOutput)) state->pendingSubstitute = PendingSubstitute::None;
    return rv;
  });
}

}  // namespace

CK_RV encryptInitWithKeyConventions(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(kPrivateKeyEncrypt, hSession, pMechanism, hKey);
}

CK_RV encryptWithKeyConventions(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen) {
  return completeOperation(kPrivateKeyEncrypt, hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
}

CK_RV decryptInitWithKeyConventions(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(kPublicKeyDecrypt, hSession, pMechanism, hKey);
}

CK_RV decryptWithKeyConventions(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
  return completeOperation(kPublicKeyDecrypt, hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
}

}  // namespace zorvel::core
