#include "operations/emulation_layer.h"

#include "operations/forwarded_operation.h"
#include "support/trace.h"

#include <memory>
#include <mutex>
#include <utility>

namespace zorvel::core {
namespace {

constexpr Output kNoOutput = {nullptr, nullptr};

// The row's function for its family; null when the claim is no row's.
template <typename Function>
const Function *carryOutOf(const Claim &claim) {
  return claim.row != nullptr ? std::get_if<Function>(&claim.row->carryOut) : nullptr;
}

}  // namespace

Claim EmulationLayer::claim(const OperationRequest &request) const {
  if (request.mechanism == nullptr) return {};
  const Claim found = emulations_.claim(request);
  if (found.refused()) noteServedBy("refused by the stand-in");
  if (found.row != nullptr) noteServedBy(found.row->name);
  return found;
}

CK_RV EmulationLayer::init(OperationSlot *slot, Family family, CK_SESSION_HANDLE session,
                           CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
  if (slot == nullptr) return forwardInit(module_, family, session, mechanism, key);
  std::lock_guard<std::mutex> starting(slot->initLock());
  const RunningPtr running = slot->current();
  if (running != nullptr && running->emulated()) return CKR_OPERATION_ACTIVE;
  const OperationRequest request = {module_, family, session, mechanism, key};
  const Claim claimed = claim(request);
  if (!claimed.refused() && claimed.row == nullptr) {
    // The module judges a second Init of its own, also when it ended the first one in a
    // way the layer did not follow.
    const CK_RV rv = forwardInit(module_, family, session, mechanism, key);
    if (rv == CKR_OK) {
      const InputBound bound = inputBoundOf(module_, family, session, mechanism, key);
      slot->start(std::make_shared<RunningOperation>(
          family, nullptr, std::make_unique<ForwardedOperation>(module_, family, session, bound)));
    }
    return rv;
  }
  if (running != nullptr) {
    // The module's own operation (an emulated one answered above), unless the module
    // ended it behind the layer's back.
    if (static_cast<const ForwardedOperation &>(*running->operation).stillActive()) return CKR_OPERATION_ACTIVE;
    slot->end(running);
  }
  if (claimed.refused()) return claimed.refusal;
  const StartFunction *start = carryOutOf<StartFunction>(claimed);
  if (start == nullptr) return CKR_GENERAL_ERROR;
  std::unique_ptr<ActiveOperation> operation;
  const CK_RV rv = (*start)(request, &operation);
  if (rv != CKR_OK) return rv;
  if (operation == nullptr) return CKR_GENERAL_ERROR;
  slot->start(std::make_shared<RunningOperation>(family, claimed.row, std::move(operation)));
  return CKR_OK;
}

// Runs call on the session's active operation of the family; without one, on the
// module's (which answers for itself), unless an emulated operation of another family
// is active.
template <typename Call>
CK_RV EmulationLayer::onActive(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, CallPart part,
                               Step step, Output output, Call call) {
  const RunningPtr running = slot != nullptr ? slot->current() : nullptr;
  if (running == nullptr || running->family != family) {
    if (running != nullptr && running->emulated()) return CKR_OPERATION_NOT_INITIALIZED;
    ForwardedOperation forwarded(module_, family, session);
    return call(forwarded);
  }
  if (running->emulated()) {
    noteServedBy(running->row->name);
    if (part == CallPart::SinglePart && running->partsGiven && refusesSinglePartAfterParts(family)) {
      running->operation->abort();
      slot->end(running);
      return CKR_OPERATION_NOT_INITIALIZED;
    }
  }
  const CK_RV rv = call(*running->operation);
  if (part == CallPart::Update && rv == CKR_OK) running->partsGiven = true;
  if (!operationGoesOn(step, rv, output)) {
    if (rv != CKR_OK) running->operation->abort();
    slot->end(running);
  }
  return rv;
}

void EmulationLayer::hookResult(Family family, CK_RV rv, Output output) const {
  if (rv != CKR_OK || output.data == nullptr || output.length == nullptr) return;
  if (family == Family::Sign) signatureHook(faults_, output.data, *output.length);
  if (family == Family::Encrypt || family == Family::Wrap) ciphertextHook(faults_, output.data, *output.length);
}

CK_RV EmulationLayer::oneShot(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, Input input,
                              Output output) {
  const CK_RV rv = onActive(slot, family, session, CallPart::SinglePart, Step::Completion, output,
                            [&](ActiveOperation &operation) { return operation.oneShot(input, output); });
  hookResult(family, rv, output);
  return rv;
}

CK_RV EmulationLayer::update(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, Input input,
                             Output output) {
  const CK_RV rv = onActive(slot, family, session, CallPart::Update, Step::Update, output,
                            [&](ActiveOperation &operation) { return operation.update(input, output); });
  hookResult(family, rv, output);
  return rv;
}

CK_RV EmulationLayer::finish(OperationSlot *slot, Family family, CK_SESSION_HANDLE session, Output output) {
  const CK_RV rv = onActive(slot, family, session, CallPart::Final, Step::Completion, output,
                            [&](ActiveOperation &operation) { return operation.finish(output); });
  hookResult(family, rv, output);
  return rv;
}

CK_RV EmulationLayer::verify(OperationSlot *slot, CK_SESSION_HANDLE session, Input data, Input signature) {
  return onActive(slot, Family::Verify, session, CallPart::SinglePart, Step::Check, kNoOutput,
                  [&](ActiveOperation &operation) { return operation.verify(data, signature); });
}

CK_RV EmulationLayer::verifyFinal(OperationSlot *slot, CK_SESSION_HANDLE session, Input signature) {
  return onActive(slot, Family::Verify, session, CallPart::Final, Step::Check, kNoOutput,
                  [&](ActiveOperation &operation) { return operation.verifyFinal(signature); });
}

CK_RV EmulationLayer::wrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE wrappingKey,
                              CK_OBJECT_HANDLE key, Output wrapped) {
  const OperationRequest request = {module_, Family::Wrap, session, mechanism, wrappingKey};
  const Claim claimed = claim(request);
  const WrapFunction *wrap = carryOutOf<WrapFunction>(claimed);
  const CK_RV rv = claimed.refused() ? claimed.refusal
                   : wrap != nullptr  ? (*wrap)(request, key, wrapped)
                                      : callModule(module_.C_WrapKey, session, mechanism, wrappingKey, key,
                                                  wrapped.data, wrapped.length);
  hookResult(Family::Wrap, rv, wrapped);
  return rv;
}

CK_RV EmulationLayer::unwrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                                CK_OBJECT_HANDLE unwrappingKey, Input wrapped, AttributeList keyTemplate,
                                CK_OBJECT_HANDLE_PTR key) {
  const OperationRequest request = {module_, Family::Unwrap, session, mechanism, unwrappingKey};
  const Claim claimed = claim(request);
  if (claimed.refused()) return claimed.refusal;
  const UnwrapFunction *unwrap = carryOutOf<UnwrapFunction>(claimed);
  if (unwrap != nullptr) return (*unwrap)(request, wrapped, keyTemplate, key);
  return callModule(module_.C_UnwrapKey, session, mechanism, unwrappingKey, wrapped.data, wrapped.length,
                    keyTemplate.attributes, keyTemplate.count, key);
}

CK_RV EmulationLayer::deriveKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE baseKey,
                                AttributeList keyTemplate, CK_OBJECT_HANDLE_PTR key) {
  const OperationRequest request = {module_, Family::Derive, session, mechanism, baseKey};
  const Claim claimed = claim(request);
  if (claimed.refused()) return claimed.refusal;
  const KeyMakingFunction *derive = carryOutOf<KeyMakingFunction>(claimed);
  if (derive != nullptr) return (*derive)(request, keyTemplate, key);
  return callModule(module_.C_DeriveKey, session, mechanism, baseKey, keyTemplate.attributes, keyTemplate.count, key);
}

CK_RV EmulationLayer::generateKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, AttributeList keyTemplate,
                                  CK_OBJECT_HANDLE_PTR key) {
  const OperationRequest request = {module_, Family::Generate, session, mechanism, CK_INVALID_HANDLE};
  const Claim claimed = claim(request);
  if (claimed.refused()) return claimed.refusal;
  const KeyMakingFunction *generate = carryOutOf<KeyMakingFunction>(claimed);
  if (generate != nullptr) return (*generate)(request, keyTemplate, key);
  return callModule(module_.C_GenerateKey, session, mechanism, keyTemplate.attributes, keyTemplate.count, key);
}

}  // namespace zorvel::core
