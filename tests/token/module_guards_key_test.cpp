// Keys the module could not use: made from components it cannot load, or of another type
// than the mechanism works with.
#include "module_guards.h"

#include <map>
#include <vector>

namespace zorvel::test {
namespace {

// PKCS#11 3.0 values the module has: the Edwards-curve keys, their generation and EdDSA.
constexpr CK_KEY_TYPE kEdwardsKey = 0x40;
constexpr CK_MECHANISM_TYPE kEdwardsKeyPairGeneration = 0x1055;
constexpr CK_MECHANISM_TYPE kEddsa = 0x1057;

enum class KeyCall { Encrypt, Decrypt, Sign, Verify, Wrap, Unwrap, Derive };

// A mechanism whose parameters take the call as far as the key: a peer's point for the key
// agreements, data for the encrypting derivations, none for the others.
class MechanismWithParameters {
 public:
  explicit MechanismWithParameters(CK_MECHANISM_TYPE type) : mechanism_{type, nullptr, 0} {
    if (type == CKM_ECDH1_DERIVE) mechanism_ = {type, &ecdh_, sizeof ecdh_};
    if (type == CKM_DH_PKCS_DERIVE) mechanism_ = {type, peer_.data(), peer_.size()};
    if (type == CKM_AES_ECB_ENCRYPT_DATA) mechanism_ = {type, &derivation_, sizeof derivation_};
  }
  MechanismWithParameters(const MechanismWithParameters &) = delete;
  MechanismWithParameters &operator=(const MechanismWithParameters &) = delete;
  CK_MECHANISM_PTR get() { return &mechanism_; }

 private:
  Bytes peer_ = Bytes(65, 0x04);
  Bytes data_ = Bytes(16, 0x5A);
  CK_ECDH1_DERIVE_PARAMS ecdh_ = {CKD_NULL, 0, nullptr, static_cast<CK_ULONG>(peer_.size()), peer_.data()};
  CK_KEY_DERIVATION_STRING_DATA derivation_ = {data_.data(), static_cast<CK_ULONG>(data_.size())};
  CK_MECHANISM mechanism_;
};

// Starts the call with the key and, where the call is taken, carries it out: the result of
// the first that fails. otherKey is the key to wrap.
CK_RV callWithKey(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, KeyCall call, CK_MECHANISM_TYPE type,
                  CK_OBJECT_HANDLE key, CK_OBJECT_HANDLE otherKey = CK_INVALID_HANDLE) {
  MechanismWithParameters withParameters(type);
  CK_MECHANISM_PTR mechanism = withParameters.get();
  Bytes data(16, 0x11), output(512);
  CK_ULONG outputLength = output.size();
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE genericSecret = CKK_GENERIC_SECRET;
  CK_ULONG sixteen = 16;
  CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                   {CKA_KEY_TYPE, &genericSecret, sizeof genericSecret},
                                   {CKA_VALUE_LEN, &sixteen, sizeof sixteen}};
  CK_RV rv = CKR_OK;
  switch (call) {
    case KeyCall::Encrypt:
      rv = f->C_EncryptInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Encrypt(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyCall::Decrypt:
      rv = f->C_DecryptInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Decrypt(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyCall::Sign:
      rv = f->C_SignInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Sign(session, data.data(), data.size(), output.data(), &outputLength);
    case KeyCall::Verify:
      rv = f->C_VerifyInit(session, mechanism, key);
      return rv != CKR_OK ? rv : f->C_Verify(session, data.data(), data.size(), output.data(), 128);
    case KeyCall::Wrap: return f->C_WrapKey(session, mechanism, key, otherKey, output.data(), &outputLength);
    case KeyCall::Unwrap:
      return f->C_UnwrapKey(session, mechanism, key, output.data(), 128, secretTemplate, 3, &made);
    case KeyCall::Derive: return f->C_DeriveKey(session, mechanism, key, secretTemplate, 3, &made);
  }
  return CKR_GENERAL_ERROR;
}

// Keys made from components the module cannot load are refused at C_CreateObject (SoftHSM2
// made them and died of SIGSEGV when they were used, which each row does where the key is
// made); keys it loads are made.
TEST_F(ModuleGuards, KeyComponentsTheModuleCannotLoadAreRefused) {
  Bytes modulus(kModulusLength);
  CK_ATTRIBUTE readModulus = {CKA_MODULUS, modulus.data(), modulus.size()};
  ASSERT_CKR(CKR_OK, f->C_GetAttributeValue(session, publicKey, &readModulus, 1));
  const Bytes none, zero = {0}, exponent = {1, 0, 1}, two = {2}, bytes(20, 0x5A);
  const Bytes &prime = kOakleyGroup1Prime;
  const Bytes p256 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  const Bytes ed25519 = {0x06, 0x03, 0x2B, 0x65, 0x70}, garbage = {0x30, 0x03, 0x02, 0x01, 0x07};
  const Bytes point = [] {
    Bytes encoded = {0x04, 0x41, 0x04};  // an OCTET STRING holding an uncompressed point
    encoded.resize(2 + 65, 0x01);
    return encoded;
  }();
  struct Component {
    CK_ATTRIBUTE_TYPE type;
    Bytes value;
  };
  struct KeyCase {
    const char *name;
    CK_OBJECT_CLASS objectClass;
    CK_KEY_TYPE keyType;
    std::vector<Component> components;
    KeyCall use;
    CK_MECHANISM_TYPE mechanism;
    CK_RV expected;
  };
  const KeyCase cases[] = {
      {"RSA public key, empty modulus", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, none}, {CKA_PUBLIC_EXPONENT, exponent}},
       KeyCall::Encrypt, CKM_RSA_PKCS, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA public key, zero modulus", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, zero}, {CKA_PUBLIC_EXPONENT, exponent}},
       KeyCall::Encrypt, CKM_RSA_PKCS, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA public key, empty exponent", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, modulus}, {CKA_PUBLIC_EXPONENT, none}},
       KeyCall::Encrypt, CKM_RSA_PKCS, CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA private key, no public exponent", CKO_PRIVATE_KEY, CKK_RSA,
       {{CKA_MODULUS, modulus}, {CKA_PRIVATE_EXPONENT, bytes}}, KeyCall::Sign, CKM_RSA_PKCS, CKR_TEMPLATE_INCOMPLETE},
      {"DSA private key, empty prime", CKO_PRIVATE_KEY, CKK_DSA,
       {{CKA_PRIME, none}, {CKA_SUBPRIME, bytes}, {CKA_BASE, two}, {CKA_VALUE, bytes}}, KeyCall::Sign, CKM_DSA,
       CKR_ATTRIBUTE_VALUE_INVALID},
      {"DSA public key, empty value", CKO_PUBLIC_KEY, CKK_DSA,
       {{CKA_PRIME, prime}, {CKA_SUBPRIME, bytes}, {CKA_BASE, two}, {CKA_VALUE, none}}, KeyCall::Verify, CKM_DSA,
       CKR_ATTRIBUTE_VALUE_INVALID},
      {"DH private key, empty base", CKO_PRIVATE_KEY, CKK_DH,
       {{CKA_PRIME, prime}, {CKA_BASE, none}, {CKA_VALUE, bytes}}, KeyCall::Derive, CKM_DH_PKCS_DERIVE,
       CKR_ATTRIBUTE_VALUE_INVALID},
      {"EC public key, parameters that are no curve", CKO_PUBLIC_KEY, CKK_EC,
       {{CKA_EC_PARAMS, garbage}, {CKA_EC_POINT, point}}, KeyCall::Verify, CKM_ECDSA, CKR_ATTRIBUTE_VALUE_INVALID},
      {"EC private key, an Edwards curve", CKO_PRIVATE_KEY, CKK_EC, {{CKA_EC_PARAMS, ed25519}, {CKA_VALUE, bytes}},
       KeyCall::Derive, CKM_ECDH1_DERIVE, CKR_ATTRIBUTE_VALUE_INVALID},
      {"Edwards public key, a curve name cut short", CKO_PUBLIC_KEY, kEdwardsKey,
       {{CKA_EC_PARAMS, {0x13, 0x20, 0x65, 0x64}}, {CKA_EC_POINT, Bytes(34, 0x20)}}, KeyCall::Verify, kEddsa,
       CKR_ATTRIBUTE_VALUE_INVALID},
      {"RSA public key", CKO_PUBLIC_KEY, CKK_RSA, {{CKA_MODULUS, modulus}, {CKA_PUBLIC_EXPONENT, exponent}},
       KeyCall::Encrypt, CKM_RSA_PKCS, CKR_OK},
      {"EC public key on P-256", CKO_PUBLIC_KEY, CKK_EC, {{CKA_EC_PARAMS, p256}, {CKA_EC_POINT, point}},
       KeyCall::Verify, CKM_ECDSA, CKR_OK},
  };
  CK_BBOOL yes = CK_TRUE;
  for (const KeyCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CK_ATTRIBUTE> tmpl = {{CKA_CLASS, const_cast<CK_OBJECT_CLASS *>(&c.objectClass), sizeof c.objectClass},
                                      {CKA_KEY_TYPE, const_cast<CK_KEY_TYPE *>(&c.keyType), sizeof c.keyType},
                                      {c.objectClass == CKO_PUBLIC_KEY ? CKA_ENCRYPT : CKA_SIGN, &yes, 1},
                                      {c.objectClass == CKO_PUBLIC_KEY ? CKA_VERIFY : CKA_DERIVE, &yes, 1}};
    for (const Component &component : c.components) {
      tmpl.push_back({component.type, const_cast<CK_BYTE *>(component.value.data()),
                      static_cast<CK_ULONG>(component.value.size())});
    }
    EXPECT_TRUE(answersInChild(c.expected, [&] {
      CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
      const CK_RV rv = f->C_CreateObject(session, tmpl.data(), tmpl.size(), &key);
      if (rv != CKR_OK) return rv;
      callWithKey(f, session, c.use, c.mechanism, key);
      return rv;
    }));
  }
}

enum class Key { RsaPublic, RsaPrivate, EcPrivate, Aes, Des3, GenericSecret, Camellia };

// A key of each type, permitting every use it has.
class KeyTypeGuards : public ModuleGuards {
 protected:
  void SetUp() override {
    ModuleGuards::SetUp();
    if (HasFatalFailure()) return;
    const std::vector<CK_ATTRIBUTE_TYPE> everyUse = {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN,  CKA_VERIFY,
                                                     CKA_WRAP,    CKA_UNWRAP,  CKA_DERIVE};
    keys[Key::RsaPublic] = publicKey;
    keys[Key::RsaPrivate] = privateKey;
    keys[Key::Aes] = aesKeyFor(everyUse);
    keys[Key::Des3] = secretKeyFor(CKM_DES3_KEY_GEN, 0, everyUse);
    keys[Key::GenericSecret] = secretKeyFor(CKM_GENERIC_SECRET_KEY_GEN, 32, {CKA_SIGN, CKA_VERIFY, CKA_DERIVE});
    keys[Key::Camellia] = secretKeyFor(CKM_CAMELLIA_KEY_GEN, 16, {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY});
    CK_BYTE p256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, p256, sizeof p256}, {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, 1}, {CKA_DERIVE, &yes, 1}};
    CK_MECHANISM ecGeneration = {CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE ecPublic = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &ecGeneration, publicTemplate, 2, privateTemplate, 2, &ecPublic,
                                            &keys[Key::EcPrivate]));
  }

  std::map<Key, CK_OBJECT_HANDLE> keys;
};

struct KeyTypeCase {
  const char *name;
  KeyCall call;
  CK_MECHANISM_TYPE mechanism;
  Key key;
  CK_RV expected;
};

// Curve parameters of an Edwards key pair the module cannot read are refused (SoftHSM2
// died of SIGSEGV on a PrintableString that does not decode); it names the curve by an
// object identifier or by name.
TEST_F(ModuleGuards, EdwardsCurvesTheModuleCannotReadAreRefused) {
  const struct {
    const char *name;
    Bytes parameters;
    CK_RV expected;
  } cases[] = {
      {"a PrintableString cut short", {0x13, 0x20, 0x65, 0x64}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"an object identifier cut short", {0x06, 0x03, 0x2B, 0x65}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"bytes after the identifier", {0x06, 0x03, 0x2B, 0x65, 0x70, 0x00}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"Ed25519's identifier", {0x06, 0x03, 0x2B, 0x65, 0x70}, CKR_OK},
      {"edwards25519 by name",
       {0x13, 0x0C, 'e', 'd', 'w', 'a', 'r', 'd', 's', '2', '5', '5', '1', '9'},
       CKR_OK},
  };
  CK_BBOOL yes = CK_TRUE;
  CK_MECHANISM generation = {kEdwardsKeyPairGeneration, nullptr, 0};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_EC_PARAMS, const_cast<CK_BYTE *>(c.parameters.data()), static_cast<CK_ULONG>(c.parameters.size())},
        {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, 1}};
    EXPECT_TRUE(answersInChild(c.expected, [&] {
      CK_OBJECT_HANDLE made = CK_INVALID_HANDLE, second = CK_INVALID_HANDLE;
      return f->C_GenerateKeyPair(session, &generation, publicTemplate, 2, privateTemplate, 1, &made, &second);
    }));
  }
}

// A key of another type than the mechanism works with is refused at Init, C_WrapKey,
// C_UnwrapKey and C_DeriveKey before the module sees it (SoftHSM2 took these at Init and
// then died of SIGSEGV in C_Sign or C_Verify, or exited with status 5); keys of the
// mechanism's type are taken. Where a call is taken, its operation runs in the child too.
TEST_F(KeyTypeGuards, KeysOfAnotherTypeThanTheMechanismsAreRefusedFirst) {
  std::vector<KeyTypeCase> cases;
  for (CK_MECHANISM_TYPE dsa :
       {CKM_DSA, CKM_DSA_SHA1, CKM_DSA_SHA224, CKM_DSA_SHA256, CKM_DSA_SHA384, CKM_DSA_SHA512}) {
    cases.push_back({"DSA with an RSA private key", KeyCall::Sign, dsa, Key::RsaPrivate, CKR_KEY_TYPE_INCONSISTENT});
    cases.push_back({"DSA with an AES key", KeyCall::Sign, dsa, Key::Aes, CKR_KEY_TYPE_INCONSISTENT});
  }
  const std::vector<KeyTypeCase> rows = {
      {"PKCS#1 verification with an AES key", KeyCall::Verify, CKM_RSA_PKCS, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      {"X.509 signature with a DES3 key", KeyCall::Sign, CKM_RSA_X_509, Key::Des3, CKR_KEY_TYPE_INCONSISTENT},
      {"ECDSA with an RSA private key", KeyCall::Sign, CKM_ECDSA, Key::RsaPrivate, CKR_KEY_TYPE_INCONSISTENT},
      {"hashed ECDSA with an AES key", KeyCall::Sign, CKM_ECDSA_SHA256, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      {"AES ECB with a DES3 key", KeyCall::Encrypt, CKM_AES_ECB, Key::Des3, CKR_KEY_TYPE_INCONSISTENT},
      {"HMAC with an AES key", KeyCall::Sign, CKM_SHA256_HMAC, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      // The module keeps a Camellia key as an MD5 HMAC key: the caller's type is judged.
      {"MD5 HMAC with a Camellia key", KeyCall::Sign, CKM_MD5_HMAC, Key::Camellia, CKR_KEY_TYPE_INCONSISTENT},
      {"Camellia MAC with an AES key", KeyCall::Sign, CKM_CAMELLIA_MAC, Key::Aes, CKR_KEY_TYPE_INCONSISTENT},
      {"PKCS#1 wrapping with an AES key", KeyCall::Wrap, CKM_RSA_PKCS, Key::Aes,
       CKR_WRAPPING_KEY_TYPE_INCONSISTENT},
      {"AES key wrap unwrapping with an RSA private key", KeyCall::Unwrap, CKM_AES_KEY_WRAP, Key::RsaPrivate,
       CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT},
      {"AES ECB derivation from a DES3 key", KeyCall::Derive, CKM_AES_ECB_ENCRYPT_DATA, Key::Des3,
       CKR_KEY_TYPE_INCONSISTENT},
      {"ECDH from an RSA private key", KeyCall::Derive, CKM_ECDH1_DERIVE, Key::RsaPrivate,
       CKR_KEY_TYPE_INCONSISTENT},
      {"PKCS#1 signature with an RSA private key", KeyCall::Sign, CKM_RSA_PKCS, Key::RsaPrivate, CKR_OK},
      {"ECDSA with an EC private key", KeyCall::Sign, CKM_ECDSA, Key::EcPrivate, CKR_OK},
      {"AES ECB with an AES key", KeyCall::Encrypt, CKM_AES_ECB, Key::Aes, CKR_OK},
      {"DES3 ECB with a DES3 key", KeyCall::Encrypt, CKM_DES3_ECB, Key::Des3, CKR_OK},
      {"HMAC with a generic secret", KeyCall::Sign, CKM_SHA256_HMAC, Key::GenericSecret, CKR_OK},
      {"Camellia ECB with a Camellia key", KeyCall::Encrypt, CKM_CAMELLIA_ECB, Key::Camellia, CKR_OK},
      {"Camellia MAC with a Camellia key", KeyCall::Sign, CKM_CAMELLIA_MAC, Key::Camellia, CKR_OK},
      {"AES key wrap of an AES key", KeyCall::Wrap, CKM_AES_KEY_WRAP, Key::Aes, CKR_OK},
  };
  cases.insert(cases.end(), rows.begin(), rows.end());
  for (const KeyTypeCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(answersInChild(c.expected, [&] {
      return callWithKey(f, session, c.call, c.mechanism, keys[c.key], keys[Key::Aes]);
    }));
  }
}

}  // namespace
}  // namespace zorvel::test
