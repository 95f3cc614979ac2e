#include "oaep_key_wrapping.h"

#include "oaep_encoding.h"
#include "oaep_raw_rsa.h"
#include "secret_key_value.h"

#include <cstring>
#include <optional>
#include <vector>

namespace zorvel::core {
namespace {

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

CK_RV checkRsaKey(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                  const KeyRole &role) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_KEY_TYPE keyType = 0;
  CK_BBOOL permitted = CK_FALSE;
  CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                               {CKA_KEY_TYPE, &keyType, sizeof keyType},
                               {role.usage, &permitted, sizeof permitted}};
  const CK_RV rv = module.C_GetAttributeValue(session, key, attributes, 3);
  if (rv == CKR_OBJECT_HANDLE_INVALID || rv == CKR_KEY_HANDLE_INVALID) return role.handleInvalid;
  if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return role.typeInconsistent;  // not a key
  if (rv != CKR_OK) return rv;
  if (keyClass != role.keyClass || keyType != CKK_RSA) return role.typeInconsistent;
  return permitted ? CKR_OK : CKR_KEY_FUNCTION_NOT_PERMITTED;
}

// The value of a secret key that may leave the token under the wrapping key.
CK_RV wrappableValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKey,
                     CK_OBJECT_HANDLE key, Bytes *value) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_BBOOL extractable = CK_FALSE;
  CK_BBOOL withTrusted = CK_FALSE;
  CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                               {CKA_EXTRACTABLE, &extractable, sizeof extractable},
                               {CKA_WRAP_WITH_TRUSTED, &withTrusted, sizeof withTrusted}};
  CK_RV rv = module.C_GetAttributeValue(session, key, attributes, 3);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return CKR_KEY_NOT_WRAPPABLE;  // not a key
  if (rv != CKR_OK) return rv;
  if (keyClass != CKO_SECRET_KEY) return CKR_KEY_NOT_WRAPPABLE;
  if (!extractable) return CKR_KEY_UNEXTRACTABLE;
  if (withTrusted) {
    CK_BBOOL trusted = CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_TRUSTED, &trusted, sizeof trusted};
    if (module.C_GetAttributeValue(session, wrappingKey, &attribute, 1) != CKR_OK || !trusted) {
      return CKR_KEY_NOT_WRAPPABLE;
    }
  }
  rv = extractableKeyValue(module, session, key, value);
  // What the stand-in cannot read, it cannot wrap.
  return rv == CKR_ATTRIBUTE_SENSITIVE ? CKR_KEY_NOT_WRAPPABLE : rv;
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
  HelperSession(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE caller) : module_(module) {
    CK_SESSION_INFO info;
    status_ = module.C_GetSessionInfo(caller, &info);
    if (status_ == CKR_OK) status_ = module.C_OpenSession(info.slotID, CKF_SERIAL_SESSION, nullptr, nullptr, &handle_);
  }
  ~HelperSession() {
    if (status_ == CKR_OK) module_.C_CloseSession(handle_);
  }
  HelperSession(const HelperSession &) = delete;
  HelperSession &operator=(const HelperSession &) = delete;
  CK_RV status() const { return status_; }
  CK_SESSION_HANDLE handle() const { return handle_; }

 private:
  const CK_FUNCTION_LIST &module_;
  CK_RV status_;
  CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

// The key value inside wrapped data, by the backend's raw decryption with the unwrapping
// key (the backend also requires CKA_DECRYPT of it) on a helper session.
CK_RV unwrappedValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, const OaepScheme &scheme,
                     CK_OBJECT_HANDLE unwrappingKey, Input wrapped, Bytes *value) {
  CK_RV rv = startRaw(module, kRawDecrypt, session, unwrappingKey);
  if (rv != CKR_OK) return rv;
  CK_ULONG k = 0;
  rv = activeBlockLength(module, kRawDecrypt, session, &k);
  if (rv != CKR_OK) return rv;
  if (!fitsBlock(scheme, k) || wrapped.length != k) {
    abortRaw(module, kRawDecrypt, session, k);
    return fitsBlock(scheme, k) ? CKR_WRAPPED_KEY_LEN_RANGE : CKR_UNWRAPPING_KEY_SIZE_RANGE;
  }
  rv = decryptAndDecode(module, session, scheme, wrapped.data, k, value);
  return rv == CKR_ENCRYPTED_DATA_INVALID ? CKR_WRAPPED_KEY_INVALID : rv;
}

}  // namespace

CK_RV wrapKeyWithOaep(const OperationRequest &request, CK_OBJECT_HANDLE key, Output wrapped) {
  OaepScheme scheme;
  if (!emulatedScheme(request.mechanism, &scheme)) return CKR_MECHANISM_PARAM_INVALID;
  if (wrapped.length == nullptr) return CKR_ARGUMENTS_BAD;
  const CK_FUNCTION_LIST &module = request.module;
  const CK_SESSION_HANDLE session = request.session;
  const CK_OBJECT_HANDLE wrappingKey = request.key;
  CK_RV rv = checkRsaKey(module, session, wrappingKey, kWrappingKey);
  if (rv != CKR_OK) return rv;
  Bytes modulus;
  Bytes exponent;
  rv = readAttributeBytes(module, session, wrappingKey, CKA_MODULUS, &modulus);
  if (rv == CKR_OK) rv = readAttributeBytes(module, session, wrappingKey, CKA_PUBLIC_EXPONENT, &exponent);
  if (rv != CKR_OK) return rv;
  while (!modulus.empty() && modulus.front() == 0) modulus.erase(modulus.begin());
  const CK_ULONG k = modulus.size();
  if (!fitsBlock(scheme, k)) return CKR_WRAPPING_KEY_SIZE_RANGE;
  Bytes value;
  rv = wrappableValue(module, session, wrappingKey, key, &value);
  if (rv == CKR_OK && value.size() > maxMessageLength(scheme, k)) rv = CKR_KEY_SIZE_RANGE;
  if (rv == CKR_OK && !answersWithLength(k, wrapped, &rv)) {
    Bytes block(k);
    const bool done = oaepEncode(scheme, value.data(), value.size(), block.data(), k) &&
                      rsaPublicRaw(modulus, exponent, block.data(), wrapped.data);
    wipe(&block);
    rv = done ? CKR_OK : CKR_GENERAL_ERROR;
    if (done) *wrapped.length = k;
  }
  wipe(&value);
  return rv;
}

CK_RV unwrapKeyWithOaep(const OperationRequest &request, Input wrapped, AttributeList keyTemplate,
                        CK_OBJECT_HANDLE_PTR key) {
  OaepScheme scheme;
  if (!emulatedScheme(request.mechanism, &scheme)) return CKR_MECHANISM_PARAM_INVALID;
  if (wrapped.data == nullptr || key == nullptr || (keyTemplate.attributes == nullptr && keyTemplate.count > 0)) {
    return CKR_ARGUMENTS_BAD;
  }
  const CK_FUNCTION_LIST &module = request.module;
  std::optional<CK_ULONG> valueLen;
  CK_RV rv = checkUnwrapTemplate(keyTemplate.attributes, keyTemplate.count, &valueLen);
  if (rv == CKR_OK) rv = checkRsaKey(module, request.session, request.key, kUnwrappingKey);
  if (rv != CKR_OK) return rv;
  Bytes value;
  {
    HelperSession helper(module, request.session);
    rv = helper.status();
    if (rv == CKR_OK) rv = unwrappedValue(module, helper.handle(), scheme, request.key, wrapped, &value);
  }
  if (rv == CKR_OK && valueLen && *valueLen != value.size()) rv = CKR_TEMPLATE_INCONSISTENT;
  if (rv == CKR_OK) {
    // The backend takes no CKA_VALUE_LEN when an object is created from its value.
    std::vector<CK_ATTRIBUTE> objectTemplate;
    for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
      if (keyTemplate.attributes[i].type != CKA_VALUE_LEN) objectTemplate.push_back(keyTemplate.attributes[i]);
    }
    objectTemplate.push_back({CKA_VALUE, value.data(), value.size()});
    rv = module.C_CreateObject(request.session, objectTemplate.data(), objectTemplate.size(), key);
  }
  wipe(&value);
  return rv;
}

}  // namespace zorvel::core
