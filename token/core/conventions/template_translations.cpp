// The ordered list of template translations (template_translation.h) and the one place
// that applies it.
#include "conventions/template_translation.h"

#include "conventions/camellia_keys.h"
#include "conventions/curve_substitution.h"
#include "conventions/des3_generation_template.h"
#include "conventions/dh_key_pair_template.h"
#include "conventions/key_components.h"
#include "conventions/template_guard.h"
#include "conventions/unwrap_template.h"
#include "operations/forwarded_operation.h"
#include "support/trace.h"

namespace zorvel::core {
namespace {

// In this order towards the module; C_GetAttributeValue reads through the first entry
// with a read, which reads through the next, and so on to the module.
const TemplateTranslation *const kTranslations[] = {
    &kCamelliaKeyType,   &kCurveSubstitution,    &kLoadableKeyComponents,
    &kDhKeyPairTemplate, &kUnwrapValueLength,    &kDes3GenerationLength,
};

constexpr std::size_t kTranslationCount = sizeof kTranslations / sizeof kTranslations[0];

bool appliesTo(const TemplateTranslation &translation, const CallTemplates &templates) {
  return (translation.calls & templateCalls(templates.call())) != 0;
}

}  // namespace

CallTemplates::CallTemplates(TemplateCall call, CK_MECHANISM_PTR mechanism, AttributeList first, AttributeList second)
    : call_(call),
      mechanism_(mechanism != nullptr ? mechanism->mechanism : CK_UNAVAILABLE_INFORMATION),
      count_(call == TemplateCall::GenerateKeyPair ? 2 : 1),
      caller_{first, second} {}

AttributeList CallTemplates::current(std::size_t which) {
  if (!replaced_[which]) return caller_[which];
  return {local_[which].data(), static_cast<CK_ULONG>(local_[which].size())};
}

void CallTemplates::replace(std::size_t which, std::vector<CK_ATTRIBUTE> attributes) {
  local_[which] = std::move(attributes);
  replaced_[which] = true;
}

CK_ULONG *CallTemplates::keep(CK_ULONG value) { return &kept_.emplace_back(value); }

CK_RV AttributeReader::operator()(CK_ATTRIBUTE_PTR attributes, CK_ULONG count) const {
  for (std::size_t i = next_; i < kTranslationCount; ++i) {
    const TemplateTranslation &translation = *kTranslations[i];
    if (translation.read == nullptr) continue;
    bool applied = false;
    const CK_RV rv =
        translation.read(AttributeReader(module_, session_, object_, i + 1, traced_), attributes, count, &applied);
    if (applied && traced_) noteServedBy(translation.name);
    return rv;
  }
  return callModule(module_.C_GetAttributeValue, session_, object_, attributes, count);
}

CK_RV translateForModule(CallTemplates &templates) {
  for (std::size_t which = 0; which < templates.count(); ++which) {
    const CK_RV rv = refuseUnreadable(templates.caller(which));
    if (rv != CKR_OK) return rv;
  }
  for (const TemplateTranslation *translation : kTranslations) {
    if (!appliesTo(*translation, templates)) continue;
    bool applied = false;
    const CK_RV rv = translation->toModule(templates, &applied);
    if (applied || rv != CKR_OK) noteServedBy(translation->name);
    if (rv != CKR_OK) return rv;
  }
  return CKR_OK;
}

CK_RV checkMadeObject(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CallTemplates &templates,
                      CK_OBJECT_HANDLE_PTR made) {
  for (const TemplateTranslation *translation : kTranslations) {
    if (!appliesTo(*translation, templates) || translation->checkMade == nullptr) continue;
    const CK_RV rv = translation->checkMade(module, session, templates, made);
    if (rv != CKR_OK) return rv;
  }
  return CKR_OK;
}

CK_RV readAttributeValues(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  const CK_RV rv = refuseUnwritable({attributes, count});
  if (rv != CKR_OK) return rv;
  return AttributeReader(module, session, object, 0)(attributes, count);
}

CK_RV readAsTheCallerSees(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  return AttributeReader(module, session, object, 0, false)(attributes, count);
}

}  // namespace zorvel::core
