#include "emulations/oaep_key_wrapping.h"

#include "building_blocks/oaep_encoding.h"
#include "building_blocks/oaep_raw_rsa.h"
#include "building_blocks/rsa_modulus.h"
#include "building_blocks/secret_key_value.h"
#include "building_blocks/wrapping_keys.h"

#include <cstring>
#include <vector>

namespace zorvel::core {
namespace {

const KeyRole kWrappingKey = {CKO_PUBLIC_KEY, CKK_RSA, CKA_WRAP, CKR_WRAPPING_KEY_HANDLE_INVALID,
                              CKR_WRAPPING_KEY_TYPE_INCONSISTENT};
const KeyRole kUnwrappingKey = {CKO_PRIVATE_KEY, CKK_RSA, CKA_UNWRAP, CKR_UNWRAPPING_KEY_HANDLE_INVALID,
                                CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT};

// The value of a secret key that may leave the token under the wrapping key.
CK_RV wrappableValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKey,
                     CK_OBJECT_HANDLE key, Bytes *value) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_ATTRIBUTE attribute = {CKA_CLASS, &keyClass, sizeof keyClass};
  CK_RV rv = module.C_GetAttributeValue(session, key, &attribute, 1);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv != CKR_OK) return rv;
  if (keyClass != CKO_SECRET_KEY) return CKR_KEY_NOT_WRAPPABLE;
  rv = checkExtractableUnder(module, session, wrappingKey, key);
  if (rv != CKR_OK) return rv;
  rv = extractableKeyValue(module, session, key, value);
  // What the stand-in cannot read, it cannot wrap.
  return rv == CKR_ATTRIBUTE_SENSITIVE ? CKR_KEY_NOT_WRAPPABLE : rv;
}

// The unwrapped key is a secret key: the template must say so, and must leave its value
// to the wrapped data. (A CKA_VALUE_LEN is checked on the new key by the unwrap entry,
// unwrap_template.h.)
CK_RV checkUnwrapTemplate(AttributeList keyTemplate) {
  bool classGiven = false;
  for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
    const CK_ATTRIBUTE &attribute = keyTemplate.attributes[i];
    if (attribute.type == CKA_CLASS) {
      CK_OBJECT_CLASS keyClass;
      if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof keyClass) return CKR_ATTRIBUTE_VALUE_INVALID;
      std::memcpy(&keyClass, attribute.pValue, sizeof keyClass);
      if (keyClass != CKO_SECRET_KEY) return CKR_TEMPLATE_INCONSISTENT;
      classGiven = true;
    } else if (attribute.type == CKA_VALUE) {
      return CKR_TEMPLATE_INCONSISTENT;
    }
  }
  return classGiven ? CKR_OK : CKR_TEMPLATE_INCOMPLETE;
}

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
  CK_RV rv = checkKeyRole(module, session, wrappingKey, kWrappingKey);
  if (rv != CKR_OK) return rv;
  const Bytes modulus = modulusValue(module, session, wrappingKey);
  Bytes exponent;
  rv = readAttributeBytes(module, session, wrappingKey, CKA_PUBLIC_EXPONENT, &exponent);
  if (rv != CKR_OK) return rv;
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
  CK_RV rv = checkUnwrapTemplate(keyTemplate);
  if (rv == CKR_OK) rv = checkKeyRole(module, request.session, request.key, kUnwrappingKey);
  if (rv != CKR_OK) return rv;
  Bytes value;
  {
    HelperSession helper(module, request.session);
    rv = helper.status();
    if (rv == CKR_OK) rv = unwrappedValue(module, helper.handle(), scheme, request.key, wrapped, &value);
  }
  if (rv == CKR_OK) {
    std::vector<CK_ATTRIBUTE> objectTemplate(keyTemplate.attributes, keyTemplate.attributes + keyTemplate.count);
    objectTemplate.push_back({CKA_VALUE, value.data(), value.size()});
    rv = module.C_CreateObject(request.session, objectTemplate.data(), objectTemplate.size(), key);
  }
  wipe(&value);
  return rv;
}

}  // namespace zorvel::core
