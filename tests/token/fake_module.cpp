// A small PKCS#11 module for the stand-in's tests, used in place of SoftHSM2 through
// ZORVEL_P11_MODULE. It has three slots: 7 and 9 hold initialised tokens, 8 one that
// is not initialised. Sessions are numbered slot * 100 + n.
//
// The slot-taking functions below name the slot they reached: C_GetSlotInfo in
// hardwareVersion.major, C_GetMechanismList as its one mechanism CKM_VENDOR_DEFINED +
// slot, C_GetMechanismInfo as both key sizes, C_InitToken as its result
// CKR_VENDOR_DEFINED + slot. C_WaitForSlotEvent reports an event on slot 8, then on 9.
//
// C_GenerateRandom takes 5 ms and notes how many calls overlap; C_GetSessionInfo
// reports in ulDeviceError the most overlapping calls seen on that session (low 16
// bits) and in the whole module (high bits). C_SeedRandom answers a vendor-defined
// value. A new session gets the lowest free handle of its slot. Closing sessions of slot 9
// (C_CloseSession, C_CloseAllSessions) frees their handles 100 ms before it returns.
//
// Encryption, decryption, signing and verifying know one mechanism, kFakeMechanism
// (fake_mechanism.h), single- or multi-part, with any object handle as the key. One
// operation runs per session: another Init gets CKR_OPERATION_ACTIVE. A length query
// and a too small buffer keep the operation, so does a call without its length
// pointer (CKR_ARGUMENTS_BAD); any other answer of a completing call ends it.
//
// C_SignRecover completes the session's signature as C_Sign does, so that it ends an
// operation the stand-in forwarded without following the call.
//
// C_UnwrapKey names the curve it was given: the new key's handle is the length of the
// template's CKA_EC_PARAMS (0 without one).
//
// Only the functions below are exported.
#include "fake_mechanism.h"
#include "pkcs11.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr CK_RV kVendorValue = CKR_VENDOR_DEFINED + 0x42;

enum class OperationKind { Encrypt, Decrypt, Sign, Verify };

struct Operation {
  OperationKind kind;
  CK_OBJECT_HANDLE key;
  std::vector<CK_BYTE> signedData;  // what a multi-part signature or verification has had
};

struct SessionRecord {
  CK_SLOT_ID slot;
  int inFlight = 0;
  int mostInFlight = 0;
  std::optional<Operation> operation;
};

std::mutex g_mutex;
bool g_initialised = false;
std::map<CK_SESSION_HANDLE, SessionRecord> g_sessions;
int g_inFlight = 0;
int g_mostInFlight = 0;
int g_slotEvents = 0;

bool isSlot(CK_SLOT_ID slot) { return slot >= 7 && slot <= 9; }

CK_RV startOperation(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey,
                     OperationKind kind) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto it = g_sessions.find(hSession);
  if (it == g_sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
  if (it->second.operation) return CKR_OPERATION_ACTIVE;
  if (pMechanism->mechanism != zorvel::test::kFakeMechanism) return CKR_MECHANISM_INVALID;
  it->second.operation = Operation{kind, hKey, {}};
  return CKR_OK;
}

// The session's operation of the kind; null when none is active.
Operation *activeOperation(CK_SESSION_HANDLE hSession, OperationKind kind, CK_RV *rv) {
  const auto it = g_sessions.find(hSession);
  if (it == g_sessions.end()) {
    *rv = CKR_SESSION_HANDLE_INVALID;
    return nullptr;
  }
  if (!it->second.operation || it->second.operation->kind != kind) {
    *rv = CKR_OPERATION_NOT_INITIALIZED;
    return nullptr;
  }
  return &*it->second.operation;
}

void endOperation(CK_SESSION_HANDLE hSession) { g_sessions[hSession].operation.reset(); }

// Writes a result of `length` bytes made by produce(out), as the operation rules say.
template <typename Produce>
CK_RV produceResult(CK_SESSION_HANDLE hSession, CK_ULONG length, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen, bool ends,
                    Produce produce) {
  if (pulOutLen == nullptr) return CKR_ARGUMENTS_BAD;
  const bool fits = *pulOutLen >= length;
  *pulOutLen = length;
  if (pOut == nullptr) return CKR_OK;
  if (!fits) return CKR_BUFFER_TOO_SMALL;
  produce(pOut);
  if (ends) endOperation(hSession);
  return CKR_OK;
}

CK_RV cipher(CK_SESSION_HANDLE hSession, OperationKind kind, CK_BYTE_PTR pIn, CK_ULONG ulInLen, CK_BYTE_PTR pOut,
             CK_ULONG_PTR pulOutLen, bool ends) {
  std::lock_guard<std::mutex> lock(g_mutex);
  CK_RV rv = CKR_OK;
  Operation *operation = activeOperation(hSession, kind, &rv);
  if (operation == nullptr) return rv;
  if (pIn == nullptr && ulInLen > 0) return CKR_ARGUMENTS_BAD;
  const CK_OBJECT_HANDLE key = operation->key;
  return produceResult(hSession, ulInLen, pOut, pulOutLen, ends, [&](CK_BYTE_PTR out) {
    for (CK_ULONG i = 0; i < ulInLen; ++i) out[i] = zorvel::test::fakeCipherByte(pIn[i], key);
  });
}

CK_RV cipherFinal(CK_SESSION_HANDLE hSession, OperationKind kind, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  CK_RV rv = CKR_OK;
  if (activeOperation(hSession, kind, &rv) == nullptr) return rv;
  return produceResult(hSession, 0, pOut, pulOutLen, true, [](CK_BYTE_PTR) {});
}

CK_RV addSignedData(CK_SESSION_HANDLE hSession, OperationKind kind, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  CK_RV rv = CKR_OK;
  Operation *operation = activeOperation(hSession, kind, &rv);
  if (operation == nullptr) return rv;
  if (pPart == nullptr && ulPartLen > 0) return CKR_ARGUMENTS_BAD;
  operation->signedData.insert(operation->signedData.end(), pPart, pPart + ulPartLen);
  return CKR_OK;
}

// Signs what the operation has had and the data given, as the operation rules say.
CK_RV sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
           CK_ULONG_PTR pulSignatureLen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  CK_RV rv = CKR_OK;
  Operation *operation = activeOperation(hSession, OperationKind::Sign, &rv);
  if (operation == nullptr) return rv;
  if (pData == nullptr && ulDataLen > 0) return CKR_ARGUMENTS_BAD;
  std::vector<CK_BYTE> data = operation->signedData;
  data.insert(data.end(), pData, pData + ulDataLen);
  const zorvel::test::FakeSignature signature = zorvel::test::fakeSignature(data, operation->key);
  return produceResult(hSession, signature.size(), pSignature, pulSignatureLen, true,
                       [&](CK_BYTE_PTR out) { std::copy(signature.begin(), signature.end(), out); });
}

CK_RV verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG ulSignatureLen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  CK_RV rv = CKR_OK;
  Operation *operation = activeOperation(hSession, OperationKind::Verify, &rv);
  if (operation == nullptr) return rv;
  if (pSignature == nullptr || (pData == nullptr && ulDataLen > 0)) return CKR_ARGUMENTS_BAD;
  std::vector<CK_BYTE> data = operation->signedData;
  data.insert(data.end(), pData, pData + ulDataLen);
  const zorvel::test::FakeSignature signature = zorvel::test::fakeSignature(data, operation->key);
  endOperation(hSession);
  if (ulSignatureLen != signature.size()) return CKR_SIGNATURE_LEN_RANGE;
  // Byte by byte, not through memcmp: this module runs in the stand-in's namespace, whose
  // C library valgrind cannot replace, and that memcmp reads whole words past a short
  // signature's end, which memcheck reports as an invalid read.
  for (std::size_t i = 0; i < signature.size(); ++i) {
    if (signature[i] != pSignature[i]) return CKR_SIGNATURE_INVALID;
  }
  return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_Initialize(CK_VOID_PTR) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_initialised) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  g_initialised = true;
  g_slotEvents = 0;
  return CKR_OK;
}

CK_RV C_Finalize(CK_VOID_PTR) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
  g_initialised = false;
  g_sessions.clear();
  return CKR_OK;
}

CK_RV C_GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
  static const CK_SLOT_ID kSlots[] = {7, 8, 9};
  if (pSlotList != nullptr) {
    if (*pulCount < 3) return CKR_BUFFER_TOO_SMALL;
    std::copy(std::begin(kSlots), std::end(kSlots), pSlotList);
  }
  *pulCount = 3;
  return CKR_OK;
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
  if (!isSlot(slotID)) return CKR_SLOT_ID_INVALID;
  std::memset(pInfo, 0, sizeof *pInfo);
  std::memset(pInfo->label, ' ', sizeof pInfo->label);
  pInfo->label[0] = static_cast<CK_UTF8CHAR>('0' + slotID);
  pInfo->flags = slotID == 8 ? CKF_RNG : CKF_RNG | CKF_TOKEN_INITIALIZED;
  return CKR_OK;
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
  if (!isSlot(slotID)) return CKR_SLOT_ID_INVALID;
  *pInfo = {};
  pInfo->flags = CKF_TOKEN_PRESENT;
  pInfo->hardwareVersion.major = static_cast<CK_BYTE>(slotID);
  return CKR_OK;
}

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
  if (!isSlot(slotID)) return CKR_SLOT_ID_INVALID;
  if (pMechanismList != nullptr) {
    if (*pulCount < 1) return CKR_BUFFER_TOO_SMALL;
    pMechanismList[0] = CKM_VENDOR_DEFINED + slotID;
  }
  *pulCount = 1;
  return CKR_OK;
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE, CK_MECHANISM_INFO_PTR pInfo) {
  if (!isSlot(slotID)) return CKR_SLOT_ID_INVALID;
  *pInfo = {slotID, slotID, CKF_HW};
  return CKR_OK;
}

CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR) {
  return isSlot(slotID) ? CKR_VENDOR_DEFINED + slotID : CKR_SLOT_ID_INVALID;
}

CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR) {
  if (pSlot == nullptr) return CKR_ARGUMENTS_BAD;
  std::lock_guard<std::mutex> lock(g_mutex);
  *pSlot = g_slotEvents++ % 2 == 0 ? 8 : 9;
  return CKR_OK;
}

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR phSession) {
  if (!isSlot(slotID)) return CKR_SLOT_ID_INVALID;
  if (slotID == 8) return CKR_TOKEN_NOT_RECOGNIZED;
  std::lock_guard<std::mutex> lock(g_mutex);
  CK_SESSION_HANDLE handle = slotID * 100 + 1;
  while (g_sessions.count(handle) != 0) ++handle;
  *phSession = handle;
  g_sessions[handle].slot = slotID;
  return CKR_OK;
}

// A close on slot 9 returns late, its handles already free for a new session.
void returnLateOnSlot9(CK_SLOT_ID slotID) {
  if (slotID == 9) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
  CK_SLOT_ID slot = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_sessions.find(hSession);
    if (it == g_sessions.end()) return CKR_SESSION_HANDLE_INVALID;
    slot = it->second.slot;
    g_sessions.erase(it);
  }
  returnLateOnSlot9(slot);
  return CKR_OK;
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
  if (!isSlot(slotID)) return CKR_SLOT_ID_INVALID;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_sessions.begin(); it != g_sessions.end();) {
      it = it->second.slot == slotID ? g_sessions.erase(it) : std::next(it);
    }
  }
  returnLateOnSlot9(slotID);
  return CKR_OK;
}

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(hSession, pMechanism, hKey, OperationKind::Encrypt);
}

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) {
  return cipher(hSession, OperationKind::Encrypt, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen, true);
}

CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                      CK_ULONG_PTR pulEncryptedPartLen) {
  return cipher(hSession, OperationKind::Encrypt, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen, false);
}

CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen) {
  return cipherFinal(hSession, OperationKind::Encrypt, pLastEncryptedPart, pulLastEncryptedPartLen);
}

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(hSession, pMechanism, hKey, OperationKind::Decrypt);
}

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                CK_ULONG_PTR pulDataLen) {
  return cipher(hSession, OperationKind::Decrypt, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen, true);
}

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                      CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
  return cipher(hSession, OperationKind::Decrypt, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen, false);
}

CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) {
  return cipherFinal(hSession, OperationKind::Decrypt, pLastPart, pulLastPartLen);
}

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(hSession, pMechanism, hKey, OperationKind::Sign);
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return addSignedData(hSession, OperationKind::Sign, pPart, ulPartLen);
}

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
  return sign(hSession, nullptr, 0, pSignature, pulSignatureLen);
}

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) {
  return sign(hSession, pData, ulDataLen, pSignature, pulSignatureLen);
}

CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                    CK_ULONG_PTR pulSignatureLen) {
  return sign(hSession, pData, ulDataLen, pSignature, pulSignatureLen);
}

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(hSession, pMechanism, hKey, OperationKind::Verify);
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return addSignedData(hSession, OperationKind::Verify, pPart, ulPartLen);
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
  return verify(hSession, nullptr, 0, pSignature, ulSignatureLen);
}

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) {
  return verify(hSession, pData, ulDataLen, pSignature, ulSignatureLen);
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto it = g_sessions.find(hSession);
  if (it == g_sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  *pInfo = {};
  pInfo->slotID = it->second.slot;
  pInfo->flags = CKF_SERIAL_SESSION;
  pInfo->ulDeviceError = static_cast<CK_ULONG>(g_mostInFlight) << 16 | it->second.mostInFlight;
  return CKR_OK;
}

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_sessions.find(hSession);
    if (it == g_sessions.end()) return CKR_SESSION_HANDLE_INVALID;
    SessionRecord &session = it->second;
    session.mostInFlight = std::max(session.mostInFlight, ++session.inFlight);
    g_mostInFlight = std::max(g_mostInFlight, ++g_inFlight);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::memset(pRandomData, 0x5A, ulRandomLen);
  std::lock_guard<std::mutex> lock(g_mutex);
  --g_inFlight;
  const auto it = g_sessions.find(hSession);
  if (it != g_sessions.end()) --it->second.inFlight;
  return CKR_OK;
}

CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return kVendorValue; }

CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG,
                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
  if (phKey == nullptr || (pTemplate == nullptr && ulAttributeCount > 0)) return CKR_ARGUMENTS_BAD;
  *phKey = 0;
  for (CK_ULONG i = 0; i < ulAttributeCount; ++i) {
    if (pTemplate[i].type == CKA_EC_PARAMS) *phKey = pTemplate[i].ulValueLen;
  }
  return CKR_OK;
}

}
