// The mechanisms the generator uses: every mechanism Debian's SoftHSM2 2.6.1 lists (a target
// that lists one missing here says so when it is prepared), the stand-in's emulated ones
// and some values neither knows, each with what a legitimate use of it takes.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_MECHANISM_CATALOGUE_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_MECHANISM_CATALOGUE_H

#include "case_model.h"

#include <vector>

namespace zorvel::robustness {

// Mechanisms PKCS#11 2.40 has no name for.
constexpr CK_MECHANISM_TYPE kMechanismEdwardsKeyPairGen = 0x1055;
constexpr CK_MECHANISM_TYPE kMechanismEddsa = 0x1057;

constexpr CK_KEY_TYPE kNoKey = ~0UL;

// The parameter record a mechanism takes.
enum class RecordShape {
  None, Iv8, Iv16, AesCtr, Gcm, Oaep, Pss, Ecdh1, DhPublicValue,
  KeyDerivationString, DesCbcEncryptData, AesCbcEncryptData,
};

// The data a legitimate use of the mechanism takes.
enum class DataRule {
  Any,        // any length from 1 byte
  Block8,     // whole 8-byte blocks
  Block16,    // whole 16-byte blocks
  RsaPkcs,    // at most the modulus length less 11
  RsaRaw,     // the modulus length, below the modulus
  RsaOaep,    // at most the modulus length less 42 (SHA-1)
  Digest,     // exactly digestBytes
};

struct MechanismEntry {
  CK_MECHANISM_TYPE type;
  const char *name;
  CK_FLAGS uses;              // CKF_ENCRYPT .. CKF_DERIVE, CKF_GENERATE, CKF_GENERATE_KEY_PAIR, CKF_DIGEST
  CK_KEY_TYPE keyTypes[2];    // the key types it takes (kNoKey: none)
  RecordShape record;
  DataRule data;
  bool multiPart;             // Update and Final take it
  CK_MECHANISM_TYPE hash;     // PSS: the hash of the record; 0 otherwise
  CK_ULONG digestBytes;       // DataRule::Digest
  bool known;                 // false: a value no target knows
};

const std::vector<MechanismEntry> &mechanismCatalogue();
// The entry of a mechanism type, or nullptr.
const MechanismEntry *findMechanism(CK_MECHANISM_TYPE type);
// The name of a mechanism type, or its value in hex.
std::string mechanismName(CK_MECHANISM_TYPE type);
// The catalogue's entries that have any of the uses.
std::vector<const MechanismEntry *> mechanismsFor(CK_FLAGS uses);
bool takesKeyType(const MechanismEntry &entry, CK_KEY_TYPE keyType);

}  // namespace zorvel::robustness

#endif
