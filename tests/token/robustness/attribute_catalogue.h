// The attribute types the generator puts in templates, each with the kind of value it
// holds, and some types no target knows (among them array-flagged ones that hold bytes).
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_ATTRIBUTE_CATALOGUE_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_ATTRIBUTE_CATALOGUE_H

#include "case_model.h"

#include <string>
#include <vector>

namespace zorvel::robustness {

enum class ValueKind {
  Bool, ObjectClass, KeyType, CertificateType, Mechanism, Bits, Length,
  BigInteger, ByteString, Text, EcParams, EcPoint, Date,
  Template,       // a template (CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE, CKA_DERIVE_TEMPLATE)
  MechanismList,  // CK_MECHANISM_TYPE values (CKA_ALLOWED_MECHANISMS)
  Unknown,        // a type no target knows: bytes
};

struct AttributeEntry {
  CK_ATTRIBUTE_TYPE type;
  const char *name;
  ValueKind kind;
};

const std::vector<AttributeEntry> &attributeCatalogue();
const AttributeEntry *findAttribute(CK_ATTRIBUTE_TYPE type);
// The name of an attribute type, or its value in hex.
std::string attributeName(CK_ATTRIBUTE_TYPE type);

}  // namespace zorvel::robustness

#endif
