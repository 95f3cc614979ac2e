// Values in a caller's template, which need not be aligned.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_ATTRIBUTE_VALUES_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_ATTRIBUTE_VALUES_H

#include "operations/operation.h"
#include "pkcs11.h"

#include <cstring>

namespace zorvel::core {

// A CK_ULONG attribute's value; false when it has another length or none.
inline bool ulongValue(const CK_ATTRIBUTE &attribute, CK_ULONG *value) {
  if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof(CK_ULONG)) return false;
  std::memcpy(value, attribute.pValue, sizeof(CK_ULONG));
  return true;
}

// The template's first attribute of the type; null when it has none.
inline const CK_ATTRIBUTE *findAttribute(AttributeList list, CK_ATTRIBUTE_TYPE type) {
  for (CK_ULONG i = 0; list.attributes != nullptr && i < list.count; ++i) {
    if (list.attributes[i].type == type) return &list.attributes[i];
  }
  return nullptr;
}

// The value of the template's CK_ULONG attribute of the type; false when it is absent or
// malformed.
inline bool ulongAttribute(AttributeList list, CK_ATTRIBUTE_TYPE type, CK_ULONG *value) {
  const CK_ATTRIBUTE *attribute = findAttribute(list, type);
  return attribute != nullptr && ulongValue(*attribute, value);
}

}  // namespace zorvel::core

#endif
