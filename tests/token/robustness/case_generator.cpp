#include "case_generator.h"

#include "case_printer.h"
#include "key_catalogue.h"
#include "mechanism_catalogue.h"
#include "parameter_records.h"
#include "random_source.h"
#include "template_generator.h"

#include <algorithm>

namespace zorvel::robustness {
namespace {

// The calls of one operation family.
struct Family {
  const char *name;
  CK_FLAGS use;
  Call init, oneShot, update, final;
  bool producesOutput;  // Encrypt, Decrypt, Digest and Sign return bytes; Verify takes a signature
};

constexpr Family kEncrypt = {"encrypt", CKF_ENCRYPT, Call::EncryptInit, Call::Encrypt, Call::EncryptUpdate,
                             Call::EncryptFinal, true};
constexpr Family kDecrypt = {"decrypt", CKF_DECRYPT, Call::DecryptInit, Call::Decrypt, Call::DecryptUpdate,
                             Call::DecryptFinal, true};
constexpr Family kDigest = {"digest", CKF_DIGEST, Call::DigestInit, Call::Digest, Call::DigestUpdate,
                            Call::DigestFinal, true};
constexpr Family kSign = {"sign", CKF_SIGN, Call::SignInit, Call::Sign, Call::SignUpdate, Call::SignFinal, true};
constexpr Family kVerify = {"verify", CKF_VERIFY, Call::VerifyInit, Call::Verify, Call::VerifyUpdate,
                            Call::VerifyFinal, false};
const Family *const kFamilies[] = {&kEncrypt, &kDecrypt, &kDigest, &kSign, &kVerify};

// The class of key a use takes for an asymmetric key type.
CK_OBJECT_CLASS classFor(CK_FLAGS use, CK_KEY_TYPE keyType) {
  switch (keyType) {
    case CKK_RSA:
    case CKK_DSA:
    case CKK_EC:
    case CKK_DH:
    case kKeyTypeEdwards:
      return (use & (CKF_ENCRYPT | CKF_VERIFY | CKF_WRAP)) != 0 ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY;
    default: return CKO_SECRET_KEY;
  }
}

constexpr CK_ULONG kDataLengths[] = {0, 1, 7, 8, 15, 16, 17, 20, 31, 32, 33, 64, 100, 1000, 4096};
// About an RSA key's block: PKCS#1's limit, and 127/128/129/130 bytes around the modulus.
constexpr CK_ULONG kRsaLengths[] = {116, 117, 118, 127, 128, 129, 130};
constexpr CK_ULONG kOutputLengths[] = {0, 1, 7, 15, 16, 20, 63, 127, 128, 129};
constexpr CK_OBJECT_HANDLE kOddHandles[] = {CK_INVALID_HANDLE, 0xFFFF, 0x7FFFFFFF, ~0UL};
constexpr CK_ULONG kAmpleOutput = 8192;

class Generator {
 public:
  Generator(std::uint64_t seed, std::uint64_t index, CaseMode mode) : random_(seed, index), mode_(mode) {
    case_.seed = seed;
    case_.index = index;
  }

  Case generate() {
    const unsigned roll = static_cast<unsigned>(random_.below(100));
    if (roll < 30) {
      templateCall();
    } else if (roll < 38) {
      attributeRead();
    } else if (roll < 80) {
      operation();
    } else if (roll < 92) {
      wrapping();
    } else {
      derivation();
    }
    return std::move(case_);
  }

 private:
  bool legitimate() const { return mode_ == CaseMode::Legitimate; }

  Step &add(Call call) {
    case_.steps.emplace_back();
    case_.steps.back().call = call;
    return case_.steps.back();
  }

  static ObjectRef keyRef(KeyIndex key) {
    ObjectRef ref;
    ref.kind = ObjectRef::Kind::Key;
    ref.key = key;
    return ref;
  }
  static ObjectRef madeRef(std::size_t made) {
    ObjectRef ref;
    ref.kind = ObjectRef::Kind::Made;
    ref.made = made;
    return ref;
  }

  // Any object of the set, now and then a handle that names none.
  ObjectRef anyObject() {
    if (random_.percent(5)) {
      ObjectRef ref;
      ref.handle = random_.pick(kOddHandles);
      return ref;
    }
    return keyRef(random_.below(kKeyCount));
  }

  // A key the mechanism takes for the use, else any key.
  KeyIndex fittingKey(const MechanismEntry &mechanism, CK_FLAGS use) {
    const CK_KEY_TYPE keyType = mechanism.keyTypes[mechanism.keyTypes[1] != kNoKey && random_.percent(50) ? 1 : 0];
    if (keyType != kNoKey) {
      const std::vector<KeyIndex> keys = usableKeysOf(keyType, classFor(use, keyType));
      if (!keys.empty()) return random_.pick(keys);
    }
    return random_.below(kKeyCount);
  }

  // For arbitrary cases: mostly a key that fits, else the other half of its pair (a public
  // key to decrypt with, a private one to verify with) or any key.
  KeyIndex arbitraryKey(const MechanismEntry &mechanism, CK_FLAGS use) {
    const unsigned roll = static_cast<unsigned>(random_.below(100));
    if (roll < 55) return fittingKey(mechanism, use);
    if (roll < 70) return keyEntry(fittingKey(mechanism, use)).partner;
    return random_.below(kKeyCount);
  }

  // A mechanism for the use; arbitrary cases also take any other and unknown ones.
  const MechanismEntry &mechanismFor(CK_FLAGS use) {
    const std::vector<const MechanismEntry *> fitting = mechanismsFor(use);
    if (legitimate() || random_.percent(75)) {
      for (;;) {
        const MechanismEntry &entry = *random_.pick(fitting);
        if (entry.known) return entry;
      }
    }
    return random_.pick(mechanismCatalogue());
  }

  MechanismSpec mechanismSpec(const MechanismEntry &mechanism, KeyIndex key) {
    MechanismSpec spec;
    spec.type = mechanism.type;
    spec.parameter = legitimate() ? validParameter(mechanism, key, random_)
                                  : arbitraryParameter(mechanism, key, random_);
    return spec;
  }

  Template templateFor(const TemplatePurpose &purpose) {
    return legitimate() ? legitimateTemplate(purpose, random_) : arbitraryTemplate(purpose, random_);
  }

  Output ample() {
    Output output;
    output.length = kAmpleOutput;
    return output;
  }

  Output arbitraryOutput() {
    Output output;
    const unsigned roll = static_cast<unsigned>(random_.below(100));
    if (roll < 20) {
      output.kind = Output::Kind::Query;
      output.length = random_.pick({CK_ULONG{0}, CK_ULONG{1}, CK_ULONG{128}, ~0UL});
    } else if (roll < 38) {
      output.length = random_.pick(kOutputLengths);
    } else if (roll < 40) {
      output.kind = Output::Kind::NoLength;
    } else {
      output.length = kAmpleOutput;
    }
    return output;
  }

  Input literal(Bytes bytes) {
    Input input;
    input.bytes = std::move(bytes);
    return input;
  }
  Input previousOutput() {
    Input input;
    input.kind = Input::Kind::PreviousOutput;
    return input;
  }

  // Data as a legitimate use of the mechanism takes it.
  Bytes legitimateData(const MechanismEntry &mechanism, KeyIndex key) {
    const CK_ULONG modulus = keyEntry(key).bytes;
    switch (mechanism.data) {
      case DataRule::Any: return random_.bytes(1 + random_.below(300));
      case DataRule::Block8: return random_.bytes(8 * (2 + random_.below(8)));
      case DataRule::Block16: return random_.bytes(16 * (1 + random_.below(8)));
      case DataRule::RsaPkcs: return random_.bytes(1 + random_.below(modulus - 11));
      case DataRule::RsaRaw: {
        Bytes data = random_.bytes(random_.percent(70) ? modulus : 1 + random_.below(modulus));
        if (data.size() == modulus) data[0] = 0;  // below any modulus of that length
        return data;
      }
      case DataRule::RsaOaep: return random_.bytes(1 + random_.below(kOaepDataBytes));
      case DataRule::Digest: return random_.bytes(mechanism.digestBytes);
    }
    return {};
  }

  Input arbitraryData(KeyIndex key) {
    if (random_.percent(4)) {
      Input input;
      input.kind = Input::Kind::Null;
      input.length = random_.pick({0, 16, 128});
      return input;
    }
    const bool rsa = keyEntry(key).keyType == CKK_RSA;
    Bytes data = random_.bytes(rsa && random_.percent(60) ? random_.pick(kRsaLengths) : random_.pick(kDataLengths));
    switch (random_.below(6)) {
      case 0: std::fill(data.begin(), data.end(), 0xFF); break;  // above any modulus
      case 1: std::fill(data.begin(), data.end(), 0); break;
      case 2:
        if (!data.empty()) data[0] = 0;
        break;
      default: break;
    }
    return literal(std::move(data));
  }

  // ---- Operations (encrypt, decrypt, digest, sign, verify) ------------------------------

  void operation() {
    if (legitimate()) {
      legitimateOperation();
      return;
    }
    const Family &family = *random_.pick(kFamilies);
    case_.kind = std::string(family.name) + " operation";
    const MechanismEntry &mechanism = mechanismFor(family.use);
    const KeyIndex key = arbitraryKey(mechanism, family.use);
    Step &init = add(family.init);
    init.mechanism = mechanismSpec(mechanism, key);
    init.object = random_.percent(4) ? anyObject() : keyRef(key);
    arbitraryCalls(family, key);
  }

  void arbitraryPart(Call call, const Family &family, KeyIndex key) {
    Step &step = add(call);
    step.input = arbitraryData(key);
    step.output = arbitraryOutput();
    if (&family == &kVerify && call != family.update) {
      step.signature = random_.percent(30) ? previousOutput() : literal(random_.bytes(random_.pick(kRsaLengths)));
    }
  }

  // What follows an Init: the usual sequences and the misordered ones.
  void arbitraryCalls(const Family &family, KeyIndex key) {
    switch (random_.below(10)) {
      case 0: arbitraryPart(family.oneShot, family, key); break;
      case 1:  // a length query, then the call
        arbitraryPart(family.oneShot, family, key);
        case_.steps.back().output.kind = Output::Kind::Query;
        arbitraryPart(family.oneShot, family, key);
        break;
      case 2:
        for (std::size_t i = 1 + random_.below(3); i > 0; --i) arbitraryPart(family.update, family, key);
        arbitraryPart(family.final, family, key);
        break;
      case 3: arbitraryPart(family.final, family, key); break;  // Final without Update
      case 4:  // Update after Final
        arbitraryPart(family.update, family, key);
        arbitraryPart(family.final, family, key);
        arbitraryPart(family.update, family, key);
        break;
      case 5: {  // a second Init mid-way, of this family or another
        if (random_.percent(50)) arbitraryPart(family.update, family, key);
        const Family &other = random_.percent(50) ? family : *random_.pick(kFamilies);
        const MechanismEntry &mechanism = mechanismFor(other.use);
        const KeyIndex otherKey = fittingKey(mechanism, other.use);
        Step &init = add(other.init);
        init.mechanism = mechanismSpec(mechanism, otherKey);
        init.object = keyRef(otherKey);
        arbitraryPart(random_.percent(50) ? family.oneShot : other.oneShot, family, key);
        break;
      }
      case 6:  // calls after the end
        arbitraryPart(family.oneShot, family, key);
        arbitraryPart(random_.percent(50) ? family.oneShot : family.final, family, key);
        break;
      case 7:  // the session closed mid-operation
        if (random_.percent(50)) arbitraryPart(family.update, family, key);
        add(Call::CloseSession);
        arbitraryPart(random_.percent(50) ? family.update : family.final, family, key);
        break;
      case 8: {  // a call of another family
        const Family &other = *random_.pick(kFamilies);
        arbitraryPart(random_.percent(50) ? other.oneShot : other.final, other, key);
        break;
      }
      default:  // a single-part call after parts
        arbitraryPart(family.update, family, key);
        arbitraryPart(family.oneShot, family, key);
        break;
    }
  }

  void legitimatePart(Call call, Input input, Output output, Input signature = {}) {
    Step &step = add(call);
    step.input = std::move(input);
    step.output = output;
    step.signature = std::move(signature);
  }

  // Runs the family's calls over data: single-part (after a length query, now and then)
  // or in parts; verification ends with the signature made before.
  void legitimateCalls(const Family &family, const MechanismEntry &mechanism, const Input &data) {
    const bool inParts = mechanism.multiPart && random_.percent(40) && data.kind == Input::Kind::Literal;
    const bool verifying = &family == &kVerify;
    if (!inParts) {
      if (family.producesOutput && random_.percent(30)) {
        Output query;
        query.kind = Output::Kind::Query;
        legitimatePart(family.oneShot, data, query);
      }
      legitimatePart(family.oneShot, data, ample(), verifying ? previousOutput() : Input());
      return;
    }
    const std::size_t cut = random_.below(data.bytes.size() + 1);
    legitimatePart(family.update, literal(Bytes(data.bytes.begin(), data.bytes.begin() + cut)), ample());
    legitimatePart(family.update, literal(Bytes(data.bytes.begin() + cut, data.bytes.end())), ample());
    legitimatePart(family.final, Input(), ample(), verifying ? previousOutput() : Input());
  }

  void legitimateOperation() {
    const unsigned roll = static_cast<unsigned>(random_.below(3));
    const Family &first = roll == 0 ? kEncrypt : roll == 1 ? kSign : kDigest;
    case_.kind = std::string(first.name) + " round trip";
    const MechanismEntry &mechanism = mechanismFor(first.use);
    const KeyIndex key = fittingKey(mechanism, first.use);
    Step &init = add(first.init);
    init.mechanism = mechanismSpec(mechanism, key);
    if (&first != &kDigest) init.object = keyRef(key);
    const MechanismSpec spec = init.mechanism;
    const Input data = literal(legitimateData(mechanism, key));
    legitimateCalls(first, mechanism, data);
    if (&first == &kDigest) return;
    // The way back: decryption of the ciphertext, verification of the signature.
    const Family &second = &first == &kEncrypt ? kDecrypt : kVerify;
    if ((mechanism.uses & second.use) == 0) return;
    Step &back = add(second.init);
    back.mechanism = spec;
    back.object = keyRef(keyEntry(key).partner);
    legitimateCalls(second, mechanism, &second == &kDecrypt ? previousOutput() : data);
  }

  // ---- Calls that take a template --------------------------------------------------------

  // A template for an object like key (its class and type), made or changed by call.
  TemplatePurpose purposeFor(Call call, KeyIndex key) {
    TemplatePurpose purpose;
    purpose.call = call;
    purpose.object = key;
    purpose.objectClass = keyEntry(key).objectClass;
    purpose.keyType = keyEntry(key).keyType;
    return purpose;
  }

  void templateCall() {
    switch (random_.below(8)) {
      case 0: {
        case_.kind = "C_CreateObject";
        // A data object, a secret key of any type, or a copy of a key pair's half.
        const KeyIndex like = random_.below(kKeyCount);
        add(Call::CreateObject).first = templateFor(purposeFor(Call::CreateObject, like));
        useMadeObject(like);
        break;
      }
      case 1: useMadeObject(changedObject(Call::CopyObject)); break;
      case 2: changedObject(Call::SetAttributeValue); break;
      case 3: search(); break;
      case 4:
      case 5: keyGeneration(); break;
      default: keyPairGeneration(); break;
    }
  }

  // C_CopyObject or C_SetAttributeValue on an object like key (or on a handle of none); the key.
  KeyIndex changedObject(Call call) {
    case_.kind = callName(call);
    const KeyIndex key = random_.below(kKeyCount);
    Step &step = add(call);
    step.object = legitimate() ? keyRef(key) : anyObject();
    step.first = templateFor(purposeFor(call, key));
    return key;
  }

  void search() {
    case_.kind = "C_FindObjectsInit";
    add(Call::FindObjectsInit).first = templateFor(purposeFor(Call::FindObjectsInit, kAes128));
    if (legitimate() || random_.percent(80)) {
      Step &find = add(Call::FindObjects);
      find.output.length = legitimate() ? 1 + random_.below(40) : random_.pick({0, 1, 2, 100});
      if (!legitimate() && random_.percent(5)) find.output.kind = Output::Kind::NoLength;
    }
    if (legitimate() || random_.percent(80)) add(Call::FindObjectsFinal);
    if (!legitimate() && random_.percent(15)) add(Call::FindObjects).output.length = 4;  // after the end
  }

  static TemplatePurpose generationPurpose(Call call, const MechanismEntry &mechanism) {
    TemplatePurpose purpose;
    purpose.call = call;
    purpose.mechanism = mechanism.type;
    purpose.keyType = mechanism.keyTypes[0];
    return purpose;
  }

  void keyGeneration() {
    case_.kind = "C_GenerateKey";
    const MechanismEntry &mechanism = mechanismFor(CKF_GENERATE);
    // DH parameters take long to make: keep them rare.
    if (mechanism.type == CKM_DH_PKCS_PARAMETER_GEN && random_.percent(80)) return keyGeneration();
    const TemplatePurpose purpose = generationPurpose(Call::GenerateKey, mechanism);
    Step &step = add(Call::GenerateKey);
    step.mechanism = mechanismSpec(mechanism, kAes128);
    step.first = templateFor(purpose);
    if (mechanism.keyTypes[0] == CKK_AES) useMadeObject(kAes128);
    if (mechanism.keyTypes[0] == CKK_CAMELLIA) useMadeObject(kCamellia128);
  }

  void keyPairGeneration() {
    case_.kind = "C_GenerateKeyPair";
    const MechanismEntry &mechanism = mechanismFor(CKF_GENERATE_KEY_PAIR);
    TemplatePurpose purpose = generationPurpose(Call::GenerateKeyPair, mechanism);
    Step &step = add(Call::GenerateKeyPair);
    step.mechanism = mechanismSpec(mechanism, kRsaPublic);
    purpose.objectClass = CKO_PUBLIC_KEY;
    step.first = templateFor(purpose);
    purpose.objectClass = CKO_PRIVATE_KEY;
    step.second = templateFor(purpose);
  }

  // Now and then the object just made runs an operation, as a key like the one given.
  void useMadeObject(KeyIndex like) {
    const KeyEntry &entry = keyEntry(like);
    if (entry.objectClass == CKO_DATA || !random_.percent(30)) return;
    const Family &family = entry.objectClass == CKO_PRIVATE_KEY ? kSign : kEncrypt;
    std::vector<const MechanismEntry *> fitting;
    for (const MechanismEntry *mechanism : mechanismsFor(family.use)) {
      if (takesKeyType(*mechanism, entry.keyType)) fitting.push_back(mechanism);
    }
    if (fitting.empty()) return;
    const MechanismEntry &mechanism = *random_.pick(fitting);
    Step &init = add(family.init);
    init.mechanism = mechanismSpec(mechanism, like);
    init.object = madeRef(0);
    if (legitimate()) {
      legitimateCalls(family, mechanism, literal(legitimateData(mechanism, like)));
    } else {
      arbitraryPart(family.oneShot, family, like);
    }
  }

  // ---- Attribute reads ----------------------------------------------------------------

  void attributeRead() {
    case_.kind = "C_GetAttributeValue";
    const KeyIndex key = random_.below(kKeyCount);
    Step &step = add(Call::GetAttributeValue);
    step.object = legitimate() ? keyRef(key) : anyObject();
    step.first = templateFor(purposeFor(Call::GetAttributeValue, key));
    if (legitimate() && random_.percent(50)) {
      // The same attributes again into ample buffers.
      Step again = step;
      for (AttributeSpec &spec : again.first.attributes) {
        spec.value.kind = AttributeValue::Kind::Bytes;
        spec.value.bytes.assign(1024, 0);
      }
      case_.steps.push_back(std::move(again));
    }
  }

  // ---- Wrapping and unwrapping -----------------------------------------------------------

  // A legitimate pairing: the wrapping mechanism, its key and the key wrapped.
  struct Pairing {
    const MechanismEntry *mechanism;
    KeyIndex wrappingKey;
    KeyIndex wrapped;
  };

  Pairing legitimatePairing() {
    static const KeyIndex kSecrets[] = {kAes128, kAes192, kAes256, kDes2, kDes3, kGenericSecret};
    static const KeyIndex kPrivates[] = {kRsaPrivate, kRsaLeadingZeroPrivate, kP256Private, kDsaPrivate};
    const KeyIndex aes = random_.pick({kAes128, kAes192, kAes256});
    const KeyIndex rsa = random_.pick({kRsaPublic, kRsaLeadingZeroPublic});
    switch (random_.below(6)) {
      case 0: return {findMechanism(CKM_AES_KEY_WRAP), aes, random_.pick(kSecrets)};
      case 1: return {findMechanism(CKM_AES_KEY_WRAP_PAD), aes,
                      random_.percent(50) ? random_.pick(kSecrets) : random_.pick(kPrivates)};
      case 2: return {findMechanism(CKM_RSA_PKCS), rsa, random_.pick(kSecrets)};
      case 3: return {findMechanism(CKM_RSA_PKCS_OAEP), rsa, random_.pick(kSecrets)};
      case 4: return {findMechanism(CKM_AES_CBC_PAD), aes, random_.pick({kRsaPrivate, kRsaLeadingZeroPrivate})};
      default: return {findMechanism(CKM_AES_CBC), aes, random_.pick({kAes128, kAes256, kGenericSecret})};
    }
  }

  void wrapping() {
    case_.kind = "C_WrapKey/C_UnwrapKey";
    Pairing pairing{};
    if (legitimate()) {
      pairing = legitimatePairing();
    } else {
      pairing.mechanism = &mechanismFor(CKF_WRAP);
      pairing.wrappingKey = arbitraryKey(*pairing.mechanism, CKF_WRAP);
      pairing.wrapped = random_.below(kKeyCount);
    }
    const MechanismSpec spec = mechanismSpec(*pairing.mechanism, pairing.wrappingKey);
    const bool wrapFirst = legitimate() || random_.percent(70);
    if (wrapFirst) {
      Step &wrap = add(Call::WrapKey);
      wrap.mechanism = spec;
      wrap.object = keyRef(pairing.wrappingKey);
      wrap.wrapped = keyRef(pairing.wrapped);
      wrap.output = legitimate() ? ample() : arbitraryOutput();
    }
    if (!legitimate() && wrapFirst && random_.percent(30)) return;
    Step &unwrap = add(Call::UnwrapKey);
    unwrap.mechanism = legitimate() || random_.percent(70) ? spec : mechanismSpec(mechanismFor(CKF_UNWRAP), 0);
    unwrap.object = keyRef(keyEntry(pairing.wrappingKey).partner);
    if (wrapFirst && (legitimate() || random_.percent(70))) {
      unwrap.input = previousOutput();
    } else {
      unwrap.input = literal(random_.bytes(random_.pick({0, 8, 16, 24, 40, 127, 128, 129})));
    }
    TemplatePurpose purpose = purposeFor(Call::UnwrapKey, pairing.wrapped);
    purpose.mechanism = pairing.mechanism->type;
    unwrap.first = templateFor(purpose);
  }

  // ---- Derivation ----------------------------------------------------------------------

  void derivation() {
    case_.kind = "C_DeriveKey";
    const MechanismEntry &mechanism = mechanismFor(CKF_DERIVE);
    const KeyIndex base = legitimate() ? fittingKey(mechanism, CKF_DERIVE) : arbitraryKey(mechanism, CKF_DERIVE);
    Step &step = add(Call::DeriveKey);
    step.mechanism = mechanismSpec(mechanism, base);
    step.object = keyRef(base);
    TemplatePurpose purpose;
    purpose.call = Call::DeriveKey;
    purpose.mechanism = mechanism.type;
    purpose.keyType = random_.pick({CKK_GENERIC_SECRET, CKK_AES, CKK_DES3});
    step.first = templateFor(purpose);
    if (purpose.keyType == CKK_AES) useMadeObject(kAes128);
  }

  RandomSource random_;
  CaseMode mode_;
  Case case_;
};

}  // namespace

Case generateCase(std::uint64_t seed, std::uint64_t index, CaseMode mode) {
  return Generator(seed, index, mode).generate();
}

}  // namespace zorvel::robustness
