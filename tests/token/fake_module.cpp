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
// value. Only the functions below are exported.
#include "pkcs11.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace {

constexpr CK_RV kVendorValue = CKR_VENDOR_DEFINED + 0x42;

struct SessionRecord {
  CK_SLOT_ID slot;
  int inFlight = 0;
  int mostInFlight = 0;
};

std::mutex g_mutex;
bool g_initialised = false;
std::map<CK_SESSION_HANDLE, SessionRecord> g_sessions;
CK_ULONG g_opened = 0;
int g_inFlight = 0;
int g_mostInFlight = 0;
int g_slotEvents = 0;

bool isSlot(CK_SLOT_ID slot) { return slot >= 7 && slot <= 9; }

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
  *phSession = slotID * 100 + ++g_opened;
  g_sessions[*phSession] = SessionRecord{slotID};
  return CKR_OK;
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_sessions.erase(hSession) == 1 ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
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

}
