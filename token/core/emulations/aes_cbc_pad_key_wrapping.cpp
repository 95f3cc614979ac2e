#include "emulations/aes_cbc_pad_key_wrapping.h"

#include "building_blocks/rsa_private_key_info.h"
#include "building_blocks/secret_key_value.h"
#include "building_blocks/wrapping_keys.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zorvel::core {
namespace {

using Bytes = std::vector<CK_BYTE>;

constexpr CK_ULONG kAesBlock = 16;

// Bytes of key material, wiped when they go.
struct SecretBytes {
  SecretBytes() = default;
  SecretBytes(const SecretBytes &) = delete;
  SecretBytes &operator=(const SecretBytes &) = delete;
  ~SecretBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
  Bytes bytes;
};

bool hasIv(const CK_MECHANISM &mechanism) {
  return mechanism.pParameter != nullptr && mechanism.ulParameterLen == kAesBlock;
}

const KeyRole kWrappingKey = {CKO_SECRET_KEY, CKK_AES, CKA_WRAP, CKR_WRAPPING_KEY_HANDLE_INVALID,
                              CKR_WRAPPING_KEY_TYPE_INCONSISTENT};
const KeyRole kUnwrappingKey = {CKO_SECRET_KEY, CKK_AES, CKA_UNWRAP, CKR_UNWRAPPING_KEY_HANDLE_INVALID,
                                CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT};

bool isRsaPrivateKey(const OperationRequest &request, CK_OBJECT_HANDLE key) {
  CK_OBJECT_CLASS keyClass = 0;
  CK_KEY_TYPE keyType = 0;
  CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType}};
  return request.module.C_GetAttributeValue(request.session, key, attributes, 2) == CKR_OK &&
         keyClass == CKO_PRIVATE_KEY && keyType == CKK_RSA;
}

CK_RV readComponents(const OperationRequest &request, CK_OBJECT_HANDLE key, RsaPrivateComponents *components) {
  for (std::size_t i = 0; i < kRsaPrivateComponentTypes.size(); ++i) {
    CK_ATTRIBUTE attribute = {kRsaPrivateComponentTypes[i], nullptr, 0};
    CK_RV rv = request.module.C_GetAttributeValue(request.session, key, &attribute, 1);
    if (rv == CKR_OK && attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) rv = CKR_ATTRIBUTE_SENSITIVE;
    if (rv != CKR_OK) return rv;
    Bytes &value = components->values[i];
    value.assign(attribute.ulValueLen, 0);
    attribute.pValue = value.data();
    rv = request.module.C_GetAttributeValue(request.session, key, &attribute, 1);
    if (rv != CKR_OK) return rv;
  }
  return CKR_OK;
}

// The key's PrivateKeyInfo, encoded from its components; the components of a sensitive
// key stay hidden, and its PrivateKeyInfo is the one the module wraps, without the zero
// bytes the module adds up to a multiple of 8 (measured: SoftHSM2).
CK_RV privateKeyInfo(const OperationRequest &request, CK_OBJECT_HANDLE key, SecretBytes *info) {
  RsaPrivateComponents components;
  CK_RV rv = readComponents(request, key, &components);
  if (rv == CKR_ATTRIBUTE_SENSITIVE) {
    rv = keyBytesByTransientKey(request.module, request.session, key, &info->bytes);
    Bytes &bytes = info->bytes;
    const std::size_t length = rv == CKR_OK ? leadingPrivateKeyInfoLength(bytes.data(), bytes.size()) : 0;
    if (length == 0) return CKR_KEY_NOT_WRAPPABLE;
    OPENSSL_cleanse(bytes.data() + length, bytes.size() - length);
    bytes.resize(length);
    return CKR_OK;
  }
  if (rv == CKR_OK && !encodePrivateKeyInfo(components, &info->bytes)) rv = CKR_GENERAL_ERROR;
  return rv;
}

// The module's CKM_AES_CBC_PAD with the request's key over the whole input; *started
// tells whether the module took the key, so that a later error is one of the input.
CK_RV runCipher(const OperationRequest &request, bool encrypt, const CK_BYTE *input, CK_ULONG length, Bytes *output,
                bool *started) {
  const CK_FUNCTION_LIST &module = request.module;
  const auto init = encrypt ? module.C_EncryptInit : module.C_DecryptInit;
  const auto run = encrypt ? module.C_Encrypt : module.C_Decrypt;
  HelperSession own(module, request.session);
  CK_RV rv = own.status();
  if (rv == CKR_OK) rv = init(own.handle(), request.mechanism, request.key);
  *started = rv == CKR_OK;
  Bytes in(input, input + length);  // the module's functions take no const input
  CK_ULONG outputLength = 0;
  if (rv == CKR_OK) rv = run(own.handle(), in.data(), length, nullptr, &outputLength);
  if (rv == CKR_OK) {
    output->assign(outputLength, 0);
    rv = run(own.handle(), in.data(), length, output->data(), &outputLength);
    output->resize(std::min<CK_ULONG>(outputLength, output->size()));
  }
  OPENSSL_cleanse(in.data(), in.size());
  return rv;
}

// The template's CKA_CLASS and CKA_KEY_TYPE.
struct TemplateKind {
  bool rsaPrivateKey = false;
  bool keyTypeGiven = false;
};

TemplateKind kindOf(AttributeList keyTemplate) {
  TemplateKind kind;
  bool privateClass = false;
  bool rsaType = true;
  for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
    const CK_ATTRIBUTE &attribute = keyTemplate.attributes[i];
    CK_ULONG value = 0;
    if (attribute.type != CKA_CLASS && attribute.type != CKA_KEY_TYPE) continue;
    if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof value) return {};
    std::memcpy(&value, attribute.pValue, sizeof value);  // need not be aligned
    if (attribute.type == CKA_CLASS) privateClass = value == CKO_PRIVATE_KEY;
    if (attribute.type == CKA_KEY_TYPE) {
      rsaType = value == CKK_RSA;
      kind.keyTypeGiven = true;
    }
  }
  kind.rsaPrivateKey = privateClass && rsaType;
  return kind;
}

// The components come from the wrapped data alone.
bool statesComponents(AttributeList keyTemplate) {
  for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
    const auto &types = kRsaPrivateComponentTypes;
    if (std::find(types.begin(), types.end(), keyTemplate.attributes[i].type) != types.end()) return true;
  }
  return false;
}

CK_RV unwrappedKeyInfo(const OperationRequest &request, Input wrapped, SecretBytes *info) {
  if (wrapped.length == 0 || wrapped.length % kAesBlock != 0) return CKR_WRAPPED_KEY_LEN_RANGE;
  bool started = false;
  const CK_RV rv = runCipher(request, /*encrypt=*/false, wrapped.data, wrapped.length, &info->bytes, &started);
  if (!started || rv == CKR_OK) return rv;
  // The module answers bad padding with CKR_GENERAL_ERROR (measured: SoftHSM2).
  if (rv == CKR_ENCRYPTED_DATA_LEN_RANGE) return CKR_WRAPPED_KEY_LEN_RANGE;
  if (rv == CKR_ENCRYPTED_DATA_INVALID || rv == CKR_GENERAL_ERROR) return CKR_WRAPPED_KEY_INVALID;
  return rv;
}

}  // namespace

bool claimsAesCbcPadKeyWrapping(const OperationRequest &request) {
  return request.mechanism->mechanism == CKM_AES_CBC_PAD;
}

CK_RV wrapWithAesCbcPad(const OperationRequest &request, CK_OBJECT_HANDLE key, Output wrapped) {
  if (!isRsaPrivateKey(request, key)) {
    return request.module.C_WrapKey(request.session, request.mechanism, request.key, key, wrapped.data,
                                    wrapped.length);
  }
  if (wrapped.length == nullptr) return CKR_ARGUMENTS_BAD;
  if (!hasIv(*request.mechanism)) return CKR_MECHANISM_PARAM_INVALID;
  CK_RV rv = checkKeyRole(request.module, request.session, request.key, kWrappingKey);
  if (rv == CKR_OK) rv = checkExtractableUnder(request.module, request.session, request.key, key);
  if (rv != CKR_OK) return rv;
  SecretBytes info;
  rv = privateKeyInfo(request, key, &info);
  if (rv != CKR_OK) return rv;
  // PKCS#7 padding adds 1 to 16 bytes.
  const CK_ULONG length = (info.bytes.size() / kAesBlock + 1) * kAesBlock;
  if (answersWithLength(length, wrapped, &rv)) return rv;
  Bytes encrypted;
  bool started = false;
  rv = runCipher(request, /*encrypt=*/true, info.bytes.data(), info.bytes.size(), &encrypted, &started);
  return rv == CKR_OK ? deliver(encrypted.data(), encrypted.size(), wrapped) : rv;
}

CK_RV unwrapWithAesCbcPad(const OperationRequest &request, Input wrapped, AttributeList keyTemplate,
                          CK_OBJECT_HANDLE_PTR key) {
  const TemplateKind kind = keyTemplate.attributes != nullptr ? kindOf(keyTemplate) : TemplateKind{};
  if (!kind.rsaPrivateKey) {
    return request.module.C_UnwrapKey(request.session, request.mechanism, request.key, wrapped.data, wrapped.length,
                                      keyTemplate.attributes, keyTemplate.count, key);
  }
  if (wrapped.data == nullptr || key == nullptr) return CKR_ARGUMENTS_BAD;
  if (!hasIv(*request.mechanism)) return CKR_MECHANISM_PARAM_INVALID;
  if (statesComponents(keyTemplate)) return CKR_TEMPLATE_INCONSISTENT;
  CK_RV rv = checkKeyRole(request.module, request.session, request.key, kUnwrappingKey);
  SecretBytes info;
  if (rv == CKR_OK) rv = unwrappedKeyInfo(request, wrapped, &info);
  RsaPrivateComponents components;
  if (rv == CKR_OK && !decodePrivateKeyInfo(info.bytes.data(), info.bytes.size(), &components)) {
    rv = CKR_WRAPPED_KEY_INVALID;
  }
  if (rv != CKR_OK) return rv;
  std::vector<CK_ATTRIBUTE> objectTemplate(keyTemplate.attributes, keyTemplate.attributes + keyTemplate.count);
  CK_KEY_TYPE rsa = CKK_RSA;
  if (!kind.keyTypeGiven) objectTemplate.push_back({CKA_KEY_TYPE, &rsa, sizeof rsa});
  for (std::size_t i = 0; i < kRsaPrivateComponentTypes.size(); ++i) {
    Bytes &value = components.values[i];
    objectTemplate.push_back({kRsaPrivateComponentTypes[i], value.data(), value.size()});
  }
  return request.module.C_CreateObject(request.session, objectTemplate.data(), objectTemplate.size(), key);
}

}  // namespace zorvel::core
