// The entries of the functions that take object templates or read attribute values:
// each runs the prologue (entry_prologue.h) on its session and passes its templates
// through the translations (template_translation.h) on their way to the backend, and
// C_GetAttributeValue reads through them.
#ifndef ZORVEL_TOKEN_CORE_LAYER_OBJECT_ENTRIES_H
#define ZORVEL_TOKEN_CORE_LAYER_OBJECT_ENTRIES_H

#include "conventions/template_translation.h"
#include "layer/forwarding.h"
#include "layer/library.h"

namespace zorvel::core {
namespace object_entries {

// Runs call(templates) with the call's one template translated.
template <typename Call>
CK_RV withTranslatedTemplate(CK_SESSION_HANDLE hSession, TemplateCall kind, CK_ATTRIBUTE_PTR pTemplate,
                             CK_ULONG ulCount, Call call) {
  return sessionEntry(hSession, [&](SessionCall &) {
    CallTemplates templates(kind, nullptr, {pTemplate, ulCount});
    const CK_RV rv = translateForModule(templates);
    if (rv != CKR_OK) return rv;
    const AttributeList translated = templates.current(0);
    return call(translated);
  });
}

inline CK_RV createObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                          CK_OBJECT_HANDLE_PTR phObject) {
  return withTranslatedTemplate(hSession, TemplateCall::CreateObject, pTemplate, ulCount, [&](AttributeList t) {
    return exchange(backendFunctions().C_CreateObject, hSession, t.attributes, t.count, phObject);
  });
}

inline CK_RV copyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                        CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) {
  return withTranslatedTemplate(hSession, TemplateCall::CopyObject, pTemplate, ulCount, [&](AttributeList t) {
    return exchange(backendFunctions().C_CopyObject, hSession, hObject, t.attributes, t.count, phNewObject);
  });
}

inline CK_RV findObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
  return withTranslatedTemplate(hSession, TemplateCall::FindObjectsInit, pTemplate, ulCount, [&](AttributeList t) {
    return exchange(backendFunctions().C_FindObjectsInit, hSession, t.attributes, t.count);
  });
}

inline CK_RV setAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                               CK_ULONG ulCount) {
  return withTranslatedTemplate(hSession, TemplateCall::SetAttributeValue, pTemplate, ulCount, [&](AttributeList t) {
    return exchange(backendFunctions().C_SetAttributeValue, hSession, hObject, t.attributes, t.count);
  });
}

inline CK_RV getAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                               CK_ULONG ulCount) {
  return sessionEntry(hSession, [&](SessionCall &) {
    return exchangeBy([&] { return readAttributeValues(backendFunctions(), hSession, hObject, pTemplate, ulCount); });
  });
}

inline CK_RV generateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                             CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                             CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                             CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
  return sessionEntry(hSession, [&](SessionCall &) {
    CallTemplates templates(TemplateCall::GenerateKeyPair, pMechanism, {pPublicKeyTemplate, ulPublicKeyAttributeCount},
                            {pPrivateKeyTemplate, ulPrivateKeyAttributeCount});
    const CK_RV rv = translateForModule(templates);
    if (rv != CKR_OK) return rv;
    const AttributeList publicTemplate = templates.current(0);
    const AttributeList privateTemplate = templates.current(1);
    return exchangeWithMechanism(backendFunctions().C_GenerateKeyPair, hSession, pMechanism,
                                 publicTemplate.attributes, publicTemplate.count, privateTemplate.attributes,
                                 privateTemplate.count, phPublicKey, phPrivateKey);
  });
}

// Puts the entries into a function list.
constexpr void setInto(CK_FUNCTION_LIST *list) {
  list->C_CreateObject = createObject;
  list->C_CopyObject = copyObject;
  list->C_FindObjectsInit = findObjectsInit;
  list->C_SetAttributeValue = setAttributeValue;
  list->C_GetAttributeValue = getAttributeValue;
  list->C_GenerateKeyPair = generateKeyPair;
}

}  // namespace object_entries
}  // namespace zorvel::core

#endif
