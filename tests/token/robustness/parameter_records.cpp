#include "parameter_records.h"

#include "c_structures.h"
#include "key_catalogue.h"

#include <algorithm>

namespace zorvel::robustness {
namespace {

// Values that sit at or past the edges of what lengths, bit counts and selectors take.
constexpr CK_ULONG kOddValues[] = {0, 1, 7, 8, 12, 16, 20, 96, 128, 129, 256, 0xFFFFFFFF, ~0UL};
// Lengths stated next to a null pointer.
constexpr CK_ULONG kNullLengths[] = {1, 12, 16, 20, 65, 1UL << 20, ~0UL >> 1};
// Hashes and mask generation functions, the HMAC codes among them.
constexpr CK_ULONG kHashes[] = {CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512};
constexpr CK_ULONG kOddHashes[] = {0, CKM_MD5, CKM_SHA256_HMAC, CKM_SHA_1_HMAC, CKM_AES_ECB, 0xC0000001};
constexpr CK_ULONG kLegitimateOaepHashes[] = {CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384};
constexpr CK_ULONG kKdfs[] = {CKD_NULL, CKD_SHA1_KDF, CKD_SHA224_KDF, CKD_SHA256_KDF, CKD_SHA384_KDF, CKD_SHA512_KDF};

CK_ULONG mgfOf(CK_MECHANISM_TYPE hash) {
  switch (hash) {
    case CKM_SHA224: return CKG_MGF1_SHA224;
    case CKM_SHA256: return CKG_MGF1_SHA256;
    case CKM_SHA384: return CKG_MGF1_SHA384;
    case CKM_SHA512: return CKG_MGF1_SHA512;
    default: return CKG_MGF1_SHA1;
  }
}

CK_ULONG hashBytes(CK_MECHANISM_TYPE hash) {
  switch (hash) {
    case CKM_SHA224: return 28;
    case CKM_SHA256: return 32;
    case CKM_SHA384: return 48;
    case CKM_SHA512: return 64;
    default: return 20;
  }
}

// Builds the fields of one record, in the C structure's order; a malformed builder varies
// pointers, lengths and values on the way.
class RecordBuilder {
 public:
  RecordBuilder(RandomSource &random, bool malformed) : random_(random), malformed_(malformed) {}

  void value(const char *name, CK_ULONG valid) {
    add(name, Field::Kind::Ulong).value = vary() ? random_.pick(kOddValues) : valid;
  }
  void value(const char *name, CK_ULONG valid, const CK_ULONG *odd, std::size_t oddCount) {
    add(name, Field::Kind::Ulong).value = vary() ? odd[random_.below(oddCount)] : valid;
  }
  void inlineBytes(const char *name, std::size_t length) {
    add(name, Field::Kind::InlineBytes).bytes = random_.bytes(length);
  }
  // A pointer and its length; lengthFirst for the records that state the length first.
  void bytesWithLength(const char *pointerName, const char *lengthName, Bytes bytes, bool lengthFirst = false) {
    Field pointer = named(pointerName, Field::Kind::Pointer);
    Field length = named(lengthName, Field::Kind::Ulong);
    pointer.bytes = std::move(bytes);
    pointer.null = pointer.bytes.empty() && random_.percent(50);
    length.value = pointer.bytes.size();
    if (vary()) {
      switch (random_.below(3)) {
        case 0:  // a length and no bytes
          pointer.null = true;
          length.value = pointer.bytes.empty() ? random_.pick(kNullLengths) : pointer.bytes.size();
          break;
        case 1:  // bytes and no length
          length.value = 0;
          break;
        default:  // neither
          pointer.null = true;
          length.value = 0;
          break;
      }
    }
    if (pointer.null) pointer.bytes.clear();
    fields_.push_back(lengthFirst ? length : pointer);
    fields_.push_back(lengthFirst ? pointer : length);
  }
  // A pointer to a key's value and the value's length, both read when the case runs.
  void keyValueWithLength(const char *pointerName, const char *lengthName, const KeyValue &from, bool lengthFirst) {
    bytesWithLength(pointerName, lengthName, Bytes(1, 0), lengthFirst);
    Field &pointer = fields_[fields_.size() - (lengthFirst ? 1 : 2)];
    Field &length = fields_[fields_.size() - (lengthFirst ? 2 : 1)];
    if (!pointer.null && length.value != 0) {
      pointer.bytes.clear();
      pointer.from = from;
      length.from = from;
    }
  }

  Parameter finish(const char *recordName) {
    Parameter parameter;
    parameter.kind = Parameter::Kind::Record;
    parameter.recordName = recordName;
    parameter.fields = std::move(fields_);
    if (malformed_ && random_.percent(15)) {
      const CK_ULONG size = recordSize(parameter.fields);
      // Never the length of another form of the record (GCM's five and six fields): a
      // record read in the other form would have pointers read from other fields.
      parameter.declaredLength = random_.pick({CK_ULONG{0}, CK_ULONG{1}, size > 0 ? size - 1 : 0, size + 1, 2 * size});
    }
    return parameter;
  }

 private:
  bool vary() { return malformed_ && random_.percent(25); }
  Field named(const char *name, Field::Kind kind) {
    Field field;
    field.name = name;
    field.kind = kind;
    return field;
  }
  Field &add(const char *name, Field::Kind kind) {
    fields_.push_back(named(name, kind));
    return fields_.back();
  }

  RandomSource &random_;
  bool malformed_;
  std::vector<Field> fields_;
};

// The public key whose value an ECDH or DH derivation with key takes.
KeyIndex publicPartner(KeyIndex key, CK_KEY_TYPE keyType) {
  const KeyEntry &entry = keyEntry(key);
  if (entry.keyType == keyType) return entry.objectClass == CKO_PUBLIC_KEY ? key : entry.partner;
  return keyType == CKK_DH ? kDhPublic : kP256Public;
}

Parameter build(RecordShape shape, const MechanismEntry &mechanism, KeyIndex key, RandomSource &random,
                bool malformed) {
  RecordBuilder record(random, malformed);
  switch (shape) {
    case RecordShape::None: return {};
    case RecordShape::Iv8:
    case RecordShape::Iv16: {
      const std::size_t length = shape == RecordShape::Iv8 ? 8 : 16;
      record.inlineBytes("iv", malformed && random.percent(30) ? random.pick({0, 1, 7, 8, 12, 15, 17, 32}) : length);
      return record.finish("IV");
    }
    case RecordShape::AesCtr:
      record.value("ulCounterBits", random.pick({32, 64, 128}));
      record.inlineBytes("cb", 16);
      return record.finish("CK_AES_CTR_PARAMS");
    case RecordShape::Gcm: {
      const bool sixFields = random.percent(50);
      const bool gmac = mechanism.type == CKM_AES_GMAC;
      const std::size_t ivLength = malformed && random.percent(40) ? random.pick({0, 1, 12, 16, 64})
                                                                   : random.pick({12, 16, 1});
      record.bytesWithLength("pIv", "ulIvLen", random.bytes(ivLength));
      if (sixFields) record.value("ulIvBits", ivLength * 8);
      record.bytesWithLength("pAAD", "ulAADLen", gmac ? Bytes() : random.bytes(random.pick({0, 0, 1, 20, 33})));
      const CK_ULONG oddTags[] = {0, 7, 8, 32, 129, 256};
      record.value("ulTagBits", random.pick({96, 104, 112, 120, 128}), oddTags, 6);
      return record.finish(sixFields ? "CK_GCM_PARAMS (6 fields)" : "CK_GCM_PARAMS (5 fields)");
    }
    case RecordShape::Oaep: {
      const CK_ULONG hash = random.pick(kLegitimateOaepHashes);
      record.value("hashAlg", hash, kOddHashes, 6);
      record.value("mgf", random.percent(70) ? mgfOf(hash) : mgfOf(random.pick(kHashes)));
      record.value("source", random.pick({CK_ULONG{CKZ_DATA_SPECIFIED}, CK_ULONG{0}}));
      record.bytesWithLength("pSourceData", "ulSourceDataLen", random.bytes(random.pick({0, 0, 1, 16})));
      return record.finish("CK_RSA_PKCS_OAEP_PARAMS");
    }
    case RecordShape::Pss: {
      const CK_ULONG hash = mechanism.hash != 0 ? mechanism.hash : CKM_SHA256;
      record.value("hashAlg", hash, kOddHashes, 6);
      record.value("mgf", mgfOf(hash));
      record.value("sLen", random.pick({CK_ULONG{0}, CK_ULONG{20}, hashBytes(hash)}));
      return record.finish("CK_RSA_PKCS_PSS_PARAMS");
    }
    case RecordShape::Ecdh1: {
      const CK_ULONG kdf = random.pick(kKdfs);
      record.value("kdf", kdf);
      record.bytesWithLength("pSharedData", "ulSharedDataLen",
                             kdf == CKD_NULL ? Bytes() : random.bytes(random.pick({0, 8, 16})), true);
      const KeyIndex partner = publicPartner(key, CKK_EC);
      record.keyValueWithLength("pPublicData", "ulPublicDataLen", {partner, CKA_EC_POINT, 0}, true);
      return record.finish("CK_ECDH1_DERIVE_PARAMS");
    }
    case RecordShape::DhPublicValue: {
      Field value;
      value.name = "public value";
      value.kind = Field::Kind::InlineBytes;
      value.from = KeyValue{publicPartner(key, CKK_DH), CKA_VALUE, 0};
      if (malformed && random.percent(30)) {
        value.from.reset();
        value.bytes = random.bytes(random.pick({0, 1, 63, 64, 65, 128}));
      }
      Parameter parameter;
      parameter.kind = Parameter::Kind::Record;
      parameter.recordName = "DH public value";
      parameter.fields.push_back(value);
      return parameter;
    }
    case RecordShape::KeyDerivationString:
      record.bytesWithLength("pData", "ulLen", random.bytes(malformed ? random.pick({0, 1, 8, 15, 32}) : 32));
      return record.finish("CK_KEY_DERIVATION_STRING_DATA");
    case RecordShape::DesCbcEncryptData:
    case RecordShape::AesCbcEncryptData: {
      const bool des = shape == RecordShape::DesCbcEncryptData;
      record.inlineBytes("iv", des ? 8 : 16);
      record.bytesWithLength("pData", "length", random.bytes(malformed ? random.pick({0, 1, 8, 15, 32}) : 32));
      return record.finish(des ? "CK_DES_CBC_ENCRYPT_DATA_PARAMS" : "CK_AES_CBC_ENCRYPT_DATA_PARAMS");
    }
  }
  return {};
}

// The lengths of the records of a shape that hold pointers (none for the others): a record
// of another shape and the same length would have its bytes read as pointers, which no
// token can judge.
std::vector<CK_ULONG> pointerRecordLengths(RecordShape shape) {
  switch (shape) {
    case RecordShape::Gcm: return {sizeof(CK_GCM_PARAMS), sizeof(CK_GCM_PARAMS) + sizeof(CK_ULONG)};
    case RecordShape::Oaep: return {sizeof(CK_RSA_PKCS_OAEP_PARAMS)};
    case RecordShape::Ecdh1: return {sizeof(CK_ECDH1_DERIVE_PARAMS)};
    case RecordShape::KeyDerivationString: return {sizeof(CK_KEY_DERIVATION_STRING_DATA)};
    case RecordShape::DesCbcEncryptData: return {sizeof(CK_DES_CBC_ENCRYPT_DATA_PARAMS)};
    case RecordShape::AesCbcEncryptData: return {sizeof(CK_AES_CBC_ENCRYPT_DATA_PARAMS)};
    default: return {};
  }
}

constexpr RecordShape kShapes[] = {
    RecordShape::Iv8, RecordShape::Iv16, RecordShape::AesCtr, RecordShape::Gcm, RecordShape::Oaep, RecordShape::Pss,
    RecordShape::Ecdh1, RecordShape::DhPublicValue, RecordShape::KeyDerivationString,
    RecordShape::DesCbcEncryptData, RecordShape::AesCbcEncryptData,
};

}  // namespace

Parameter validParameter(const MechanismEntry &mechanism, KeyIndex key, RandomSource &random) {
  return build(mechanism.record, mechanism, key, random, false);
}

Parameter arbitraryParameter(const MechanismEntry &mechanism, KeyIndex key, RandomSource &random) {
  const unsigned roll = static_cast<unsigned>(random.below(100));
  if (roll < 8) return {};
  if (roll < 16) {
    Parameter parameter;
    parameter.kind = Parameter::Kind::NullWithLength;
    parameter.declaredLength = random.pick({CK_ULONG{1}, CK_ULONG{16}, CK_ULONG{40}, CK_ULONG{48}, CK_ULONG{1} << 20});
    return parameter;
  }
  if (roll < 26) {
    Parameter other = build(random.pick(kShapes), mechanism, key, random, random.percent(50));
    const std::vector<CK_ULONG> taken = pointerRecordLengths(mechanism.record);
    if (std::find(taken.begin(), taken.end(), parameterLength(other)) == taken.end()) return other;
  }
  return build(mechanism.record, mechanism, key, random, roll < 70);
}

}  // namespace zorvel::robustness
