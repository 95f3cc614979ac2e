#include "emulations/ecdh_kdf.h"

#include "building_blocks/secret_bytes.h"
#include "building_blocks/secret_key_value.h"
#include "conventions/attribute_values.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace zorvel::core {
namespace {

const EVP_MD *kdfDigest(CK_EC_KDF_TYPE kdf) {
  switch (kdf) {
    case CKD_SHA1_KDF: return EVP_sha1();
    case CKD_SHA224_KDF: return EVP_sha224();
    case CKD_SHA256_KDF: return EVP_sha256();
    case CKD_SHA384_KDF: return EVP_sha384();
    case CKD_SHA512_KDF: return EVP_sha512();
    default: return nullptr;
  }
}

const CK_ECDH1_DERIVE_PARAMS *ecdhParameters(const CK_MECHANISM &mechanism) {
  if (mechanism.mechanism != CKM_ECDH1_DERIVE || mechanism.pParameter == nullptr ||
      mechanism.ulParameterLen != sizeof(CK_ECDH1_DERIVE_PARAMS)) {
    return nullptr;
  }
  return static_cast<const CK_ECDH1_DERIVE_PARAMS *>(mechanism.pParameter);
}

// The fixed length of a DES key type; 0 for any other type.
CK_ULONG desKeyLength(CK_KEY_TYPE type) {
  switch (type) {
    case CKK_DES: return 8;
    case CKK_DES2: return 16;
    case CKK_DES3: return 24;
    default: return 0;
  }
}

// The longest generic secret the module makes, in bytes (SoftHSM2 gives the range of
// CKM_GENERIC_SECRET_KEY_GEN in bytes, as it gives its HMAC keys'); 0 when it cannot tell.
CK_ULONG longestSecret(const OperationRequest &request) {
  const CK_FUNCTION_LIST &module = request.module;
  CK_SESSION_INFO session{};
  CK_MECHANISM_INFO info{};
  if (module.C_GetSessionInfo == nullptr || module.C_GetMechanismInfo == nullptr ||
      module.C_GetSessionInfo(request.session, &session) != CKR_OK ||
      module.C_GetMechanismInfo(session.slotID, CKM_GENERIC_SECRET_KEY_GEN, &info) != CKR_OK) {
    return 0;
  }
  return info.ulMaxKeySize;
}

// The new key's length in bytes, by the rules the module applies to its own ECDH
// derivation (measured: SoftHSM2 with CKD_NULL refuses an AES length other than 16, 24
// or 32 bytes and a DES length other than the type's with CKR_ATTRIBUTE_VALUE_INVALID):
// a DES key type has its fixed length, an AES key 16, 24 or 32 bytes, any other key the
// template's CKA_VALUE_LEN up to the longest generic secret the module makes, checked
// before anything is derived or allocated.
CK_RV keyLength(const OperationRequest &request, AttributeList keyTemplate, CK_KEY_TYPE type, CK_ULONG *length) {
  CK_ULONG given = 0;
  const bool hasLength = ulongAttribute(keyTemplate, CKA_VALUE_LEN, &given);
  const CK_ULONG fixed = desKeyLength(type);
  if (fixed != 0) {
    if (hasLength && given != fixed) return CKR_ATTRIBUTE_VALUE_INVALID;
    *length = fixed;
    return CKR_OK;
  }
  if (!hasLength) return CKR_TEMPLATE_INCOMPLETE;
  if (given == 0 || (type == CKK_AES && given != 16 && given != 24 && given != 32)) return CKR_ATTRIBUTE_VALUE_INVALID;
  const CK_ULONG longest = longestSecret(request);
  if (longest != 0 && given > longest) return CKR_ATTRIBUTE_VALUE_INVALID;
  *length = given;
  return CKR_OK;
}

// Gives each byte of a DES key odd parity in its lowest bit, as a DES key must have.
void setDesParity(Bytes *key) {
  for (CK_BYTE &byte : *key) {
    CK_BYTE ones = 0;
    for (int bit = 1; bit < 8; ++bit) ones ^= static_cast<CK_BYTE>((byte >> bit) & 1);
    byte = static_cast<CK_BYTE>((byte & 0xFE) | (ones ^ 1));
  }
}

// Destroys the temporary key when it goes out of scope.
class TemporaryKey {
 public:
  TemporaryKey(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session) : module_(module), session_(session) {}
  ~TemporaryKey() {
    if (handle != CK_INVALID_HANDLE && module_.C_DestroyObject != nullptr) module_.C_DestroyObject(session_, handle);
  }
  TemporaryKey(const TemporaryKey &) = delete;
  TemporaryKey &operator=(const TemporaryKey &) = delete;
  CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;

 private:
  const CK_FUNCTION_LIST &module_;
  CK_SESSION_HANDLE session_;
};

// The shared secret Z, by the module's ECDH without a KDF.
CK_RV sharedSecret(const OperationRequest &request, const CK_ECDH1_DERIVE_PARAMS &caller, Bytes *z) {
  const CK_FUNCTION_LIST &module = request.module;
  if (module.C_DeriveKey == nullptr || module.C_DestroyObject == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
  CK_ECDH1_DERIVE_PARAMS plain = {CKD_NULL, 0, nullptr, caller.ulPublicDataLen, caller.pPublicData};
  CK_MECHANISM mechanism = {CKM_ECDH1_DERIVE, &plain, sizeof plain};
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE genericSecret = CKK_GENERIC_SECRET;
  CK_BBOOL yes = CK_TRUE;
  CK_BBOOL no = CK_FALSE;
  CK_ATTRIBUTE temporary[] = {
      {CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &genericSecret, sizeof genericSecret},
      {CKA_TOKEN, &no, sizeof no},                   {CKA_PRIVATE, &yes, sizeof yes},
      {CKA_SENSITIVE, &no, sizeof no},               {CKA_EXTRACTABLE, &yes, sizeof yes},
  };
  TemporaryKey secret(module, request.session);
  const CK_RV rv = module.C_DeriveKey(request.session, &mechanism, request.key, temporary,
                                      sizeof temporary / sizeof temporary[0], &secret.handle);
  if (rv != CKR_OK) return rv;
  return readAttributeBytes(module, request.session, secret.handle, CKA_VALUE, z);
}

}  // namespace

bool x963Kdf(CK_EC_KDF_TYPE kdf, const std::vector<CK_BYTE> &z, const CK_BYTE *sharedInfo,
             std::size_t sharedInfoLength, std::size_t length, std::vector<CK_BYTE> *key) {
  const EVP_MD *digest = kdfDigest(kdf);
  if (digest == nullptr) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context) return false;
  wipe(key);
  key->clear();
  key->reserve(length);  // never moved, so no copy of the key is left behind
  CK_BYTE block[EVP_MAX_MD_SIZE];
  bool done = true;
  for (std::uint32_t counter = 1; done && key->size() < length; ++counter) {
    const CK_BYTE counterBytes[4] = {static_cast<CK_BYTE>(counter >> 24), static_cast<CK_BYTE>(counter >> 16),
                                     static_cast<CK_BYTE>(counter >> 8), static_cast<CK_BYTE>(counter)};
    unsigned int blockLength = 0;
    done = EVP_DigestInit_ex(context.get(), digest, nullptr) == 1 &&
           EVP_DigestUpdate(context.get(), z.data(), z.size()) == 1 &&
           EVP_DigestUpdate(context.get(), counterBytes, sizeof counterBytes) == 1 &&
           (sharedInfoLength == 0 || EVP_DigestUpdate(context.get(), sharedInfo, sharedInfoLength) == 1) &&
           EVP_DigestFinal_ex(context.get(), block, &blockLength) == 1;
    if (done) key->insert(key->end(), block, block + std::min<std::size_t>(blockLength, length - key->size()));
  }
  OPENSSL_cleanse(block, sizeof block);
  if (!done) wipe(key);
  return done;
}

bool claimsEcdhWithKdf(const OperationRequest &request) {
  const CK_ECDH1_DERIVE_PARAMS *parameters = ecdhParameters(*request.mechanism);
  return parameters != nullptr && kdfDigest(parameters->kdf) != nullptr;
}

CK_RV deriveEcdhWithKdf(const OperationRequest &request, AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key) {
  const CK_ECDH1_DERIVE_PARAMS &parameters = *ecdhParameters(*request.mechanism);
  if (key == nullptr || (keyTemplate.attributes == nullptr && keyTemplate.count > 0)) return CKR_ARGUMENTS_BAD;
  if (parameters.pSharedData == nullptr && parameters.ulSharedDataLen > 0) return CKR_MECHANISM_PARAM_INVALID;
  if (request.module.C_CreateObject == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
  CK_KEY_TYPE type = CKK_VENDOR_DEFINED;
  ulongAttribute(keyTemplate, CKA_KEY_TYPE, &type);
  CK_ULONG length = 0;
  CK_RV rv = keyLength(request, keyTemplate, type, &length);
  if (rv != CKR_OK) return rv;

  // Z and the derived value are wiped on every path.
  Bytes z;
  const WipedOnExit zWiped(z);
  rv = sharedSecret(request, parameters, &z);
  if (rv != CKR_OK) return rv;
  Bytes value;
  const WipedOnExit valueWiped(value);
  if (!x963Kdf(parameters.kdf, z, parameters.pSharedData, parameters.ulSharedDataLen, length, &value)) {
    return CKR_GENERAL_ERROR;
  }
  if (desKeyLength(type) != 0) setDesParity(&value);

  std::vector<CK_ATTRIBUTE> objectTemplate;
  for (CK_ULONG i = 0; i < keyTemplate.count; ++i) {
    if (keyTemplate.attributes[i].type != CKA_VALUE_LEN) objectTemplate.push_back(keyTemplate.attributes[i]);
  }
  objectTemplate.push_back({CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size())});
  return request.module.C_CreateObject(request.session, objectTemplate.data(),
                                       static_cast<CK_ULONG>(objectTemplate.size()), key);
}

}  // namespace zorvel::core
