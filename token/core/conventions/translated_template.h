// An attribute template of the caller as the backend takes it: the caller's own, or a
// local copy that a translation made of it, or a refusal of it.
#ifndef ZORVEL_TOKEN_CORE_TRANSLATED_TEMPLATE_H
#define ZORVEL_TOKEN_CORE_TRANSLATED_TEMPLATE_H

#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

class TranslatedTemplate {
 public:
  TranslatedTemplate(CK_ATTRIBUTE_PTR caller, CK_ULONG count) : caller_(caller), count_(count) {}
  TranslatedTemplate(const TranslatedTemplate &) = delete;
  TranslatedTemplate &operator=(const TranslatedTemplate &) = delete;

  // CKR_OK, or why the template is refused without a call to the backend.
  CK_RV status() const { return status_; }
  CK_ATTRIBUTE_PTR data() { return translated_ ? local_.data() : caller_; }
  CK_ULONG count() const { return translated_ ? local_.size() : count_; }

 protected:
  CK_ATTRIBUTE_PTR caller_;
  CK_ULONG count_;
  std::vector<CK_ATTRIBUTE> local_;  // the backend's template once translated_ is set
  bool translated_ = false;
  CK_RV status_ = CKR_OK;
};

}  // namespace zorvel::core

#endif
