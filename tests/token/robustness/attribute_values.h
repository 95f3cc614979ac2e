// Attributes of a template, by value: the shapes the generator and the key set write.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_ATTRIBUTE_VALUES_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_ATTRIBUTE_VALUES_H

#include "case_model.h"

#include <cstring>
#include <utility>

namespace zorvel::robustness {

inline AttributeSpec bytesAttribute(CK_ATTRIBUTE_TYPE type, Bytes bytes) {
  AttributeSpec spec;
  spec.type = type;
  spec.value.bytes = std::move(bytes);
  return spec;
}

inline Bytes ulongBytes(CK_ULONG value) {
  Bytes bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

inline AttributeSpec ulongAttribute(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
  return bytesAttribute(type, ulongBytes(value));
}

inline AttributeSpec boolAttribute(CK_ATTRIBUTE_TYPE type, bool value) {
  return bytesAttribute(type, Bytes{static_cast<CK_BYTE>(value ? CK_TRUE : CK_FALSE)});
}

inline AttributeSpec nullAttribute(CK_ATTRIBUTE_TYPE type, CK_ULONG length) {
  AttributeSpec spec;
  spec.type = type;
  spec.value.kind = AttributeValue::Kind::Null;
  spec.value.length = length;
  return spec;
}

inline AttributeSpec nestedAttribute(CK_ATTRIBUTE_TYPE type, std::vector<AttributeSpec> nested) {
  AttributeSpec spec;
  spec.type = type;
  spec.value.kind = AttributeValue::Kind::Nested;
  spec.value.nested = std::move(nested);
  return spec;
}

// A template that holds this attribute, levelsUp templates out (0: its own).
inline AttributeSpec enclosingAttribute(CK_ATTRIBUTE_TYPE type, unsigned levelsUp) {
  AttributeSpec spec;
  spec.type = type;
  spec.value.kind = AttributeValue::Kind::Enclosing;
  spec.value.levelsUp = levelsUp;
  return spec;
}

inline AttributeSpec keyValueAttribute(CK_ATTRIBUTE_TYPE type, KeyIndex key, CK_ATTRIBUTE_TYPE of,
                                       std::size_t leadingZeros = 0) {
  AttributeSpec spec;
  spec.type = type;
  spec.value.kind = AttributeValue::Kind::FromKey;
  spec.value.from = {key, of, leadingZeros};
  return spec;
}

}  // namespace zorvel::robustness

#endif
