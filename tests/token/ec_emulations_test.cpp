// The elliptic-curve operations the stand-in adds to SoftHSM2, each checked against
// OpenSSL in software: ECDSA with hashing (single-part and multi-part), ECDH with the
// X9.63 key derivation functions, the curve FRP256v1, and the mechanisms it lists.
#include "standin_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

template <typename T, void (*Free)(T *)>
struct Deleter {
  void operator()(T *p) const { Free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Group = std::unique_ptr<EC_GROUP, Deleter<EC_GROUP, EC_GROUP_free>>;
using Point = std::unique_ptr<EC_POINT, Deleter<EC_POINT, EC_POINT_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using Kdf = std::unique_ptr<EVP_KDF, Deleter<EVP_KDF, EVP_KDF_free>>;
using KdfCtx = std::unique_ptr<EVP_KDF_CTX, Deleter<EVP_KDF_CTX, EVP_KDF_CTX_free>>;

const Bytes kSecp256r1 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const Bytes kSecp521r1 = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
const Bytes kBrainpoolP224r1 = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x05};
const Bytes kFrp256v1 = {0x06, 0x0A, 0x2A, 0x81, 0x7A, 0x01, 0x81, 0x5F, 0x65, 0x82, 0x00, 0x01};

// FRP256v1 as published (ANSSI, JORF n°241, 2011), a = p - 3.
const char *const kFrpP = "F1FD178C0B3AD58F10126DE8CE42435B3961ADBCABC8CA6DE8FCF353D86E9C03";
const char *const kFrpA = "F1FD178C0B3AD58F10126DE8CE42435B3961ADBCABC8CA6DE8FCF353D86E9C00";
const char *const kFrpB = "EE353FCA5428A9300D4ABA754A44C00FDFEC0C9AE4B1A1803075ED967B7BB73F";
const char *const kFrpGx = "B6B3D4C356C139EB31183D4749D423958C27D2DCAF98B70164C97A2DD98F5CFF";
const char *const kFrpGy = "6142E0F7C8B204911F9271F0F3ECEF8C2701C307E8E4C9E183115A1554062CFB";
const char *const kFrpN = "F1FD178C0B3AD58F10126DE8CE42435B53DC67E140D2BF941FFDD459C6D655E1";

Bignum hexNumber(const char *hex) {
  BIGNUM *number = nullptr;
  BN_hex2bn(&number, hex);
  return Bignum(number);
}

// The FRP256v1 group from the published constants, or null when they do not form a
// curve whose base point has the published order.
Group frp256v1Group() {
  const Bignum p = hexNumber(kFrpP), a = hexNumber(kFrpA), b = hexNumber(kFrpB), gx = hexNumber(kFrpGx),
               gy = hexNumber(kFrpGy), n = hexNumber(kFrpN), one = hexNumber("1");
  Group group(EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), nullptr));
  if (!group) return nullptr;
  Point g(EC_POINT_new(group.get()));
  if (!g || EC_POINT_set_affine_coordinates(group.get(), g.get(), gx.get(), gy.get(), nullptr) != 1 ||
      EC_POINT_is_on_curve(group.get(), g.get(), nullptr) != 1 ||
      EC_GROUP_set_generator(group.get(), g.get(), n.get(), one.get()) != 1) {
    return nullptr;
  }
  Point nG(EC_POINT_new(group.get()));
  if (!nG || EC_POINT_mul(group.get(), nG.get(), n.get(), nullptr, nullptr, nullptr) != 1 ||
      EC_POINT_is_at_infinity(group.get(), nG.get()) != 1) {
    return nullptr;
  }
  EC_GROUP_set_asn1_flag(group.get(), OPENSSL_EC_EXPLICIT_CURVE);
  return group;
}

// OpenSSL's domain parameters for CKA_EC_PARAMS bytes; FRP256v1, which it does not know
// by name, from the published constants.
Pkey domainParameters(const Bytes &ecParams) {
  Bytes der = ecParams;
  if (ecParams == kFrp256v1) {
    const Group group = frp256v1Group();
    if (!group) return nullptr;
    unsigned char *encoded = nullptr;
    const int length = i2d_ECPKParameters(group.get(), &encoded);
    if (length <= 0) return nullptr;
    der.assign(encoded, encoded + length);
    OPENSSL_free(encoded);
  }
  const unsigned char *cursor = der.data();
  return Pkey(d2i_KeyParams(EVP_PKEY_EC, nullptr, &cursor, static_cast<long>(der.size())));
}

// The content of a DER OCTET STRING (a CKA_EC_POINT value).
Bytes octetStringContent(const Bytes &der) {
  const unsigned char *cursor = der.data();
  std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>> octets(
      d2i_ASN1_OCTET_STRING(nullptr, &cursor, static_cast<long>(der.size())));
  if (!octets) return {};
  return Bytes(ASN1_STRING_get0_data(octets.get()), ASN1_STRING_get0_data(octets.get()) + ASN1_STRING_length(octets.get()));
}

// A public key of OpenSSL's for a point on the curve of the domain parameters.
Pkey publicKeyOnCurve(const Bytes &ecParams, const Bytes &point) {
  Pkey key = domainParameters(ecParams);
  if (!key || EVP_PKEY_set1_encoded_public_key(key.get(), point.data(), point.size()) != 1) return nullptr;
  return key;
}

Pkey generateSoftwareKey(const Bytes &ecParams) {
  const Pkey parameters = domainParameters(ecParams);
  if (!parameters) return nullptr;
  PkeyCtx context(EVP_PKEY_CTX_new(parameters.get(), nullptr));
  EVP_PKEY *key = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &key) != 1) return nullptr;
  return Pkey(key);
}

Bytes encodedPublicKey(EVP_PKEY *key) {
  size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, nullptr, 0, &length) != 1) return {};
  Bytes point(length);
  EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), point.size(), &length);
  return point;
}

// r || s, each as long as the order, into DER, and back.
Bytes derSignature(const Bytes &raw) {
  const int half = static_cast<int>(raw.size() / 2);
  EcdsaSig signature(ECDSA_SIG_new());
  ECDSA_SIG_set0(signature.get(), BN_bin2bn(raw.data(), half, nullptr), BN_bin2bn(raw.data() + half, half, nullptr));
  unsigned char *der = nullptr;
  const int length = i2d_ECDSA_SIG(signature.get(), &der);
  Bytes result(der, der + std::max(length, 0));
  OPENSSL_free(der);
  return result;
}

Bytes rawSignature(const Bytes &der, int orderBytes) {
  const unsigned char *cursor = der.data();
  EcdsaSig signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size())));
  if (!signature) return {};
  Bytes raw(2 * orderBytes);
  BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), orderBytes);
  BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + orderBytes, orderBytes);
  return raw;
}

bool softwareVerifies(EVP_PKEY *key, const EVP_MD *md, const Bytes &data, const Bytes &rawSig) {
  const Bytes der = derSignature(rawSig);
  MdCtx context(EVP_MD_CTX_new());
  return context && EVP_DigestVerifyInit(context.get(), nullptr, md, nullptr, key) == 1 &&
         EVP_DigestVerify(context.get(), der.data(), der.size(), data.data(), data.size()) == 1;
}

Bytes softwareSignature(EVP_PKEY *key, const EVP_MD *md, const Bytes &data) {
  MdCtx context(EVP_MD_CTX_new());
  size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, md, nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, data.data(), data.size()) != 1) {
    return {};
  }
  Bytes der(length);
  if (EVP_DigestSign(context.get(), der.data(), &length, data.data(), data.size()) != 1) return {};
  der.resize(length);
  return rawSignature(der, (EVP_PKEY_get_bits(key) + 7) / 8);
}

struct Hash {
  CK_MECHANISM_TYPE ecdsa;
  CK_EC_KDF_TYPE kdf;
  const char *name;
  const EVP_MD *(*md)();
};

const Hash kHashes[] = {
    {CKM_ECDSA_SHA1, CKD_SHA1_KDF, "SHA1", EVP_sha1},       {CKM_ECDSA_SHA224, CKD_SHA224_KDF, "SHA224", EVP_sha224},
    {CKM_ECDSA_SHA256, CKD_SHA256_KDF, "SHA256", EVP_sha256}, {CKM_ECDSA_SHA384, CKD_SHA384_KDF, "SHA384", EVP_sha384},
    {CKM_ECDSA_SHA512, CKD_SHA512_KDF, "SHA512", EVP_sha512},
};

// Three parts of unequal size, 40000 bytes in all.
Bytes testData() {
  Bytes data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<CK_BYTE>(i * 7 + (i >> 8));
  return data;
}

class EcEmulations : public LoggedInSession {
 protected:
  struct KeyPair {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
  };

  // A session key pair on the curve.
  KeyPair generate(const Bytes &ecParams) {
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE ec = CKK_EC;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_CLASS, &publicClass, sizeof publicClass}, {CKA_KEY_TYPE, &ec, sizeof ec},
        {CKA_TOKEN, &no, sizeof no},                   {CKA_VERIFY, &yes, sizeof yes},
        {CKA_EC_PARAMS, const_cast<CK_BYTE *>(ecParams.data()), static_cast<CK_ULONG>(ecParams.size())},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_KEY_TYPE, &ec, sizeof ec},
        {CKA_TOKEN, &no, sizeof no},                     {CKA_SIGN, &yes, sizeof yes},
        {CKA_DERIVE, &yes, sizeof yes},
    };
    CK_MECHANISM mechanism = {CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    KeyPair pair;
    EXPECT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 5, privateTemplate, 5,
                                            &pair.publicKey, &pair.privateKey));
    return pair;
  }

  Bytes attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE query = {type, nullptr, 0};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &query, 1));
    Bytes value(query.ulValueLen);
    query.pValue = value.data();
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, object, &query, 1));
    value.resize(query.ulValueLen);
    return value;
  }

  // OpenSSL's public key of a token key pair.
  Pkey softwarePublicKey(const Bytes &ecParams, CK_OBJECT_HANDLE publicKey) {
    return publicKey != CK_INVALID_HANDLE ? publicKeyOnCurve(ecParams, octetStringContent(attribute(publicKey, CKA_EC_POINT)))
                                          : nullptr;
  }

  Bytes signSinglePart(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes &data) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    EXPECT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, key));
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_Sign(session, const_cast<CK_BYTE *>(data.data()), data.size(), nullptr, &length));
    Bytes signature(length);
    EXPECT_CKR(CKR_OK, f->C_Sign(session, const_cast<CK_BYTE *>(data.data()), data.size(), signature.data(), &length));
    signature.resize(length);
    return signature;
  }

  Bytes signInParts(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes &data) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    EXPECT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, key));
    for (size_t offset = 0; offset < data.size(); offset += 16384) {
      const CK_ULONG part = static_cast<CK_ULONG>(std::min<size_t>(16384, data.size() - offset));
      EXPECT_CKR(CKR_OK, f->C_SignUpdate(session, const_cast<CK_BYTE *>(data.data()) + offset, part));
    }
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_SignFinal(session, nullptr, &length));
    Bytes signature(length);
    EXPECT_CKR(CKR_OK, f->C_SignFinal(session, signature.data(), &length));
    signature.resize(length);
    return signature;
  }

  CK_RV verifySinglePart(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes &data, Bytes signature) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    const CK_RV rv = f->C_VerifyInit(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    return f->C_Verify(session, const_cast<CK_BYTE *>(data.data()), data.size(), signature.data(), signature.size());
  }

  CK_RV verifyInParts(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes &data, Bytes signature) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    CK_RV rv = f->C_VerifyInit(session, &mechanism, key);
    for (size_t offset = 0; rv == CKR_OK && offset < data.size(); offset += 16384) {
      const CK_ULONG part = static_cast<CK_ULONG>(std::min<size_t>(16384, data.size() - offset));
      rv = f->C_VerifyUpdate(session, const_cast<CK_BYTE *>(data.data()) + offset, part);
    }
    return rv != CKR_OK ? rv : f->C_VerifyFinal(session, signature.data(), signature.size());
  }

  // A public key on the token for OpenSSL's key.
  CK_OBJECT_HANDLE importPublicKey(const Bytes &ecParams, EVP_PKEY *key) {
    const Bytes point = encodedPublicKey(key);
    Bytes der = {0x04};
    if (point.size() >= 128) der.push_back(0x81);
    der.push_back(static_cast<CK_BYTE>(point.size()));
    der.insert(der.end(), point.begin(), point.end());
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE ec = CKK_EC;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE keyTemplate[] = {
        {CKA_CLASS, &publicClass, sizeof publicClass},
        {CKA_KEY_TYPE, &ec, sizeof ec},
        {CKA_TOKEN, &no, sizeof no},
        {CKA_VERIFY, &yes, sizeof yes},
        {CKA_EC_PARAMS, const_cast<CK_BYTE *>(ecParams.data()), static_cast<CK_ULONG>(ecParams.size())},
        {CKA_EC_POINT, der.data(), static_cast<CK_ULONG>(der.size())},
    };
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_CreateObject(session, keyTemplate, 6, &handle));
    return handle;
  }

  CK_ULONG sessionObjectCount() {
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE sessionObjects = {CKA_TOKEN, &no, sizeof no};
    EXPECT_CKR(CKR_OK, f->C_FindObjectsInit(session, &sessionObjects, 1));
    CK_OBJECT_HANDLE found[64];
    CK_ULONG count = 0;
    EXPECT_CKR(CKR_OK, f->C_FindObjects(session, found, 64, &count));
    EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
    return count;
  }

  // ECDH of the token's private key with OpenSSL's public key and a KDF into a readable
  // key of the given type; its value, or nothing when the derivation fails with `rv`.
  Bytes deriveOnToken(CK_OBJECT_HANDLE privateKey, EVP_PKEY *peer, CK_EC_KDF_TYPE kdf, const Bytes &sharedData,
                      CK_KEY_TYPE keyType, const CK_ULONG *valueLength, CK_RV *rv) {
    Bytes point = encodedPublicKey(peer);
    CK_ECDH1_DERIVE_PARAMS parameters = {kdf, static_cast<CK_ULONG>(sharedData.size()),
                                         const_cast<CK_BYTE *>(sharedData.data()), static_cast<CK_ULONG>(point.size()),
                                         point.data()};
    CK_MECHANISM mechanism = {CKM_ECDH1_DERIVE, &parameters, sizeof parameters};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ULONG length = valueLength != nullptr ? *valueLength : 0;
    std::vector<CK_ATTRIBUTE> keyTemplate = {
        {CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
        {CKA_TOKEN, &no, sizeof no},                   {CKA_SENSITIVE, &no, sizeof no},
        {CKA_EXTRACTABLE, &yes, sizeof yes},           {CKA_ENCRYPT, &yes, sizeof yes},
    };
    if (valueLength != nullptr) keyTemplate.push_back({CKA_VALUE_LEN, &length, sizeof length});
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    *rv = f->C_DeriveKey(session, &mechanism, privateKey, keyTemplate.data(), keyTemplate.size(), &key);
    return *rv == CKR_OK ? attribute(key, CKA_VALUE) : Bytes{};
  }
};

// OpenSSL's Z and X9.63 KDF for the same two keys.
Bytes softwareDerivation(EVP_PKEY *own, EVP_PKEY *peer, const EVP_MD *md, const Bytes &sharedData, size_t length) {
  PkeyCtx context(EVP_PKEY_CTX_new(own, nullptr));
  size_t zLength = 0;
  if (!context || EVP_PKEY_derive_init(context.get()) != 1 || EVP_PKEY_derive_set_peer(context.get(), peer) != 1 ||
      EVP_PKEY_derive(context.get(), nullptr, &zLength) != 1) {
    return {};
  }
  Bytes z(zLength);
  if (EVP_PKEY_derive(context.get(), z.data(), &zLength) != 1) return {};
  Kdf kdf(EVP_KDF_fetch(nullptr, "X963KDF", nullptr));
  KdfCtx kdfContext(EVP_KDF_CTX_new(kdf.get()));
  if (!kdfContext) return {};
  std::string digest = EVP_MD_get0_name(md);
  Bytes info = sharedData;
  const OSSL_PARAM parameters[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, z.data(), z.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
      OSSL_PARAM_construct_end(),
  };
  Bytes key(length);
  if (EVP_KDF_derive(kdfContext.get(), key.data(), key.size(), parameters) != 1) return {};
  return key;
}

TEST(Frp256v1, PublishedConstantsFormTheCurve) {
  // G lies on y^2 = x^3 + ax + b over the prime field, and n·G is the point at infinity.
  const Group group = frp256v1Group();
  ASSERT_TRUE(group);
  EXPECT_EQ(1, EC_GROUP_check(group.get(), nullptr));
}

TEST_F(EcEmulations, HashedEcdsaSignaturesVerifyInSoftware) {
  const Bytes data = testData();
  // The digest shorter and longer than the order, on a prime and a Brainpool curve.
  for (const Bytes *curve : {&kSecp256r1, &kSecp521r1, &kBrainpoolP224r1}) {
    const KeyPair pair = generate(*curve);
    const Pkey verifier = softwarePublicKey(*curve, pair.publicKey);
    ASSERT_TRUE(verifier);
    for (const Hash &hash : kHashes) {
      SCOPED_TRACE(hash.name);
      EXPECT_TRUE(softwareVerifies(verifier.get(), hash.md(), data, signSinglePart(hash.ecdsa, pair.privateKey, data)));
      EXPECT_TRUE(softwareVerifies(verifier.get(), hash.md(), data, signInParts(hash.ecdsa, pair.privateKey, data)));
    }
  }
}

TEST_F(EcEmulations, HashedEcdsaVerifiesSoftwareSignatures) {
  const Bytes data = testData();
  const Pkey signer = generateSoftwareKey(kSecp256r1);
  ASSERT_TRUE(signer);
  const CK_OBJECT_HANDLE publicKey = importPublicKey(kSecp256r1, signer.get());
  for (const Hash &hash : kHashes) {
    SCOPED_TRACE(hash.name);
    Bytes signature = softwareSignature(signer.get(), hash.md(), data);
    EXPECT_CKR(CKR_OK, verifySinglePart(hash.ecdsa, publicKey, data, signature));
    EXPECT_CKR(CKR_OK, verifyInParts(hash.ecdsa, publicKey, data, signature));
    // Another hash's signature, and the data changed, do not verify.
    const Hash &other = hash.ecdsa == CKM_ECDSA_SHA1 ? kHashes[1] : kHashes[0];
    EXPECT_CKR(CKR_SIGNATURE_INVALID, verifySinglePart(other.ecdsa, publicKey, data, signature));
    Bytes changed = data;
    changed[20000] ^= 1;
    EXPECT_CKR(CKR_SIGNATURE_INVALID, verifyInParts(hash.ecdsa, publicKey, changed, signature));
  }
}

TEST_F(EcEmulations, HashedEcdsaKeepsOneOperationPerSession) {
  const KeyPair pair = generate(kSecp256r1);
  Bytes data = testData();
  CK_MECHANISM mechanism = {CKM_ECDSA_SHA256, nullptr, 0};
  CK_MECHANISM raw = {CKM_ECDSA, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, pair.privateKey));
  // A second Init of any kind is refused while the emulated operation is active.
  EXPECT_CKR(CKR_OPERATION_ACTIVE, f->C_SignInit(session, &mechanism, pair.privateKey));
  EXPECT_CKR(CKR_OPERATION_ACTIVE, f->C_VerifyInit(session, &raw, pair.publicKey));
  // A length query and a too small buffer leave it active; the signature then ends it.
  CK_ULONG length = 0;
  ASSERT_CKR(CKR_OK, f->C_Sign(session, data.data(), data.size(), nullptr, &length));
  EXPECT_EQ(64u, length);
  CK_BYTE small[8];
  CK_ULONG smallLength = sizeof small;
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_Sign(session, data.data(), data.size(), small, &smallLength));
  Bytes signature(length);
  ASSERT_CKR(CKR_OK, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
  EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));

  // A failed verification ends the operation: the next Init is taken.
  ASSERT_CKR(CKR_OK, f->C_VerifyInit(session, &mechanism, pair.publicKey));
  signature[0] ^= 1;
  EXPECT_CKR(CKR_SIGNATURE_INVALID, f->C_Verify(session, data.data(), data.size(), signature.data(), signature.size()));
  EXPECT_CKR(CKR_OK, f->C_SignInit(session, &raw, pair.privateKey));
}

TEST_F(EcEmulations, HashedEcdsaEndsWithTheSession) {
  const KeyPair pair = generate(kSecp256r1);
  CK_MECHANISM mechanism = {CKM_ECDSA_SHA384, nullptr, 0};
  CK_SESSION_HANDLE other = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &other));
  ASSERT_CKR(CKR_OK, f->C_SignInit(other, &mechanism, pair.privateKey));
  CK_BYTE part[3] = {1, 2, 3};
  ASSERT_CKR(CKR_OK, f->C_SignUpdate(other, part, sizeof part));
  ASSERT_CKR(CKR_OK, f->C_CloseSession(other));
  // The handle is gone with its operation; this session's operations are its own.
  CK_ULONG length = 0;
  EXPECT_CKR(CKR_SESSION_HANDLE_INVALID, f->C_SignFinal(other, nullptr, &length));
  EXPECT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, pair.privateKey));
}

TEST_F(EcEmulations, KdfDerivationsMatchX963InSoftware) {
  const Bytes sharedData = {'s', 'h', 'a', 'r', 'e', 'd', ' ', 'i', 'n', 'f', 'o'};
  for (const Bytes *curve : {&kSecp256r1, &kSecp521r1}) {
    const KeyPair pair = generate(*curve);
    const Pkey own = softwarePublicKey(*curve, pair.publicKey);
    const Pkey peer = generateSoftwareKey(*curve);
    ASSERT_TRUE(own && peer);
    for (const Hash &hash : kHashes) {
      SCOPED_TRACE(hash.name);
      const CK_ULONG length = 32;
      const CK_ULONG before = sessionObjectCount();
      CK_RV rv = CKR_OK;
      const Bytes onToken = deriveOnToken(pair.privateKey, peer.get(), hash.kdf, sharedData, CKK_AES, &length, &rv);
      EXPECT_CKR(CKR_OK, rv);
      EXPECT_EQ(softwareDerivation(peer.get(), own.get(), hash.md(), sharedData, length), onToken);
      // The new key, and no temporary one, stays.
      EXPECT_EQ(before + 1, sessionObjectCount());
    }
  }
}

TEST_F(EcEmulations, KdfKeyLengthFromTemplateOrKeyType) {
  const KeyPair pair = generate(kSecp256r1);
  const Pkey own = softwarePublicKey(kSecp256r1, pair.publicKey);
  const Pkey peer = generateSoftwareKey(kSecp256r1);
  ASSERT_TRUE(own && peer);
  CK_RV rv = CKR_OK;
  // Longer than one SHA-1 block, and without shared data.
  const CK_ULONG longKey = 50;
  const Bytes generic = deriveOnToken(pair.privateKey, peer.get(), CKD_SHA1_KDF, {}, CKK_GENERIC_SECRET, &longKey, &rv);
  EXPECT_CKR(CKR_OK, rv);
  EXPECT_EQ(softwareDerivation(peer.get(), own.get(), EVP_sha1(), {}, longKey), generic);
  // A DES3 key has its length by its type, and the KDF's bytes with odd parity.
  const Bytes des3 = deriveOnToken(pair.privateKey, peer.get(), CKD_SHA256_KDF, {1}, CKK_DES3, nullptr, &rv);
  EXPECT_CKR(CKR_OK, rv);
  const Bytes kdfBytes = softwareDerivation(peer.get(), own.get(), EVP_sha256(), {1}, 24);
  ASSERT_EQ(24u, des3.size());
  ASSERT_EQ(24u, kdfBytes.size());
  for (size_t i = 0; i < des3.size(); ++i) {
    EXPECT_EQ(kdfBytes[i] & 0xFE, des3[i] & 0xFE) << "byte " << i;
    EXPECT_EQ(1, __builtin_popcount(des3[i]) % 2) << "byte " << i;
  }
  // Lengths the module's own derivation refuses make no key.
  struct Refused {
    CK_KEY_TYPE type;
    CK_ULONG length;
    bool withLength;
    CK_RV rv;
  };
  const Refused refusals[] = {
      {CKK_AES, 0, false, CKR_TEMPLATE_INCOMPLETE}, {CKK_AES, 7, true, CKR_ATTRIBUTE_VALUE_INVALID},
      {CKK_AES, 48, true, CKR_ATTRIBUTE_VALUE_INVALID}, {CKK_DES3, 16, true, CKR_ATTRIBUTE_VALUE_INVALID},
      {CKK_GENERIC_SECRET, 0, true, CKR_ATTRIBUTE_VALUE_INVALID},
      // Above the longest generic secret the module makes: refused before any allocation.
      {CKK_GENERIC_SECRET, ~CK_ULONG{0}, true, CKR_ATTRIBUTE_VALUE_INVALID},
  };
  for (const Refused &refused : refusals) {
    SCOPED_TRACE("key type " + std::to_string(refused.type) + ", length " + std::to_string(refused.length));
    const CK_ULONG before = sessionObjectCount();
    deriveOnToken(pair.privateKey, peer.get(), CKD_SHA256_KDF, {1}, refused.type,
                  refused.withLength ? &refused.length : nullptr, &rv);
    EXPECT_CKR(refused.rv, rv);
    EXPECT_EQ(before, sessionObjectCount());
  }
}

TEST_F(EcEmulations, Frp256v1KeysGenerateSignAndDerive) {
  const KeyPair pair = generate(kFrp256v1);
  ASSERT_NE(CK_INVALID_HANDLE, pair.privateKey);
  // The curve reads back by its identifier, alone and beside other attributes.
  EXPECT_EQ(kFrp256v1, attribute(pair.publicKey, CKA_EC_PARAMS));
  CK_BYTE params[12], point[80];
  CK_ATTRIBUTE both[] = {{CKA_EC_POINT, point, sizeof point}, {CKA_EC_PARAMS, params, sizeof params}};
  EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, pair.publicKey, both, 2));
  EXPECT_EQ(12u, both[1].ulValueLen);
  EXPECT_EQ(67u, both[0].ulValueLen);
  both[1].ulValueLen = 11;
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_GetAttributeValue(session, pair.publicKey, both, 2));
  EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, both[1].ulValueLen);
  // A search by the identifier finds the key.
  CK_ATTRIBUTE byCurve = {CKA_EC_PARAMS, const_cast<CK_BYTE *>(kFrp256v1.data()), 12};
  ASSERT_CKR(CKR_OK, f->C_FindObjectsInit(session, &byCurve, 1));
  CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
  CK_ULONG count = 0;
  EXPECT_CKR(CKR_OK, f->C_FindObjects(session, &found, 1, &count));
  EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
  EXPECT_EQ(1u, count);

  // The point lies on the published curve, and the signatures verify on it.
  const Pkey own = softwarePublicKey(kFrp256v1, pair.publicKey);
  ASSERT_TRUE(own);
  const Bytes data = testData();
  EXPECT_TRUE(softwareVerifies(own.get(), EVP_sha256(), data, signSinglePart(CKM_ECDSA_SHA256, pair.privateKey, data)));
  EXPECT_TRUE(softwareVerifies(own.get(), EVP_sha512(), data, signInParts(CKM_ECDSA_SHA512, pair.privateKey, data)));

  const Pkey peer = generateSoftwareKey(kFrp256v1);
  ASSERT_TRUE(peer);
  const CK_ULONG length = 16;
  CK_RV rv = CKR_OK;
  const Bytes onToken = deriveOnToken(pair.privateKey, peer.get(), CKD_SHA256_KDF, {7, 7}, CKK_AES, &length, &rv);
  EXPECT_CKR(CKR_OK, rv);
  EXPECT_EQ(softwareDerivation(peer.get(), own.get(), EVP_sha256(), {7, 7}, length), onToken);

  // A public key made from the identifier and a point.
  const CK_OBJECT_HANDLE imported = importPublicKey(kFrp256v1, peer.get());
  EXPECT_EQ(kFrp256v1, attribute(imported, CKA_EC_PARAMS));
}

TEST_F(EcEmulations, EveryListedMechanismHasItsInformation) {
  CK_ULONG count = 0;
  ASSERT_CKR(CKR_OK, f->C_GetMechanismList(0, nullptr, &count));
  std::vector<CK_MECHANISM_TYPE> types(count);
  ASSERT_CKR(CKR_OK, f->C_GetMechanismList(0, types.data(), &count));
  for (CK_MECHANISM_TYPE type : types) {
    CK_MECHANISM_INFO info;
    EXPECT_CKR(CKR_OK, f->C_GetMechanismInfo(0, type, &info)) << "mechanism 0x" << std::hex << type;
  }
  // The hashed ECDSA mechanisms are listed with the sizes and uses of CKM_ECDSA.
  CK_MECHANISM_INFO ecdsa;
  ASSERT_CKR(CKR_OK, f->C_GetMechanismInfo(0, CKM_ECDSA, &ecdsa));
  for (const Hash &hash : kHashes) {
    EXPECT_NE(types.end(), std::find(types.begin(), types.end(), hash.ecdsa)) << hash.name;
    CK_MECHANISM_INFO info;
    ASSERT_CKR(CKR_OK, f->C_GetMechanismInfo(0, hash.ecdsa, &info));
    EXPECT_EQ(ecdsa.ulMinKeySize, info.ulMinKeySize);
    EXPECT_EQ(ecdsa.ulMaxKeySize, info.ulMaxKeySize);
    EXPECT_EQ(ecdsa.flags, info.flags);
  }
  // A list too short for all of them.
  CK_ULONG shorter = count - 1;
  EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_GetMechanismList(0, types.data(), &shorter));
  EXPECT_EQ(count, shorter);
}

}  // namespace
}  // namespace zorvel::test
