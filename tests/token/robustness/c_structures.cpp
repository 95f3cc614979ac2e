#include "c_structures.h"

#include <algorithm>
#include <cstring>

namespace zorvel::robustness {
namespace {

constexpr CK_ULONG kWord = 8;

CK_ULONG roundUp(CK_ULONG length) { return (length + kWord - 1) / kWord * kWord; }

CK_ULONG fieldSize(const Field &field) {
  return field.kind == Field::Kind::InlineBytes ? roundUp(field.bytes.size()) : kWord;
}

}  // namespace

CK_ULONG recordSize(const std::vector<Field> &fields) {
  CK_ULONG size = 0;
  for (const Field &field : fields) size += fieldSize(field);
  return size;
}

CK_ULONG parameterLength(const Parameter &parameter) {
  switch (parameter.kind) {
    case Parameter::Kind::None: return 0;
    case Parameter::Kind::NullWithLength: return parameter.declaredLength.value_or(0);
    case Parameter::Kind::Record: break;
  }
  if (parameter.declaredLength) return *parameter.declaredLength;
  const std::vector<Field> &fields = parameter.fields;
  // A record of bytes alone (an IV, a public value) is as long as they are.
  return fields.size() == 1 && fields[0].kind == Field::Kind::InlineBytes ? fields[0].bytes.size()
                                                                          : recordSize(fields);
}

CallArena::CallArena(KeyValueLookup lookup) : lookup_(std::move(lookup)) {}

CK_BYTE_PTR CallArena::bytes(const Bytes &bytes, std::size_t atLeast) {
  const std::size_t size = std::max<std::size_t>({bytes.size(), atLeast, 1});
  std::unique_ptr<CK_BYTE[]> &block = blocks_.emplace_back(new CK_BYTE[size]());
  if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
  return block.get();
}

Bytes CallArena::resolve(const Field &field) {
  if (!field.from) return field.bytes;
  Bytes value = lookup_(*field.from);
  value.insert(value.begin(), field.from->leadingZeros, 0);
  return value;
}

CK_MECHANISM CallArena::mechanism(const MechanismSpec &spec) {
  if (spec.parameter.kind != Parameter::Kind::Record) return {spec.type, nullptr, parameterLength(spec.parameter)};
  // Inline bytes from a key make the record as long as the value.
  Parameter resolved = spec.parameter;
  for (Field &field : resolved.fields) {
    if (field.kind == Field::Kind::InlineBytes && field.from) {
      field.bytes = resolve(field);
      field.from.reset();
    }
  }
  const CK_ULONG declared = parameterLength(resolved);
  Bytes record(recordSize(resolved.fields), 0);
  CK_ULONG offset = 0;
  for (const Field &field : resolved.fields) {
    switch (field.kind) {
      case Field::Kind::Ulong: {
        const CK_ULONG value = field.from ? resolve(field).size() : field.value;
        std::memcpy(&record[offset], &value, kWord);
        break;
      }
      case Field::Kind::Pointer: {
        CK_BYTE_PTR target = field.null ? nullptr : bytes(resolve(field));
        std::memcpy(&record[offset], &target, kWord);
        break;
      }
      case Field::Kind::InlineBytes:
        if (!field.bytes.empty()) std::memcpy(&record[offset], field.bytes.data(), field.bytes.size());
        break;
    }
    offset += fieldSize(field);
  }
  return {spec.type, bytes(record, declared), declared};
}

CK_ATTRIBUTE_PTR CallArena::attributes(const Template &spec, CK_ULONG *count) {
  if (spec.null) {
    *count = spec.nullCount;
    return nullptr;
  }
  *count = spec.attributes.size();
  return nestedAttributes(spec.attributes);
}

CK_ATTRIBUTE_PTR CallArena::nestedAttributes(const std::vector<AttributeSpec> &specs) {
  std::vector<CK_ATTRIBUTE> &array = arrays_.emplace_back(std::max<std::size_t>(specs.size(), 1));
  enclosing_.push_back(&array);
  for (std::size_t i = 0; i < specs.size(); ++i) fill(array[i], specs[i]);
  enclosing_.pop_back();
  return array.data();
}

void CallArena::fill(CK_ATTRIBUTE &attribute, const AttributeSpec &spec) {
  attribute.type = spec.type;
  const AttributeValue &value = spec.value;
  switch (value.kind) {
    case AttributeValue::Kind::Bytes:
      attribute.pValue = bytes(value.bytes);
      attribute.ulValueLen = value.bytes.size();
      break;
    case AttributeValue::Kind::Null:
      attribute.pValue = nullptr;
      attribute.ulValueLen = value.length;
      break;
    case AttributeValue::Kind::Nested:
      attribute.pValue = nestedAttributes(value.nested);
      attribute.ulValueLen = value.nested.size() * sizeof(CK_ATTRIBUTE);
      break;
    case AttributeValue::Kind::Enclosing: {
      const std::size_t depth = std::min<std::size_t>(value.levelsUp, enclosing_.size() - 1);
      std::vector<CK_ATTRIBUTE> *target = enclosing_[enclosing_.size() - 1 - depth];
      attribute.pValue = target->data();
      attribute.ulValueLen = target->size() * sizeof(CK_ATTRIBUTE);
      break;
    }
    case AttributeValue::Kind::FromKey: {
      Field field;
      field.from = value.from;
      const Bytes resolved = resolve(field);
      attribute.pValue = bytes(resolved);
      attribute.ulValueLen = resolved.size();
      break;
    }
  }
}

}  // namespace zorvel::robustness
