#include "oaep_emulation.h"

#include "oaep_encoding.h"
#include "oaep_key_wrapping.h"
#include "oaep_raw_rsa.h"

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace zorvel::core {
namespace {

struct PendingOperation {
  OaepScheme scheme;
  CK_OBJECT_HANDLE key;
};

// The emulated operations in progress, per session and direction.
class PendingOperations {
 public:
  void put(CK_SESSION_HANDLE session, Direction direction, PendingOperation operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    operations_.insert_or_assign({session, direction}, std::move(operation));
  }
  std::optional<PendingOperation> find(CK_SESSION_HANDLE session, Direction direction) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = operations_.find({session, direction});
    if (it == operations_.end()) return std::nullopt;
    return it->second;
  }
  void erase(CK_SESSION_HANDLE session, Direction direction) {
    std::lock_guard<std::mutex> lock(mutex_);
    operations_.erase({session, direction});
  }
  void eraseSession(CK_SESSION_HANDLE session) {
    erase(session, Direction::Encrypt);
    erase(session, Direction::Decrypt);
  }
  std::vector<CK_SESSION_HANDLE> sessions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CK_SESSION_HANDLE> found;
    for (const auto &[key, operation] : operations_) found.push_back(key.first);
    return found;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    operations_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<CK_SESSION_HANDLE, Direction>, PendingOperation> operations_;
};

PendingOperations &pending() {
  static PendingOperations *const operations = new PendingOperations;
  return *operations;
}

void endOperation(const RawOperation &raw, CK_SESSION_HANDLE session, CK_ULONG k) {
  abortRaw(raw, session, k);
  pending().erase(session, raw.direction);
}

CK_RV startOperation(const RawOperation &raw, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                     CK_OBJECT_HANDLE key) {
  OaepScheme scheme;
  if (!emulatedScheme(mechanism, &scheme)) {
    const CK_RV rv = (moduleFunctions().*raw.init)(session, mechanism, key);
    if (rv == CKR_OK) pending().erase(session, raw.direction);
    return rv;
  }
  CK_RV rv = startRaw(raw, session, key);
  if (rv != CKR_OK) return rv;
  CK_ULONG k = 0;
  rv = activeBlockLength(raw, session, &k);
  if (rv != CKR_OK) return rv;
  if (!fitsBlock(scheme, k)) {
    abortRaw(raw, session, k);
    return CKR_KEY_SIZE_RANGE;
  }
  pending().put(session, raw.direction, {std::move(scheme), key});
  return CKR_OK;
}

CK_RV encryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(kRawEncrypt, hSession, pMechanism, hKey);
}

CK_RV decryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return startOperation(kRawDecrypt, hSession, pMechanism, hKey);
}

// A length query or a too small buffer leaves the operation active, as do bad
// arguments (as the backend's own operations do).
CK_RV encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
              CK_ULONG_PTR pulEncryptedDataLen) {
  const std::optional<PendingOperation> operation = pending().find(hSession, Direction::Encrypt);
  if (!operation) return moduleFunctions().C_Encrypt(hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
  CK_ULONG k = 0;
  CK_RV rv = activeBlockLength(kRawEncrypt, hSession, &k);
  if (rv != CKR_OK) {
    // The backend's operation ended by a call the stand-in did not see.
    pending().erase(hSession, Direction::Encrypt);
    return rv;
  }
  if (pData == nullptr || pulEncryptedDataLen == nullptr) return CKR_ARGUMENTS_BAD;
  if (pEncryptedData == nullptr || *pulEncryptedDataLen < k) {
    const CK_RV answer = pEncryptedData == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
    *pulEncryptedDataLen = k;
    return answer;
  }
  if (ulDataLen > maxMessageLength(operation->scheme, k)) {
    endOperation(kRawEncrypt, hSession, k);
    return CKR_DATA_LEN_RANGE;
  }
  Bytes block(k);
  if (!oaepEncode(operation->scheme, pData, ulDataLen, block.data(), k)) {
    endOperation(kRawEncrypt, hSession, k);
    return CKR_GENERAL_ERROR;
  }
  rv = moduleFunctions().C_Encrypt(hSession, block.data(), k, pEncryptedData, pulEncryptedDataLen);
  wipe(&block);
  if (rv != CKR_BUFFER_TOO_SMALL) pending().erase(hSession, Direction::Encrypt);
  return rv;
}

// The length query answers the longest message the block holds. A buffer too small for
// the message found leaves the operation active: the backend's raw one starts again.
CK_RV decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
              CK_ULONG_PTR pulDataLen) {
  const std::optional<PendingOperation> operation = pending().find(hSession, Direction::Decrypt);
  if (!operation) return moduleFunctions().C_Decrypt(hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
  CK_ULONG k = 0;
  CK_RV rv = activeBlockLength(kRawDecrypt, hSession, &k);
  if (rv != CKR_OK) {
    pending().erase(hSession, Direction::Decrypt);
    return rv;
  }
  if (pEncryptedData == nullptr || pulDataLen == nullptr) return CKR_ARGUMENTS_BAD;
  if (pData == nullptr) {
    *pulDataLen = maxMessageLength(operation->scheme, k);
    return CKR_OK;
  }
  if (ulEncryptedDataLen != k) {
    endOperation(kRawDecrypt, hSession, k);
    return CKR_ENCRYPTED_DATA_LEN_RANGE;
  }
  Bytes message;
  rv = decryptAndDecode(hSession, operation->scheme, pEncryptedData, k, &message);
  if (rv != CKR_OK) {
    pending().erase(hSession, Direction::Decrypt);
    return rv;
  }
  if (*pulDataLen < message.size()) {
    *pulDataLen = message.size();
    wipe(&message);
    if (startRaw(kRawDecrypt, hSession, operation->key) != CKR_OK) pending().erase(hSession, Direction::Decrypt);
    return CKR_BUFFER_TOO_SMALL;
  }
  if (!message.empty()) std::memcpy(pData, message.data(), message.size());
  *pulDataLen = message.size();
  wipe(&message);
  pending().erase(hSession, Direction::Decrypt);
  return CKR_OK;
}

// Ended sessions take their pending operations with them.
CK_RV finalize(CK_VOID_PTR pReserved) {
  const CK_RV rv = moduleFunctions().C_Finalize(pReserved);
  if (rv == CKR_OK) pending().clear();
  return rv;
}

CK_RV closeSession(CK_SESSION_HANDLE hSession) {
  const CK_RV rv = moduleFunctions().C_CloseSession(hSession);
  if (rv == CKR_OK) pending().eraseSession(hSession);
  return rv;
}

CK_RV closeAllSessions(CK_SLOT_ID slotID) {
  const CK_RV rv = moduleFunctions().C_CloseAllSessions(slotID);
  if (rv != CKR_OK) return rv;
  for (CK_SESSION_HANDLE session : pending().sessions()) {
    CK_SESSION_INFO info;
    if (moduleFunctions().C_GetSessionInfo(session, &info) != CKR_OK) pending().eraseSession(session);
  }
  return rv;
}

}  // namespace

CK_FUNCTION_LIST withOaepEmulation(const CK_FUNCTION_LIST &module) {
  setModuleFunctions(module);
  CK_FUNCTION_LIST list = module;
  const bool usable = module.C_Finalize && module.C_OpenSession && module.C_CloseSession &&
                      module.C_CloseAllSessions && module.C_GetSessionInfo && module.C_GetAttributeValue &&
                      module.C_CreateObject && module.C_DestroyObject && module.C_EncryptInit && module.C_Encrypt &&
                      module.C_DecryptInit && module.C_Decrypt && module.C_WrapKey && module.C_UnwrapKey;
  if (!usable) return list;
  list.C_Finalize = finalize;
  list.C_CloseSession = closeSession;
  list.C_CloseAllSessions = closeAllSessions;
  list.C_EncryptInit = encryptInit;
  list.C_Encrypt = encrypt;
  list.C_DecryptInit = decryptInit;
  list.C_Decrypt = decrypt;
  list.C_WrapKey = wrapKeyWithOaep;
  list.C_UnwrapKey = unwrapKeyWithOaep;
  return list;
}

}  // namespace zorvel::core
