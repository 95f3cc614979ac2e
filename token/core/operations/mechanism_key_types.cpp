#include "operations/mechanism_key_types.h"

#include "conventions/template_translation.h"
#include "support/pkcs11_3_0.h"

#include <algorithm>
#include <cstddef>

namespace zorvel::core {
namespace {

template <typename T>
struct List {
  template <std::size_t N>
  constexpr List(const T (&items)[N]) : items(items), count(N) {}
  const T *begin() const { return items; }
  const T *end() const { return items + count; }
  bool holds(T value) const { return std::find(begin(), end(), value) != end(); }

  const T *items;
  std::size_t count;
};

// Mechanisms that work with the same key types.
struct KeyFamily {
  List<CK_MECHANISM_TYPE> mechanisms;
  List<CK_KEY_TYPE> keyTypes;
};

constexpr CK_MECHANISM_TYPE kRsaMechanisms[] = {
    CKM_RSA_PKCS,           CKM_RSA_X_509,           CKM_RSA_PKCS_OAEP,       CKM_RSA_PKCS_PSS,
    CKM_MD5_RSA_PKCS,       CKM_SHA1_RSA_PKCS,       CKM_SHA224_RSA_PKCS,     CKM_SHA256_RSA_PKCS,
    CKM_SHA384_RSA_PKCS,    CKM_SHA512_RSA_PKCS,     CKM_SHA1_RSA_PKCS_PSS,   CKM_SHA224_RSA_PKCS_PSS,
    CKM_SHA256_RSA_PKCS_PSS, CKM_SHA384_RSA_PKCS_PSS, CKM_SHA512_RSA_PKCS_PSS,
};
constexpr CK_MECHANISM_TYPE kDsaMechanisms[] = {CKM_DSA,           CKM_DSA_SHA1,      CKM_DSA_SHA224,
                                                CKM_DSA_SHA256,    CKM_DSA_SHA384,    CKM_DSA_SHA512};
constexpr CK_MECHANISM_TYPE kEcdsaMechanisms[] = {CKM_ECDSA,        CKM_ECDSA_SHA1,   CKM_ECDSA_SHA224,
                                                  CKM_ECDSA_SHA256, CKM_ECDSA_SHA384, CKM_ECDSA_SHA512};
constexpr CK_MECHANISM_TYPE kEddsaMechanisms[] = {kEddsa};
constexpr CK_MECHANISM_TYPE kEcdhMechanisms[] = {CKM_ECDH1_DERIVE};
constexpr CK_MECHANISM_TYPE kDhMechanisms[] = {CKM_DH_PKCS_DERIVE};
constexpr CK_MECHANISM_TYPE kAesMechanisms[] = {
    CKM_AES_ECB,         CKM_AES_CBC,          CKM_AES_CBC_PAD,      CKM_AES_CTR,
    CKM_AES_GCM,         CKM_AES_CMAC,         CKM_AES_MAC,          CKM_AES_GMAC,
    CKM_AES_KEY_WRAP,    CKM_AES_KEY_WRAP_PAD, CKM_AES_ECB_ENCRYPT_DATA, CKM_AES_CBC_ENCRYPT_DATA,
};
constexpr CK_MECHANISM_TYPE kDesMechanisms[] = {CKM_DES_ECB, CKM_DES_CBC, CKM_DES_CBC_PAD, CKM_DES_ECB_ENCRYPT_DATA,
                                                CKM_DES_CBC_ENCRYPT_DATA};
constexpr CK_MECHANISM_TYPE kDes3Mechanisms[] = {CKM_DES3_ECB,  CKM_DES3_CBC,             CKM_DES3_CBC_PAD,
                                                 CKM_DES3_CMAC, CKM_DES3_ECB_ENCRYPT_DATA, CKM_DES3_CBC_ENCRYPT_DATA};
constexpr CK_MECHANISM_TYPE kCamelliaMechanisms[] = {CKM_CAMELLIA_ECB, CKM_CAMELLIA_CBC, CKM_CAMELLIA_MAC,
                                                     CKM_CAMELLIA_CBC_PAD};
constexpr CK_MECHANISM_TYPE kMd5Hmac[] = {CKM_MD5_HMAC};
constexpr CK_MECHANISM_TYPE kSha1Hmac[] = {CKM_SHA_1_HMAC};
constexpr CK_MECHANISM_TYPE kSha224Hmac[] = {CKM_SHA224_HMAC};
constexpr CK_MECHANISM_TYPE kSha256Hmac[] = {CKM_SHA256_HMAC};
constexpr CK_MECHANISM_TYPE kSha384Hmac[] = {CKM_SHA384_HMAC};
constexpr CK_MECHANISM_TYPE kSha512Hmac[] = {CKM_SHA512_HMAC};

constexpr CK_KEY_TYPE kRsa[] = {CKK_RSA};
constexpr CK_KEY_TYPE kDsa[] = {CKK_DSA};
constexpr CK_KEY_TYPE kEc[] = {CKK_EC};
constexpr CK_KEY_TYPE kEdwards[] = {kEdwardsKey};
// The module derives X25519 and X448 secrets from Edwards-curve keys of those curves.
constexpr CK_KEY_TYPE kEcOrEdwards[] = {CKK_EC, kEdwardsKey};
constexpr CK_KEY_TYPE kDh[] = {CKK_DH};
constexpr CK_KEY_TYPE kAes[] = {CKK_AES};
constexpr CK_KEY_TYPE kDes[] = {CKK_DES};
constexpr CK_KEY_TYPE kDes2OrDes3[] = {CKK_DES2, CKK_DES3};
constexpr CK_KEY_TYPE kCamellia[] = {CKK_CAMELLIA};
// An HMAC takes a generic secret or a key of its own hash's type (as the module checks).
constexpr CK_KEY_TYPE kMd5HmacKeys[] = {CKK_GENERIC_SECRET, CKK_MD5_HMAC};
constexpr CK_KEY_TYPE kSha1HmacKeys[] = {CKK_GENERIC_SECRET, CKK_SHA_1_HMAC};
constexpr CK_KEY_TYPE kSha224HmacKeys[] = {CKK_GENERIC_SECRET, CKK_SHA224_HMAC};
constexpr CK_KEY_TYPE kSha256HmacKeys[] = {CKK_GENERIC_SECRET, CKK_SHA256_HMAC};
constexpr CK_KEY_TYPE kSha384HmacKeys[] = {CKK_GENERIC_SECRET, CKK_SHA384_HMAC};
constexpr CK_KEY_TYPE kSha512HmacKeys[] = {CKK_GENERIC_SECRET, CKK_SHA512_HMAC};

constexpr KeyFamily kKeyFamilies[] = {
    {kRsaMechanisms, kRsa},           {kDsaMechanisms, kDsa},
    {kEcdsaMechanisms, kEc},          {kEddsaMechanisms, kEdwards},
    {kEcdhMechanisms, kEcOrEdwards},  {kDhMechanisms, kDh},
    {kAesMechanisms, kAes},           {kDesMechanisms, kDes},
    {kDes3Mechanisms, kDes2OrDes3},   {kCamelliaMechanisms, kCamellia},
    {kMd5Hmac, kMd5HmacKeys},         {kSha1Hmac, kSha1HmacKeys},
    {kSha224Hmac, kSha224HmacKeys},   {kSha256Hmac, kSha256HmacKeys},
    {kSha384Hmac, kSha384HmacKeys},   {kSha512Hmac, kSha512HmacKeys},
};

const KeyFamily *familyOf(CK_MECHANISM_TYPE mechanism) {
  for (const KeyFamily &family : kKeyFamilies) {
    if (family.mechanisms.holds(mechanism)) return &family;
  }
  return nullptr;
}

CK_RV answerFor(Family family) {
  switch (family) {
    case Family::Wrap: return CKR_WRAPPING_KEY_TYPE_INCONSISTENT;
    case Family::Unwrap: return CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT;
    default: return CKR_KEY_TYPE_INCONSISTENT;
  }
}

}  // namespace

CK_RV keyTypeRefusal(const OperationRequest &request) {
  if (request.family == Family::Digest || request.family == Family::Generate) return CKR_OK;
  const KeyFamily *family = familyOf(request.mechanism->mechanism);
  if (family == nullptr || request.module.C_GetAttributeValue == nullptr) return CKR_OK;
  CK_KEY_TYPE keyType = CKK_VENDOR_DEFINED;
  CK_ATTRIBUTE attribute = {CKA_KEY_TYPE, &keyType, sizeof keyType};
  if (readAsTheCallerSees(request.module, request.session, request.key, &attribute, 1) != CKR_OK) return CKR_OK;
  return family->keyTypes.holds(keyType) ? CKR_OK : answerFor(request.family);
}

}  // namespace zorvel::core
