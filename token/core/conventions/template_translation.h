// Template and attribute translations: conventions of this library in object templates
// that the module does not share. Each is one entry of the ordered list in
// template_translations.cpp, applied there alone: towards the module to the templates of
// the calls it names, then (where it must) to the key C_UnwrapKey made, and undone on
// C_GetAttributeValue.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_TEMPLATE_TRANSLATION_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_TEMPLATE_TRANSLATION_H

#include "operations/operation.h"
#include "pkcs11.h"

#include <cstddef>
#include <deque>
#include <vector>

namespace zorvel::core {

// The calls whose templates translations see.
enum class TemplateCall {
  CreateObject,
  CopyObject,
  FindObjectsInit,
  SetAttributeValue,
  GenerateKey,
  GenerateKeyPair,
  UnwrapKey,
  DeriveKey,
};

using TemplateCalls = unsigned;

template <typename... Calls>
constexpr TemplateCalls templateCalls(Calls... calls) {
  return ((1u << static_cast<unsigned>(calls)) | ...);
}

// A call's templates on their way to the module: the caller's until a translation changes
// one, then a copy kept here; the caller's templates are never written.
class CallTemplates {
 public:
  // `second` is the private-key template of C_GenerateKeyPair, whose `first` is the
  // public-key template.
  CallTemplates(TemplateCall call, CK_MECHANISM_PTR mechanism, AttributeList first,
                AttributeList second = {nullptr, 0});
  CallTemplates(const CallTemplates &) = delete;
  CallTemplates &operator=(const CallTemplates &) = delete;

  TemplateCall call() const { return call_; }
  // The mechanism type; CK_UNAVAILABLE_INFORMATION for a call without one.
  CK_MECHANISM_TYPE mechanism() const { return mechanism_; }
  std::size_t count() const { return count_; }
  AttributeList caller(std::size_t which) const { return caller_[which]; }
  // The template as the translations so far have left it.
  AttributeList current(std::size_t which);
  void replace(std::size_t which, std::vector<CK_ATTRIBUTE> attributes);
  // A value that lives as long as the templates, for a replaced attribute to point to.
  CK_ULONG *keep(CK_ULONG value);

 private:
  TemplateCall call_;
  CK_MECHANISM_TYPE mechanism_;
  std::size_t count_;
  AttributeList caller_[2];
  std::vector<CK_ATTRIBUTE> local_[2];
  bool replaced_[2] = {false, false};
  std::deque<CK_ULONG> kept_;
};

// C_GetAttributeValue through the translations after the one it is given to, and the
// module at the end.
class AttributeReader {
 public:
  // `traced`: the translations that change a value are named in the call trace.
  AttributeReader(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                  std::size_t next, bool traced = true)
      : module_(module), session_(session), object_(object), next_(next), traced_(traced) {}
  const CK_FUNCTION_LIST &module() const { return module_; }
  CK_SESSION_HANDLE session() const { return session_; }
  CK_OBJECT_HANDLE object() const { return object_; }
  CK_RV operator()(CK_ATTRIBUTE_PTR attributes, CK_ULONG count) const;

 private:
  const CK_FUNCTION_LIST &module_;
  CK_SESSION_HANDLE session_;
  CK_OBJECT_HANDLE object_;
  std::size_t next_;
  bool traced_;
};

struct TemplateTranslation {
  const char *name;  // as the call trace names it
  TemplateCalls calls;
  // Towards the module: replaces templates or refuses the call (an answer other than
  // CKR_OK, given without a call to the module). *applied when it changed anything.
  CK_RV (*toModule)(CallTemplates &templates, bool *applied);
  // After C_UnwrapKey made the key (no other call's result is checked); null when there
  // is nothing to check. An answer other than CKR_OK has undone the call.
  CK_RV (*checkMade)(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CallTemplates &templates,
                     CK_OBJECT_HANDLE_PTR made);
  // C_GetAttributeValue; null when there is nothing to undo. Reads through `next` and shows
  // the values as the caller knows them; *applied when it changed any.
  CK_RV (*read)(const AttributeReader &next, CK_ATTRIBUTE_PTR attributes, CK_ULONG count, bool *applied);
};

// The list, applied in its order (template_translations.cpp).

// The templates for the module; CKR_OK, or the first translation's refusal. A template the
// module could not read safely is refused before any translation sees it
// (template_guard.h).
CK_RV translateForModule(CallTemplates &templates);
// After C_UnwrapKey made the key `*made` from the translated templates.
CK_RV checkMadeObject(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CallTemplates &templates,
                      CK_OBJECT_HANDLE_PTR made);
// C_GetAttributeValue as the caller sees it; records the module could not write safely are
// refused first (template_guard.h).
CK_RV readAttributeValues(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_PTR attributes, CK_ULONG count);
// The same read for the stand-in's own judgement of a call (a key's type, say): the call
// trace does not name the translations it passes.
CK_RV readAsTheCallerSees(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_PTR attributes, CK_ULONG count);

}  // namespace zorvel::core

#endif
