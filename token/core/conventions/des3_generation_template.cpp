#include "conventions/des3_generation_template.h"

#include <cstring>
#include <vector>

namespace zorvel::core {
namespace {

constexpr CK_ULONG kDes3KeyBytes = 24;

bool isDes3ValueLen(const CK_ATTRIBUTE &attribute, bool *valid) {
  if (attribute.type != CKA_VALUE_LEN) return false;
  CK_ULONG length = 0;
  *valid = attribute.pValue != nullptr && attribute.ulValueLen == sizeof length;
  if (*valid) std::memcpy(&length, attribute.pValue, sizeof length);  // need not be aligned
  *valid = *valid && length == kDes3KeyBytes;
  return true;
}

CK_RV toModule(CallTemplates &templates, bool *applied) {
  const AttributeList caller = templates.current(0);
  if (templates.mechanism() != CKM_DES3_KEY_GEN || caller.attributes == nullptr) return CKR_OK;
  bool valid = true;
  for (CK_ULONG i = 0; i < caller.count; ++i) {
    if (isDes3ValueLen(caller.attributes[i], &valid)) {
      if (!valid) return CKR_ATTRIBUTE_VALUE_INVALID;
      *applied = true;
    }
  }
  if (!*applied) return CKR_OK;
  std::vector<CK_ATTRIBUTE> local;
  for (CK_ULONG i = 0; i < caller.count; ++i) {
    if (caller.attributes[i].type != CKA_VALUE_LEN) local.push_back(caller.attributes[i]);
  }
  templates.replace(0, std::move(local));
  return CKR_OK;
}

}  // namespace

const TemplateTranslation kDes3GenerationLength = {"DES3 generation without CKA_VALUE_LEN",
                                                   templateCalls(TemplateCall::GenerateKey), toModule, nullptr,
                                                   nullptr};

}  // namespace zorvel::core
