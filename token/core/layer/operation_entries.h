// The entries of the operation functions: each runs the prologue (entry_prologue.h) on
// its session, translates the mechanism and the templates (template_translation.h), and
// hands the call to the emulation layer (emulation_layer.h) as the one exchange with the
// backend.
#ifndef ZORVEL_TOKEN_CORE_LAYER_OPERATION_ENTRIES_H
#define ZORVEL_TOKEN_CORE_LAYER_OPERATION_ENTRIES_H

#include "conventions/template_translation.h"
#include "layer/forwarding.h"
#include "layer/library.h"
#include "operations/emulation_layer.h"

namespace zorvel::core {
namespace operation_entries {

inline EmulationLayer layer() { return EmulationLayer(backendFunctions(), standinEmulations(), library().faults); }

// Runs body(layer, slot) for a call on a session.
template <typename Body>
CK_RV onSession(CK_SESSION_HANDLE hSession, Body body) {
  return sessionEntry(hSession, [&](SessionCall &session) {
    OperationSlot *slot = session.state() != nullptr ? &session.state()->operation : nullptr;
    EmulationLayer emulationLayer = layer();
    return body(emulationLayer, slot);
  });
}

// The same, with the caller's mechanism translated first.
template <typename Body>
CK_RV onSessionWithMechanism(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, Body body) {
  return onSession(hSession, [&](EmulationLayer &emulationLayer, OperationSlot *slot) {
    BackendMechanism mechanism(pMechanism);
    if (mechanism.status() != CKR_OK) return mechanism.status();
    return exchangeBy([&] { return body(emulationLayer, slot, mechanism.get()); });
  });
}

template <Family F>
CK_RV init(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return onSessionWithMechanism(hSession, pMechanism, [&](EmulationLayer &l, OperationSlot *slot, CK_MECHANISM_PTR m) {
    return l.init(slot, F, hSession, m, hKey);
  });
}

inline CK_RV digestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
  return init<Family::Digest>(hSession, pMechanism, CK_INVALID_HANDLE);
}

// C_Encrypt, C_Decrypt, C_Sign, C_Digest.
template <Family F>
CK_RV oneShot(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pInput, CK_ULONG ulInputLen, CK_BYTE_PTR pOutput,
              CK_ULONG_PTR pulOutputLen) {
  return onSession(hSession, [&](EmulationLayer &l, OperationSlot *slot) {
    return exchangeBy([&] { return l.oneShot(slot, F, hSession, {pInput, ulInputLen}, {pOutput, pulOutputLen}); });
  });
}

// C_EncryptUpdate, C_DecryptUpdate.
template <Family F>
CK_RV update(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pInput, CK_ULONG ulInputLen, CK_BYTE_PTR pOutput,
             CK_ULONG_PTR pulOutputLen) {
  return onSession(hSession, [&](EmulationLayer &l, OperationSlot *slot) {
    return exchangeBy([&] { return l.update(slot, F, hSession, {pInput, ulInputLen}, {pOutput, pulOutputLen}); });
  });
}

// C_SignUpdate, C_VerifyUpdate, C_DigestUpdate.
template <Family F>
CK_RV updateWithoutOutput(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return onSession(hSession, [&](EmulationLayer &l, OperationSlot *slot) {
    return exchangeBy([&] { return l.update(slot, F, hSession, {pPart, ulPartLen}, {nullptr, nullptr}); });
  });
}

// C_EncryptFinal, C_DecryptFinal, C_SignFinal, C_DigestFinal.
template <Family F>
CK_RV finish(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOutput, CK_ULONG_PTR pulOutputLen) {
  return onSession(hSession, [&](EmulationLayer &l, OperationSlot *slot) {
    return exchangeBy([&] { return l.finish(slot, F, hSession, {pOutput, pulOutputLen}); });
  });
}

inline CK_RV verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                    CK_ULONG ulSignatureLen) {
  return onSession(hSession, [&](EmulationLayer &l, OperationSlot *slot) {
    return exchangeBy([&] { return l.verify(slot, hSession, {pData, ulDataLen}, {pSignature, ulSignatureLen}); });
  });
}

inline CK_RV verifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
  return onSession(hSession, [&](EmulationLayer &l, OperationSlot *slot) {
    return exchangeBy([&] { return l.verifyFinal(slot, hSession, {pSignature, ulSignatureLen}); });
  });
}

inline CK_RV wrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                     CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
  return onSessionWithMechanism(hSession, pMechanism, [&](EmulationLayer &l, OperationSlot *, CK_MECHANISM_PTR m) {
    return l.wrapKey(hSession, m, hWrappingKey, hKey, {pWrappedKey, pulWrappedKeyLen});
  });
}

inline CK_RV unwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                       CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                       CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
  return onSessionWithMechanism(hSession, pMechanism, [&](EmulationLayer &l, OperationSlot *, CK_MECHANISM_PTR m) {
    // The translations apply to every unwrap, whoever carries it out.
    CallTemplates templates(TemplateCall::UnwrapKey, m, {pTemplate, ulAttributeCount});
    CK_RV rv = translateForModule(templates);
    if (rv != CKR_OK) return rv;
    rv = l.unwrapKey(hSession, m, hUnwrappingKey, {pWrappedKey, ulWrappedKeyLen}, templates.current(0), phKey);
    if (rv != CKR_OK) return rv;
    return checkMadeObject(backendFunctions(), hSession, templates, phKey);
  });
}

inline CK_RV deriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                       CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
  return onSessionWithMechanism(hSession, pMechanism, [&](EmulationLayer &l, OperationSlot *, CK_MECHANISM_PTR m) {
    CallTemplates templates(TemplateCall::DeriveKey, m, {pTemplate, ulAttributeCount});
    const CK_RV rv = translateForModule(templates);
    if (rv != CKR_OK) return rv;
    return l.deriveKey(hSession, m, hBaseKey, templates.current(0), phKey);
  });
}

inline CK_RV generateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                         CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
  return onSessionWithMechanism(hSession, pMechanism, [&](EmulationLayer &l, OperationSlot *, CK_MECHANISM_PTR m) {
    CallTemplates templates(TemplateCall::GenerateKey, m, {pTemplate, ulCount});
    const CK_RV rv = translateForModule(templates);
    if (rv != CKR_OK) return rv;
    return l.generateKey(hSession, m, templates.current(0), phKey);
  });
}

// Puts the entries into a function list.
constexpr void setInto(CK_FUNCTION_LIST *list) {
  list->C_EncryptInit = init<Family::Encrypt>;
  list->C_Encrypt = oneShot<Family::Encrypt>;
  list->C_EncryptUpdate = update<Family::Encrypt>;
  list->C_EncryptFinal = finish<Family::Encrypt>;
  list->C_DecryptInit = init<Family::Decrypt>;
  list->C_Decrypt = oneShot<Family::Decrypt>;
  list->C_DecryptUpdate = update<Family::Decrypt>;
  list->C_DecryptFinal = finish<Family::Decrypt>;
  list->C_DigestInit = digestInit;
  list->C_Digest = oneShot<Family::Digest>;
  list->C_DigestUpdate = updateWithoutOutput<Family::Digest>;
  list->C_DigestFinal = finish<Family::Digest>;
  list->C_SignInit = init<Family::Sign>;
  list->C_Sign = oneShot<Family::Sign>;
  list->C_SignUpdate = updateWithoutOutput<Family::Sign>;
  list->C_SignFinal = finish<Family::Sign>;
  list->C_VerifyInit = init<Family::Verify>;
  list->C_Verify = verify;
  list->C_VerifyUpdate = updateWithoutOutput<Family::Verify>;
  list->C_VerifyFinal = verifyFinal;
  list->C_WrapKey = wrapKey;
  list->C_UnwrapKey = unwrapKey;
  list->C_DeriveKey = deriveKey;
  list->C_GenerateKey = generateKey;
}

}  // namespace operation_entries
}  // namespace zorvel::core

#endif
