#include "mechanism_catalogue.h"

#include "hex.h"
#include "key_catalogue.h"

namespace zorvel::robustness {
namespace {

#define NAMED(type) type, #type

constexpr CK_FLAGS kCipher = CKF_ENCRYPT | CKF_DECRYPT;
constexpr CK_FLAGS kSignature = CKF_SIGN | CKF_VERIFY;
constexpr CK_FLAGS kWrapping = CKF_WRAP | CKF_UNWRAP;
constexpr CK_FLAGS kEverything = kCipher | kSignature | kWrapping | CKF_DIGEST | CKF_DERIVE | CKF_GENERATE |
                                 CKF_GENERATE_KEY_PAIR;

using R = RecordShape;
using D = DataRule;

const std::vector<MechanismEntry> kCatalogue = {
    // Digests and HMAC
    {NAMED(CKM_MD5), CKF_DIGEST, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA_1), CKF_DIGEST, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA224), CKF_DIGEST, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA256), CKF_DIGEST, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA384), CKF_DIGEST, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA512), CKF_DIGEST, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_MD5_HMAC), kSignature, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA_1_HMAC), kSignature, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA224_HMAC), kSignature, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA256_HMAC), kSignature, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA384_HMAC), kSignature, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA512_HMAC), kSignature, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, true, 0, 0, true},
    // RSA
    {NAMED(CKM_RSA_PKCS_KEY_PAIR_GEN), CKF_GENERATE_KEY_PAIR, {CKK_RSA, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_RSA_PKCS), kCipher | kSignature | kWrapping, {CKK_RSA, kNoKey}, R::None, D::RsaPkcs, false, 0, 0, true},
    {NAMED(CKM_RSA_X_509), kCipher | kSignature, {CKK_RSA, kNoKey}, R::None, D::RsaRaw, false, 0, 0, true},
    {NAMED(CKM_RSA_PKCS_OAEP), kCipher | kWrapping, {CKK_RSA, kNoKey}, R::Oaep, D::RsaOaep, false, 0, 0, true},
    {NAMED(CKM_RSA_PKCS_PSS), kSignature, {CKK_RSA, kNoKey}, R::Pss, D::Digest, false, CKM_SHA256, 32, true},
    {NAMED(CKM_MD5_RSA_PKCS), kSignature, {CKK_RSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA1_RSA_PKCS), kSignature, {CKK_RSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA224_RSA_PKCS), kSignature, {CKK_RSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA256_RSA_PKCS), kSignature, {CKK_RSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA384_RSA_PKCS), kSignature, {CKK_RSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA512_RSA_PKCS), kSignature, {CKK_RSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_SHA1_RSA_PKCS_PSS), kSignature, {CKK_RSA, kNoKey}, R::Pss, D::Any, true, CKM_SHA_1, 0, true},
    {NAMED(CKM_SHA224_RSA_PKCS_PSS), kSignature, {CKK_RSA, kNoKey}, R::Pss, D::Any, true, CKM_SHA224, 0, true},
    {NAMED(CKM_SHA256_RSA_PKCS_PSS), kSignature, {CKK_RSA, kNoKey}, R::Pss, D::Any, true, CKM_SHA256, 0, true},
    {NAMED(CKM_SHA384_RSA_PKCS_PSS), kSignature, {CKK_RSA, kNoKey}, R::Pss, D::Any, true, CKM_SHA384, 0, true},
    {NAMED(CKM_SHA512_RSA_PKCS_PSS), kSignature, {CKK_RSA, kNoKey}, R::Pss, D::Any, true, CKM_SHA512, 0, true},
    // DSA and Diffie-Hellman
    {NAMED(CKM_DSA_PARAMETER_GEN), CKF_GENERATE, {kNoKey, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DSA_KEY_PAIR_GEN), CKF_GENERATE_KEY_PAIR, {CKK_DSA, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DSA), kSignature, {CKK_DSA, kNoKey}, R::None, D::Digest, false, 0, 20, true},
    {NAMED(CKM_DSA_SHA1), kSignature, {CKK_DSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_DSA_SHA224), kSignature, {CKK_DSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_DSA_SHA256), kSignature, {CKK_DSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_DSA_SHA384), kSignature, {CKK_DSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_DSA_SHA512), kSignature, {CKK_DSA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_DH_PKCS_PARAMETER_GEN), CKF_GENERATE, {kNoKey, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DH_PKCS_KEY_PAIR_GEN), CKF_GENERATE_KEY_PAIR, {CKK_DH, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DH_PKCS_DERIVE), CKF_DERIVE, {CKK_DH, kNoKey}, R::DhPublicValue, D::Any, false, 0, 0, true},
    // Elliptic curves
    {NAMED(CKM_EC_KEY_PAIR_GEN), CKF_GENERATE_KEY_PAIR, {CKK_EC, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_ECDSA), kSignature, {CKK_EC, kNoKey}, R::None, D::Digest, false, 0, 32, true},
    {NAMED(CKM_ECDSA_SHA1), kSignature, {CKK_EC, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_ECDSA_SHA224), kSignature, {CKK_EC, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_ECDSA_SHA256), kSignature, {CKK_EC, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_ECDSA_SHA384), kSignature, {CKK_EC, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_ECDSA_SHA512), kSignature, {CKK_EC, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_ECDH1_DERIVE), CKF_DERIVE, {CKK_EC, kNoKey}, R::Ecdh1, D::Any, false, 0, 0, true},
    {kMechanismEdwardsKeyPairGen, "CKM_EC_EDWARDS_KEY_PAIR_GEN", CKF_GENERATE_KEY_PAIR, {kKeyTypeEdwards, kNoKey},
     R::None, D::Any, false, 0, 0, true},
    {kMechanismEddsa, "CKM_EDDSA", kSignature, {kKeyTypeEdwards, kNoKey}, R::None, D::Any, false, 0, 0, true},
    // Generic secrets, DES
    {NAMED(CKM_GENERIC_SECRET_KEY_GEN), CKF_GENERATE, {CKK_GENERIC_SECRET, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DES_KEY_GEN), CKF_GENERATE, {CKK_DES, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DES2_KEY_GEN), CKF_GENERATE, {CKK_DES2, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DES3_KEY_GEN), CKF_GENERATE, {CKK_DES3, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_DES_ECB), kCipher, {CKK_DES, kNoKey}, R::None, D::Block8, true, 0, 0, true},
    {NAMED(CKM_DES_CBC), kCipher, {CKK_DES, kNoKey}, R::Iv8, D::Block8, true, 0, 0, true},
    {NAMED(CKM_DES_CBC_PAD), kCipher, {CKK_DES, kNoKey}, R::Iv8, D::Any, true, 0, 0, true},
    {NAMED(CKM_DES3_ECB), kCipher, {CKK_DES3, CKK_DES2}, R::None, D::Block8, true, 0, 0, true},
    {NAMED(CKM_DES3_CBC), kCipher, {CKK_DES3, CKK_DES2}, R::Iv8, D::Block8, true, 0, 0, true},
    {NAMED(CKM_DES3_CBC_PAD), kCipher, {CKK_DES3, CKK_DES2}, R::Iv8, D::Any, true, 0, 0, true},
    {NAMED(CKM_DES3_CMAC), kSignature, {CKK_DES3, CKK_DES2}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_DES_ECB_ENCRYPT_DATA), CKF_DERIVE, {CKK_DES, kNoKey}, R::KeyDerivationString, D::Block8, false, 0, 0, true},
    {NAMED(CKM_DES_CBC_ENCRYPT_DATA), CKF_DERIVE, {CKK_DES, kNoKey}, R::DesCbcEncryptData, D::Block8, false, 0, 0, true},
    {NAMED(CKM_DES3_ECB_ENCRYPT_DATA), CKF_DERIVE, {CKK_DES3, CKK_DES2}, R::KeyDerivationString, D::Block8, false, 0, 0,
     true},
    {NAMED(CKM_DES3_CBC_ENCRYPT_DATA), CKF_DERIVE, {CKK_DES3, CKK_DES2}, R::DesCbcEncryptData, D::Block8, false, 0, 0,
     true},
    // AES
    {NAMED(CKM_AES_KEY_GEN), CKF_GENERATE, {CKK_AES, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_AES_ECB), kCipher, {CKK_AES, kNoKey}, R::None, D::Block16, true, 0, 0, true},
    {NAMED(CKM_AES_CBC), kCipher | kWrapping, {CKK_AES, kNoKey}, R::Iv16, D::Block16, true, 0, 0, true},
    {NAMED(CKM_AES_CBC_PAD), kCipher | kWrapping, {CKK_AES, kNoKey}, R::Iv16, D::Any, true, 0, 0, true},
    {NAMED(CKM_AES_CTR), kCipher, {CKK_AES, kNoKey}, R::AesCtr, D::Any, true, 0, 0, true},
    {NAMED(CKM_AES_GCM), kCipher, {CKK_AES, kNoKey}, R::Gcm, D::Any, true, 0, 0, true},
    {NAMED(CKM_AES_KEY_WRAP), kWrapping, {CKK_AES, kNoKey}, R::None, D::Block8, false, 0, 0, true},
    {NAMED(CKM_AES_KEY_WRAP_PAD), kWrapping, {CKK_AES, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_AES_CMAC), kSignature, {CKK_AES, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_AES_MAC), kSignature, {CKK_AES, kNoKey}, R::None, D::Any, true, 0, 0, true},
    {NAMED(CKM_AES_GMAC), kSignature, {CKK_AES, kNoKey}, R::Gcm, D::Any, true, 0, 0, true},
    {NAMED(CKM_AES_ECB_ENCRYPT_DATA), CKF_DERIVE, {CKK_AES, kNoKey}, R::KeyDerivationString, D::Block16, false, 0, 0,
     true},
    {NAMED(CKM_AES_CBC_ENCRYPT_DATA), CKF_DERIVE, {CKK_AES, kNoKey}, R::AesCbcEncryptData, D::Block16, false, 0, 0,
     true},
    // Camellia (the stand-in's)
    {NAMED(CKM_CAMELLIA_KEY_GEN), CKF_GENERATE, {CKK_CAMELLIA, kNoKey}, R::None, D::Any, false, 0, 0, true},
    {NAMED(CKM_CAMELLIA_ECB), kCipher, {CKK_CAMELLIA, kNoKey}, R::None, D::Block16, true, 0, 0, true},
    {NAMED(CKM_CAMELLIA_CBC), kCipher, {CKK_CAMELLIA, kNoKey}, R::Iv16, D::Block16, true, 0, 0, true},
    {NAMED(CKM_CAMELLIA_CBC_PAD), kCipher, {CKK_CAMELLIA, kNoKey}, R::Iv16, D::Any, true, 0, 0, true},
    {NAMED(CKM_CAMELLIA_MAC), kSignature, {CKK_CAMELLIA, kNoKey}, R::None, D::Any, true, 0, 0, true},
    // Values neither target knows
    {NAMED(CKM_AES_CCM), kEverything, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, false},
    {NAMED(CKM_RSA_X9_31), kEverything, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, false},
    {0x80001234, "vendor-defined 0x80001234", kEverything, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, false},
    {0xC0000001, "unknown 0xC0000001", kEverything, {kNoKey, kNoKey}, R::None, D::Any, true, 0, 0, false},
};

}  // namespace

const std::vector<MechanismEntry> &mechanismCatalogue() { return kCatalogue; }

const MechanismEntry *findMechanism(CK_MECHANISM_TYPE type) {
  for (const MechanismEntry &entry : kCatalogue) {
    if (entry.type == type) return &entry;
  }
  return nullptr;
}

std::string mechanismName(CK_MECHANISM_TYPE type) {
  const MechanismEntry *entry = findMechanism(type);
  return entry != nullptr ? entry->name : hexNumber(type);
}

std::vector<const MechanismEntry *> mechanismsFor(CK_FLAGS uses) {
  std::vector<const MechanismEntry *> entries;
  for (const MechanismEntry &entry : kCatalogue) {
    if ((entry.uses & uses) != 0) entries.push_back(&entry);
  }
  return entries;
}

bool takesKeyType(const MechanismEntry &entry, CK_KEY_TYPE keyType) {
  return entry.keyTypes[0] == keyType || entry.keyTypes[1] == keyType;
}

}  // namespace zorvel::robustness
