// The C structures of a step's arguments, made from their description (case_model.h):
// mechanisms with their parameter records, templates with nested and self-containing
// ones, byte buffers. Every pointer points to at least as many bytes as its length says;
// only the case's null pointers do not.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_C_STRUCTURES_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_C_STRUCTURES_H

#include "case_model.h"

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace zorvel::robustness {

// The size of a record with these fields: 8 bytes for a CK_ULONG or a pointer, inline
// bytes rounded up to 8, as the compiler lays out the PKCS#11 records.
CK_ULONG recordSize(const std::vector<Field> &fields);

// The ulParameterLen a mechanism gets with this parameter (before key values are read:
// inline bytes from a key count as none).
CK_ULONG parameterLength(const Parameter &parameter);

// The bytes of a key's attribute, read when the case runs (empty when there are none).
using KeyValueLookup = std::function<Bytes(const KeyValue &)>;

// Holds the memory of the structures it made until it is destroyed.
class CallArena {
 public:
  explicit CallArena(KeyValueLookup lookup);

  CK_MECHANISM mechanism(const MechanismSpec &spec);
  // pTemplate and ulCount.
  CK_ATTRIBUTE_PTR attributes(const Template &spec, CK_ULONG *count);
  // A copy of the bytes in a block of exactly max(size, atLeast, 1) bytes, so that a
  // sanitizer sees any access past it; never null, even for no bytes.
  CK_BYTE_PTR bytes(const Bytes &bytes, std::size_t atLeast = 0);

 private:
  CK_ATTRIBUTE_PTR nestedAttributes(const std::vector<AttributeSpec> &specs);
  void fill(CK_ATTRIBUTE &attribute, const AttributeSpec &spec);
  Bytes resolve(const Field &field);

  KeyValueLookup lookup_;
  std::deque<std::unique_ptr<CK_BYTE[]>> blocks_;
  std::deque<std::vector<CK_ATTRIBUTE>> arrays_;
  std::vector<std::vector<CK_ATTRIBUTE> *> enclosing_;  // while filling: the templates being filled
};

}  // namespace zorvel::robustness

#endif
