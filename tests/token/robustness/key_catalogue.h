// The keys every target prepares before its cases (key_set.h), named so that a case can
// refer to them whatever handles a target gives them.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_KEY_CATALOGUE_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_KEY_CATALOGUE_H

#include "case_model.h"

#include <vector>

namespace zorvel::robustness {

// Key types PKCS#11 2.40 has no name for.
constexpr CK_KEY_TYPE kKeyTypeEdwards = 0x40;

enum KeyName : KeyIndex {
  kRsaPublic, kRsaPrivate,
  kRsaLeadingZeroPublic, kRsaLeadingZeroPrivate,  // CKA_MODULUS = 00 || n
  kDsaPublic, kDsaPrivate,
  kP256Public, kP256Private,
  kP384Public, kP384Private,
  kP521Public, kP521Private,
  kFrp256Public, kFrp256Private,  // a curve only the stand-in knows
  kEd25519Public, kEd25519Private,
  kDhPublic, kDhPrivate,
  kAes128, kAes192, kAes256,
  kAesRestricted,  // no use permitted, sensitive, not extractable
  kDes, kDes2, kDes3,
  kGenericSecret,
  kCamellia128,
  kDataObject,
  kKeyCount,
};

struct KeyEntry {
  const char *name;
  CK_OBJECT_CLASS objectClass;
  CK_KEY_TYPE keyType;     // unused for the data object
  CK_ULONG bytes;          // RSA: modulus length; secret keys: their length; EC: field size
  KeyIndex partner;        // the other half of a pair (itself for a secret key)
  const Bytes *ecParams;   // EC keys: their curve
};

const KeyEntry &keyEntry(KeyIndex key);

// The keys of a type and class that permit their uses (all but aes128.restricted).
std::vector<KeyIndex> usableKeysOf(CK_KEY_TYPE keyType, CK_OBJECT_CLASS objectClass);

// DER encodings of the curves' identifiers (named-curve CKA_EC_PARAMS).
const Bytes &curveP256();
const Bytes &curveP384();
const Bytes &curveP521();
const Bytes &curveFrp256();
const Bytes &curveEd25519();
// A fixed RSA key of 1024 bits (both RSA pairs of the set are made from it, so that a
// case runs on the same key values in every process and every run).
struct RsaKeyValues {
  Bytes modulus, publicExponent, privateExponent, prime1, prime2, exponent1, exponent2, coefficient;
};
const RsaKeyValues &rsaKeyValues();
// Fixed domain parameters, so that set-up and generation need no parameter generation.
const Bytes &dsaPrime();
const Bytes &dsaSubprime();
const Bytes &dsaBase();
const Bytes &dhPrime();
const Bytes &dhBase();

}  // namespace zorvel::robustness

#endif
