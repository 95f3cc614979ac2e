#include "key_catalogue.h"

#include "hex.h"

namespace zorvel::robustness {

const Bytes &curveP256() {
  static const Bytes oid = fromHex("06082a8648ce3d030107");
  return oid;
}
const Bytes &curveP384() {
  static const Bytes oid = fromHex("06052b81040022");
  return oid;
}
const Bytes &curveP521() {
  static const Bytes oid = fromHex("06052b81040023");
  return oid;
}
const Bytes &curveFrp256() {
  static const Bytes oid = fromHex("060a2a817a01815f65820001");
  return oid;
}
const Bytes &curveEd25519() {
  static const Bytes oid = fromHex("06032b6570");
  return oid;
}

// Made once with OpenSSL.
const RsaKeyValues &rsaKeyValues() {
  static const RsaKeyValues key = {
      fromHex("de79830f6d2b25fecbd89d70f7368683848ec3de68cd00efcd0b85fdea5674652ccb9486bffdd4c51001aa288c1f7fad"
              "2c0a9a95b46ae6d4034aa356a6a44cb4762f5da7dd4efc3b283664f9e33369b2f60bfb704f1096a60d3e9daac228688b"
              "33369ee53cd890082f5a96ab3680d286e67b1151249a1913f6d584a798f59563"),
      fromHex("010001"),
      fromHex("7d8452e42e346ce05f43dc37f2d1e97c641a63f9a4691d012e4f350eb7da851adbf613db1e90e82d3245ae29e83c913d"
              "339edbee6076fbba5c0d0d30831e29438d9e25295b723e47eb73b0b5a765666d9810eeed2d47baf8b2bce0ae2c35fc0e"
              "7098a20f118a0a32e573a3b4cb381749de6524b9a5ab4d0b510a1a607b54e089"),
      fromHex("fe7aacafb80210913b4eff9ae3bac9ea58a24e34d8fa6a8a62934856b7c3a6531e632151a0996c1732e2c15bdeb6692e"
              "0f265e752ea10f5a7b5b7b92f2f9feb5"),
      fromHex("dfcddfba521952254e45ec3837d7bde332b5a802d878b895bb510869e7f45bf0d540cf419fb6f0f312979ac2d0b0fa45"
              "a4e9c34c1b4544ce65df46bebe0dbab7"),
      fromHex("03b949d39c6eb34d5cbfd02fb50b63af013306cff128e0ec3b7b0a40f29973529e0c374d997b0540e5a6b9cb9d5baff8"
              "53926d296bd04188426bd9481234244d"),
      fromHex("0934071a3b5c0d33b98748927b4164ee9ddc387f7d756169cedd23326fb66dbd769786ae552a09b8853034ce0414f305"
              "c02558c19d7178c5e00c9175308d91fb"),
      fromHex("bc9030ab2297d883192cd4db353ec5e998cfc1d8cc132cb8a42c0bbd2795ebdcaa21280ca3af9ffa471e86feddf18fe8"
              "219d490eb1a6e68ceec85abad7025970"),
  };
  return key;
}

// 1024-bit DSA parameters with a 224-bit subprime, and a 512-bit safe prime for DH with
// generator 2 (made once with OpenSSL).
const Bytes &dsaPrime() {
  static const Bytes p = fromHex(
      "fc593621aa0061d148994aded5e287224e42a00328f26614a85a8e906225f89dfb2bb3b009b976ca3350d9447ebcf786"
      "88553bb8b0b34d44140b5e42898c11fa4e23f547180bcf1ceb578a4630ececb5be07c8a4807e38f2e89e2300bee87e0d"
      "1e124c1c147fc4bcfb4760a8a532d5aa399eabd477ccc1f63fb1b2190eba6e89");
  return p;
}
const Bytes &dsaSubprime() {
  static const Bytes q = fromHex("beb4f3d6bb961cee63aa7d413b4ee8f04f4c5d6fbc869ad6d7e77d81");
  return q;
}
const Bytes &dsaBase() {
  static const Bytes g = fromHex(
      "ce08c3a89c857d194f51f773ace6f274037ae11091a0724d375d988c0db0622ad53b80ffb59608fa15a97f4bff6c6d51"
      "2385b0e918b5bd703830cd81b92e917517426f2201f1a28c5e37e6ceae4244f0827e0191a8905f0b06c1e1f3da89b4f7"
      "0b103c4efa2bc6d1f1d119d11cccdcdee7e0a6a4d124fe897a9125aebceed963");
  return g;
}
const Bytes &dhPrime() {
  static const Bytes p = fromHex(
      "ff4e7b4f067ea3af6d2f602c1c87f370872a0f6dc5c26b4cd73a1f1df8103001260c4b5092f4defcc58097fc1b16da3e"
      "fb015bbc16a4227bf4488025b0ba23d7");
  return p;
}
const Bytes &dhBase() {
  static const Bytes g = {0x02};
  return g;
}

namespace {

const KeyEntry kKeys[kKeyCount] = {
    {"rsa1024.public", CKO_PUBLIC_KEY, CKK_RSA, 128, kRsaPrivate, nullptr},
    {"rsa1024.private", CKO_PRIVATE_KEY, CKK_RSA, 128, kRsaPublic, nullptr},
    {"rsa1024-leading-zero.public", CKO_PUBLIC_KEY, CKK_RSA, 128, kRsaLeadingZeroPrivate, nullptr},
    {"rsa1024-leading-zero.private", CKO_PRIVATE_KEY, CKK_RSA, 128, kRsaLeadingZeroPublic, nullptr},
    {"dsa1024.public", CKO_PUBLIC_KEY, CKK_DSA, 128, kDsaPrivate, nullptr},
    {"dsa1024.private", CKO_PRIVATE_KEY, CKK_DSA, 128, kDsaPublic, nullptr},
    {"ec-p256.public", CKO_PUBLIC_KEY, CKK_EC, 32, kP256Private, &curveP256()},
    {"ec-p256.private", CKO_PRIVATE_KEY, CKK_EC, 32, kP256Public, &curveP256()},
    {"ec-p384.public", CKO_PUBLIC_KEY, CKK_EC, 48, kP384Private, &curveP384()},
    {"ec-p384.private", CKO_PRIVATE_KEY, CKK_EC, 48, kP384Public, &curveP384()},
    {"ec-p521.public", CKO_PUBLIC_KEY, CKK_EC, 66, kP521Private, &curveP521()},
    {"ec-p521.private", CKO_PRIVATE_KEY, CKK_EC, 66, kP521Public, &curveP521()},
    {"ec-frp256v1.public", CKO_PUBLIC_KEY, CKK_EC, 32, kFrp256Private, &curveFrp256()},
    {"ec-frp256v1.private", CKO_PRIVATE_KEY, CKK_EC, 32, kFrp256Public, &curveFrp256()},
    {"ed25519.public", CKO_PUBLIC_KEY, kKeyTypeEdwards, 32, kEd25519Private, &curveEd25519()},
    {"ed25519.private", CKO_PRIVATE_KEY, kKeyTypeEdwards, 32, kEd25519Public, &curveEd25519()},
    {"dh512.public", CKO_PUBLIC_KEY, CKK_DH, 64, kDhPrivate, nullptr},
    {"dh512.private", CKO_PRIVATE_KEY, CKK_DH, 64, kDhPublic, nullptr},
    {"aes128", CKO_SECRET_KEY, CKK_AES, 16, kAes128, nullptr},
    {"aes192", CKO_SECRET_KEY, CKK_AES, 24, kAes192, nullptr},
    {"aes256", CKO_SECRET_KEY, CKK_AES, 32, kAes256, nullptr},
    {"aes128.restricted", CKO_SECRET_KEY, CKK_AES, 16, kAesRestricted, nullptr},
    {"des", CKO_SECRET_KEY, CKK_DES, 8, kDes, nullptr},
    {"des2", CKO_SECRET_KEY, CKK_DES2, 16, kDes2, nullptr},
    {"des3", CKO_SECRET_KEY, CKK_DES3, 24, kDes3, nullptr},
    {"generic-secret", CKO_SECRET_KEY, CKK_GENERIC_SECRET, 32, kGenericSecret, nullptr},
    {"camellia128", CKO_SECRET_KEY, CKK_CAMELLIA, 16, kCamellia128, nullptr},
    {"data-object", CKO_DATA, 0, 0, kDataObject, nullptr},
};

}  // namespace

const KeyEntry &keyEntry(KeyIndex key) { return kKeys[key]; }

std::vector<KeyIndex> usableKeysOf(CK_KEY_TYPE keyType, CK_OBJECT_CLASS objectClass) {
  std::vector<KeyIndex> keys;
  for (KeyIndex key = 0; key < kKeyCount; ++key) {
    if (kKeys[key].keyType == keyType && kKeys[key].objectClass == objectClass && key != kAesRestricted) {
      keys.push_back(key);
    }
  }
  return keys;
}

}  // namespace zorvel::robustness
