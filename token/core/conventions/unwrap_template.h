// The template of a C_UnwrapKey call as the backend takes it. A secret key's template
// may state CKA_VALUE_LEN, which the backend refuses (CKR_ATTRIBUTE_READ_ONLY: the
// length comes with the unwrapped value), so it is left out, and the unwrapped key's
// length is checked against it afterwards. This holds for every unwrapping mechanism,
// the backend's own and those the stand-in carries out itself.
#ifndef ZORVEL_TOKEN_CORE_UNWRAP_TEMPLATE_H
#define ZORVEL_TOKEN_CORE_UNWRAP_TEMPLATE_H

#include "pkcs11.h"

#include <optional>
#include <vector>

namespace zorvel::core {

class UnwrapTemplate {
 public:
  UnwrapTemplate(CK_ATTRIBUTE_PTR caller, CK_ULONG count);

  // CKR_OK, or CKR_ATTRIBUTE_VALUE_INVALID for a CKA_VALUE_LEN that is no CK_ULONG.
  CK_RV status() const { return status_; }
  CK_ATTRIBUTE_PTR data() { return valueLength_ ? local_.data() : caller_; }
  CK_ULONG count() const { return valueLength_ ? local_.size() : count_; }

  // After a successful unwrap: CKR_OK when the template stated no length or the new key
  // has it; otherwise the key is destroyed, *key becomes CK_INVALID_HANDLE and the answer
  // is CKR_TEMPLATE_INCONSISTENT.
  CK_RV checkUnwrappedKey(const CK_FUNCTION_LIST &backend, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR key) const;

 private:
  CK_ATTRIBUTE_PTR caller_;
  CK_ULONG count_;
  std::vector<CK_ATTRIBUTE> local_;
  std::optional<CK_ULONG> valueLength_;
  CK_RV status_ = CKR_OK;
};

}  // namespace zorvel::core

#endif
