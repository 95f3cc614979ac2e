#include "oaep_emulation.h"

#include "oaep_encoding.h"
#include "secret_key_value.h"

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace zorvel::core {
namespace {

// The module's own functions.
CK_FUNCTION_LIST g_module{};

enum class Direction { Encrypt, Decrypt };

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

const EVP_MD *digestOf(CK_MECHANISM_TYPE hashAlg) {
  switch (hashAlg) {
    case CKM_SHA_1: return EVP_sha1();
    case CKM_SHA224: return EVP_sha224();
    case CKM_SHA256: return EVP_sha256();
    case CKM_SHA384: return EVP_sha384();
    case CKM_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

const EVP_MD *mgf1DigestOf(CK_RSA_PKCS_MGF_TYPE mgf) {
  switch (mgf) {
    case CKG_MGF1_SHA1: return EVP_sha1();
    case CKG_MGF1_SHA224: return EVP_sha224();
    case CKG_MGF1_SHA256: return EVP_sha256();
    case CKG_MGF1_SHA384: return EVP_sha384();
    case CKG_MGF1_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

// The scheme of an OAEP mechanism that the backend cannot carry out and the stand-in
// can; false for every other mechanism, which goes to the backend as it is.
bool emulatedScheme(const CK_MECHANISM *mechanism, OaepScheme *scheme) {
  if (mechanism == nullptr || mechanism->mechanism != CKM_RSA_PKCS_OAEP || mechanism->pParameter == nullptr ||
      mechanism->ulParameterLen != sizeof(CK_RSA_PKCS_OAEP_PARAMS)) {
    return false;
  }
  CK_RSA_PKCS_OAEP_PARAMS params;
  std::memcpy(&params, mechanism->pParameter, sizeof params);
  if (params.source != CKZ_DATA_SPECIFIED || (params.pSourceData == nullptr && params.ulSourceDataLen != 0)) {
    return false;
  }
  if (params.hashAlg == CKM_SHA_1 && params.mgf == CKG_MGF1_SHA1 && params.ulSourceDataLen == 0) return false;
  scheme->digest = digestOf(params.hashAlg);
  scheme->mgf1Digest = mgf1DigestOf(params.mgf);
  if (scheme->digest == nullptr || scheme->mgf1Digest == nullptr) return false;
  const CK_BYTE *label = static_cast<const CK_BYTE *>(params.pSourceData);
  scheme->label.assign(label, label + params.ulSourceDataLen);
  return true;
}

using InitFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
using RunFunction = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);

// One direction of the backend's raw RSA.
struct RawOperation {
  Direction direction;
  InitFunction CK_FUNCTION_LIST::*init;
  RunFunction CK_FUNCTION_LIST::*run;
};

const RawOperation kRawEncrypt = {Direction::Encrypt, &CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt};
const RawOperation kRawDecrypt = {Direction::Decrypt, &CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt};

CK_RV startRaw(const RawOperation &raw, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
  CK_MECHANISM mechanism = {CKM_RSA_X_509, nullptr, 0};
  return (g_module.*raw.init)(session, &mechanism, key);
}

// The block length (the modulus length k) of the raw operation active on the session,
// from its length query, which leaves it active. Fails when none is active.
CK_RV activeBlockLength(const RawOperation &raw, CK_SESSION_HANDLE session, CK_ULONG *k) {
  CK_BYTE none = 0;
  *k = 0;
  return (g_module.*raw.run)(session, &none, 0, nullptr, k);
}

// Ends the raw operation active on the session with a block the backend refuses: all
// bytes 0xFF is not below the modulus. (SoftHSM2 must never get a block longer than the
// modulus: it ends the process.)
void abortRaw(const RawOperation &raw, CK_SESSION_HANDLE session, CK_ULONG k) {
  Bytes block(k, 0xFF);
  Bytes output(k);
  CK_ULONG length = k;
  (g_module.*raw.run)(session, block.data(), k, output.data(), &length);
}

void endOperation(const RawOperation &raw, CK_SESSION_HANDLE session, CK_ULONG k) {
  abortRaw(raw, session, k);
  pending().erase(session, raw.direction);
}

CK_RV startOperation(const RawOperation &raw, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                     CK_OBJECT_HANDLE key) {
  OaepScheme scheme;
  if (!emulatedScheme(mechanism, &scheme)) {
    const CK_RV rv = (g_module.*raw.init)(session, mechanism, key);
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

// The k-byte block of a raw decryption of input (k bytes), decoded. The backend's raw
// operation ends with it.
CK_RV decryptAndDecode(CK_SESSION_HANDLE session, const OaepScheme &scheme, CK_BYTE_PTR input, CK_ULONG k,
                       Bytes *message) {
  Bytes block(k);
  CK_ULONG length = k;
  const CK_RV rv = g_module.C_Decrypt(session, input, k, block.data(), &length);
  if (rv == CKR_BUFFER_TOO_SMALL) {
    // A raw block longer than the modulus: end the operation, which is still active.
    abortRaw(kRawDecrypt, session, k);
    return CKR_GENERAL_ERROR;
  }
  if (rv != CKR_OK) return rv;
  if (length > k) return CKR_GENERAL_ERROR;
  // A module may leave out the leading zero bytes.
  std::memmove(block.data() + (k - length), block.data(), length);
  std::memset(block.data(), 0, k - length);
  const bool decoded = oaepDecode(scheme, block.data(), k, message);
  wipe(&block);
  return decoded ? CKR_OK : CKR_ENCRYPTED_DATA_INVALID;
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
  if (!operation) return g_module.C_Encrypt(hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
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
  rv = g_module.C_Encrypt(hSession, block.data(), k, pEncryptedData, pulEncryptedDataLen);
  wipe(&block);
  if (rv != CKR_BUFFER_TOO_SMALL) pending().erase(hSession, Direction::Encrypt);
  return rv;
}

// The length query answers the longest message the block holds. A buffer too small for
// the message found leaves the operation active: the backend's raw one starts again.
CK_RV decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
              CK_ULONG_PTR pulDataLen) {
  const std::optional<PendingOperation> operation = pending().find(hSession, Direction::Decrypt);
  if (!operation) return g_module.C_Decrypt(hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
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

// Whether a key is an RSA key of the class that may be used as the usage attribute says;
// the errors are those of the wrapping or unwrapping key.
struct KeyRole {
  CK_OBJECT_CLASS keyClass;
  CK_ATTRIBUTE_TYPE usage;
  CK_RV handleInvalid;
  CK_RV typeInconsistent;
};

const KeyRole kWrappingKey = {CKO_PUBLIC_KEY, CKA_WRAP, CKR_WRAPPING_KEY_HANDLE_INVALID,
                              CKR_WRAPPING_KEY_TYPE_INCONSISTENT};
const KeyRole kUnwrappingKey = {CKO_PRIVATE_KEY, CKA_UNWRAP, CKR_UNWRAPPING_KEY_HANDLE_INVALID,
                                CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT};

CK_RV checkRsaKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, const KeyRole &role) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_KEY_TYPE keyType = 0;
  CK_BBOOL permitted = CK_FALSE;
  CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                               {CKA_KEY_TYPE, &keyType, sizeof keyType},
                               {role.usage, &permitted, sizeof permitted}};
  const CK_RV rv = g_module.C_GetAttributeValue(session, key, attributes, 3);
  if (rv == CKR_OBJECT_HANDLE_INVALID || rv == CKR_KEY_HANDLE_INVALID) return role.handleInvalid;
  if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return role.typeInconsistent;  // not a key
  if (rv != CKR_OK) return rv;
  if (keyClass != role.keyClass || keyType != CKK_RSA) return role.typeInconsistent;
  return permitted ? CKR_OK : CKR_KEY_FUNCTION_NOT_PERMITTED;
}

// The value of a secret key that may leave the token under the wrapping key.
CK_RV wrappableValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKey, CK_OBJECT_HANDLE key, Bytes *value) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_BBOOL extractable = CK_FALSE;
  CK_BBOOL withTrusted = CK_FALSE;
  CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                               {CKA_EXTRACTABLE, &extractable, sizeof extractable},
                               {CKA_WRAP_WITH_TRUSTED, &withTrusted, sizeof withTrusted}};
  CK_RV rv = g_module.C_GetAttributeValue(session, key, attributes, 3);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return CKR_KEY_NOT_WRAPPABLE;  // not a key
  if (rv != CKR_OK) return rv;
  if (keyClass != CKO_SECRET_KEY) return CKR_KEY_NOT_WRAPPABLE;
  if (!extractable) return CKR_KEY_UNEXTRACTABLE;
  if (withTrusted) {
    CK_BBOOL trusted = CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_TRUSTED, &trusted, sizeof trusted};
    if (g_module.C_GetAttributeValue(session, wrappingKey, &attribute, 1) != CKR_OK || !trusted) {
      return CKR_KEY_NOT_WRAPPABLE;
    }
  }
  rv = extractableKeyValue(g_module, session, key, value);
  // What the stand-in cannot read, it cannot wrap.
  return rv == CKR_ATTRIBUTE_SENSITIVE ? CKR_KEY_NOT_WRAPPABLE : rv;
}

CK_RV wrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
              CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
  OaepScheme scheme;
  if (!emulatedScheme(pMechanism, &scheme)) {
    return g_module.C_WrapKey(hSession, pMechanism, hWrappingKey, hKey, pWrappedKey, pulWrappedKeyLen);
  }
  if (pulWrappedKeyLen == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = checkRsaKey(hSession, hWrappingKey, kWrappingKey);
  if (rv != CKR_OK) return rv;
  Bytes modulus;
  Bytes exponent;
  rv = readAttributeBytes(g_module, hSession, hWrappingKey, CKA_MODULUS, &modulus);
  if (rv == CKR_OK) rv = readAttributeBytes(g_module, hSession, hWrappingKey, CKA_PUBLIC_EXPONENT, &exponent);
  if (rv != CKR_OK) return rv;
  while (!modulus.empty() && modulus.front() == 0) modulus.erase(modulus.begin());
  const CK_ULONG k = modulus.size();
  if (!fitsBlock(scheme, k)) return CKR_WRAPPING_KEY_SIZE_RANGE;
  Bytes value;
  rv = wrappableValue(hSession, hWrappingKey, hKey, &value);
  if (rv == CKR_OK && value.size() > maxMessageLength(scheme, k)) rv = CKR_KEY_SIZE_RANGE;
  if (rv == CKR_OK && (pWrappedKey == nullptr || *pulWrappedKeyLen < k)) {
    rv = pWrappedKey == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
    *pulWrappedKeyLen = k;
  } else if (rv == CKR_OK) {
    Bytes block(k);
    const bool done = oaepEncode(scheme, value.data(), value.size(), block.data(), k) &&
                      rsaPublicRaw(modulus, exponent, block.data(), pWrappedKey);
    wipe(&block);
    rv = done ? CKR_OK : CKR_GENERAL_ERROR;
    if (done) *pulWrappedKeyLen = k;
  }
  wipe(&value);
  return rv;
}

// The unwrapped key is a secret key: the template must say so, and must leave its value
// to the wrapped data. A CKA_VALUE_LEN it gives is checked against that value.
CK_RV checkUnwrapTemplate(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, std::optional<CK_ULONG> *valueLen) {
  bool classGiven = false;
  for (CK_ULONG i = 0; i < ulCount; ++i) {
    const CK_ATTRIBUTE &attribute = pTemplate[i];
    if (attribute.type == CKA_CLASS) {
      CK_OBJECT_CLASS keyClass;
      if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof keyClass) return CKR_ATTRIBUTE_VALUE_INVALID;
      std::memcpy(&keyClass, attribute.pValue, sizeof keyClass);
      if (keyClass != CKO_SECRET_KEY) return CKR_TEMPLATE_INCONSISTENT;
      classGiven = true;
    } else if (attribute.type == CKA_VALUE_LEN) {
      CK_ULONG length;
      if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof length) return CKR_ATTRIBUTE_VALUE_INVALID;
      std::memcpy(&length, attribute.pValue, sizeof length);
      *valueLen = length;
    } else if (attribute.type == CKA_VALUE) {
      return CKR_TEMPLATE_INCONSISTENT;
    }
  }
  return classGiven ? CKR_OK : CKR_TEMPLATE_INCOMPLETE;
}

// A session of the module's own on the slot of the caller's session, so that a raw
// decryption for an unwrapping neither meets nor ends the caller's operations.
class HelperSession {
 public:
  explicit HelperSession(CK_SESSION_HANDLE caller) {
    CK_SESSION_INFO info;
    status_ = g_module.C_GetSessionInfo(caller, &info);
    if (status_ == CKR_OK) status_ = g_module.C_OpenSession(info.slotID, CKF_SERIAL_SESSION, nullptr, nullptr, &handle_);
  }
  ~HelperSession() {
    if (status_ == CKR_OK) g_module.C_CloseSession(handle_);
  }
  HelperSession(const HelperSession &) = delete;
  HelperSession &operator=(const HelperSession &) = delete;
  CK_RV status() const { return status_; }
  CK_SESSION_HANDLE handle() const { return handle_; }

 private:
  CK_RV status_;
  CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

// The key value inside wrapped data, by the backend's raw decryption with the unwrapping
// key (the backend also requires CKA_DECRYPT of it) on a helper session.
CK_RV unwrappedValue(CK_SESSION_HANDLE session, const OaepScheme &scheme, CK_OBJECT_HANDLE unwrappingKey,
                     CK_BYTE_PTR wrapped, CK_ULONG wrappedLen, Bytes *value) {
  CK_RV rv = startRaw(kRawDecrypt, session, unwrappingKey);
  if (rv != CKR_OK) return rv;
  CK_ULONG k = 0;
  rv = activeBlockLength(kRawDecrypt, session, &k);
  if (rv != CKR_OK) return rv;
  if (!fitsBlock(scheme, k) || wrappedLen != k) {
    abortRaw(kRawDecrypt, session, k);
    return fitsBlock(scheme, k) ? CKR_WRAPPED_KEY_LEN_RANGE : CKR_UNWRAPPING_KEY_SIZE_RANGE;
  }
  rv = decryptAndDecode(session, scheme, wrapped, k, value);
  return rv == CKR_ENCRYPTED_DATA_INVALID ? CKR_WRAPPED_KEY_INVALID : rv;
}

CK_RV unwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount,
                CK_OBJECT_HANDLE_PTR phKey) {
  OaepScheme scheme;
  if (!emulatedScheme(pMechanism, &scheme)) {
    return g_module.C_UnwrapKey(hSession, pMechanism, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen, pTemplate,
                                ulAttributeCount, phKey);
  }
  if (pWrappedKey == nullptr || phKey == nullptr || (pTemplate == nullptr && ulAttributeCount > 0)) {
    return CKR_ARGUMENTS_BAD;
  }
  std::optional<CK_ULONG> valueLen;
  CK_RV rv = checkUnwrapTemplate(pTemplate, ulAttributeCount, &valueLen);
  if (rv == CKR_OK) rv = checkRsaKey(hSession, hUnwrappingKey, kUnwrappingKey);
  if (rv != CKR_OK) return rv;
  Bytes value;
  {
    HelperSession helper(hSession);
    rv = helper.status();
    if (rv == CKR_OK) rv = unwrappedValue(helper.handle(), scheme, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen, &value);
  }
  if (rv == CKR_OK && valueLen && *valueLen != value.size()) rv = CKR_TEMPLATE_INCONSISTENT;
  if (rv == CKR_OK) {
    // The backend takes no CKA_VALUE_LEN when an object is created from its value.
    std::vector<CK_ATTRIBUTE> keyTemplate;
    for (CK_ULONG i = 0; i < ulAttributeCount; ++i) {
      if (pTemplate[i].type != CKA_VALUE_LEN) keyTemplate.push_back(pTemplate[i]);
    }
    keyTemplate.push_back({CKA_VALUE, value.data(), value.size()});
    rv = g_module.C_CreateObject(hSession, keyTemplate.data(), keyTemplate.size(), phKey);
  }
  wipe(&value);
  return rv;
}

// Ended sessions take their pending operations with them.
CK_RV finalize(CK_VOID_PTR pReserved) {
  const CK_RV rv = g_module.C_Finalize(pReserved);
  if (rv == CKR_OK) pending().clear();
  return rv;
}

CK_RV closeSession(CK_SESSION_HANDLE hSession) {
  const CK_RV rv = g_module.C_CloseSession(hSession);
  if (rv == CKR_OK) pending().eraseSession(hSession);
  return rv;
}

CK_RV closeAllSessions(CK_SLOT_ID slotID) {
  const CK_RV rv = g_module.C_CloseAllSessions(slotID);
  if (rv != CKR_OK) return rv;
  for (CK_SESSION_HANDLE session : pending().sessions()) {
    CK_SESSION_INFO info;
    if (g_module.C_GetSessionInfo(session, &info) != CKR_OK) pending().eraseSession(session);
  }
  return rv;
}

}  // namespace

CK_FUNCTION_LIST withOaepEmulation(const CK_FUNCTION_LIST &module) {
  g_module = module;
  CK_FUNCTION_LIST list = module;
  const bool usable = module.C_Finalize && module.C_CloseSession && module.C_CloseAllSessions &&
                      module.C_OpenSession && module.C_GetSessionInfo && module.C_GetAttributeValue && module.C_CreateObject &&
                      module.C_DestroyObject && module.C_EncryptInit && module.C_Encrypt && module.C_DecryptInit && module.C_Decrypt &&
                      module.C_WrapKey && module.C_UnwrapKey;
  if (!usable) return list;
  list.C_Finalize = finalize;
  list.C_CloseSession = closeSession;
  list.C_CloseAllSessions = closeAllSessions;
  list.C_EncryptInit = encryptInit;
  list.C_Encrypt = encrypt;
  list.C_DecryptInit = decryptInit;
  list.C_Decrypt = decrypt;
  list.C_WrapKey = wrapKey;
  list.C_UnwrapKey = unwrapKey;
  return list;
}

}  // namespace zorvel::core
