// The standard function list of the core: the generic entry for every function, and
// the functions that keep state of their own or translate beyond their first argument.
#include "conventions/camellia_keys.h"
#include "core_interface.h"
#include "conventions/dh_key_pair_template.h"
#include "layer/forwarding.h"
#include "function_list.h"
#include "conventions/key_sizes.h"
#include "layer/library.h"
#include "support/namespace_openssl.h"
#include "layer/offered_entry_points.h"
#include "layer/operation_entries.h"
#include "thread_keys.h"
#include "support/trace.h"

#include <cstdio>
#include <string>

namespace zorvel::core {
namespace {

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);

CK_RV initializeLibrary(CK_VOID_PTR pInitArgs) {
  Library &lib = library();
  std::unique_lock<std::shared_mutex> lock(lib.lifecycle);
  if (lib.initialised) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  lib.settings = readSettings();
  setTracing(lib.settings.trace);
  std::string faultError;
  if (!lib.faults.readEnvironment(&faultError)) {
    std::fprintf(stderr, "libzorvelP11: %s\n", faultError.c_str());
    return CKR_GENERAL_ERROR;
  }
  lib.provokedFailure.setSurfaced(lib.settings.surfaceProvokedFailure);
  // The stand-in has one HSM, number 0; no other can be reached.
  if (lib.selectedHsm.load() != 0) return CKR_DEVICE_ERROR;
  if (!lib.backend.loaded()) {
    std::string error;
    if (!lib.backend.load(lib.settings.modulePath, &error)) {
      std::fprintf(stderr, "libzorvelP11: cannot use the backend module: %s\n", error.c_str());
      return CKR_GENERAL_ERROR;
    }
  }
  CK_RV rv = exchange(backendFunctions().C_Initialize, pInitArgs);
  if (rv != CKR_OK) return rv;
  lib.sessions.clear();
  lib.slots.clear();
  rv = lib.slots.refresh();
  if (rv != CKR_OK) {
    backendFunctions().C_Finalize(nullptr);
    return rv;
  }
  lib.initialised = true;
  return CKR_OK;
}

CK_RV initialize(CK_VOID_PTR pInitArgs) {
  return guarded([&] { return initializeLibrary(pInitArgs); });
}

// The configuration file is the caller's; the stand-in takes its settings from the
// environment, so the path is not read.
CK_RV initializeFromConfig(const char * /*configPath*/) {
  const CK_RV rv = guarded([] {
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    return initializeLibrary(&args);
  });
  if (tracing()) TraceLine("C_Initialize (vendor list)", "", rv).write();
  return rv;
}

CK_RV finalize(CK_VOID_PTR pReserved) {
  return guarded([&] {
    Library &lib = library();
    std::unique_lock<std::shared_mutex> lock(lib.lifecycle);
    if (!lib.initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    const CK_RV rv = exchange(backendFunctions().C_Finalize, pReserved);
    if (rv != CKR_OK) return rv;
    lib.initialised = false;
    lib.sessions.clear();
    lib.slots.clear();
    return CKR_OK;
  });
}

// Every shown slot holds a token, so tokenPresent changes nothing.
CK_RV getSlotList(CK_BBOOL /*tokenPresent*/, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_RV rv = library().slots.refresh();
    if (rv != CKR_OK) return rv;
    const CK_ULONG count = library().slots.count();
    if (pSlotList != nullptr && *pulCount < count) {
      *pulCount = count;
      return CKR_BUFFER_TOO_SMALL;
    }
    if (pSlotList != nullptr) {
      for (CK_ULONG slot = 0; slot < count; ++slot) pSlotList[slot] = slot;
    }
    *pulCount = count;
    return CKR_OK;
  });
}

CK_RV getMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    CK_SLOT_ID backendSlot = 0;
    if (!library().slots.toBackend(slotID, &backendSlot)) return CKR_SLOT_ID_INVALID;
    const CK_RV rv = getOfferedMechanismInfo(backendSlot, type, pInfo);
    if (rv == CKR_OK) adjustMechanismInfo(type, library().settings, pInfo);
    return rv;
  });
}

CK_RV openSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                  CK_SESSION_HANDLE_PTR phSession) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    CK_SLOT_ID backendSlot = 0;
    if (!library().slots.toBackend(slotID, &backendSlot)) return CKR_SLOT_ID_INVALID;
    std::lock_guard<std::mutex> opening(library().openingAndClosing);
    const CK_RV rv = exchange(backendFunctions().C_OpenSession, backendSlot, flags, pApplication, Notify, phSession);
    if (rv == CKR_OK) library().sessions.add(*phSession, backendSlot);
    return rv;
  });
}

CK_RV closeSession(CK_SESSION_HANDLE hSession) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    if (keepClosedSessionHook(library().faults, backendFunctions(), hSession)) return CKR_OK;
    std::lock_guard<std::mutex> closing(library().openingAndClosing);
    const CK_RV rv = exchange(backendFunctions().C_CloseSession, hSession);
    if (rv == CKR_OK) library().sessions.remove(hSession);
    return rv;
  });
}

CK_RV closeAllSessions(CK_SLOT_ID slotID) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    CK_SLOT_ID backendSlot = 0;
    if (!library().slots.toBackend(slotID, &backendSlot)) return CKR_SLOT_ID_INVALID;
    // Wait for the calls in flight on the slot's sessions. The locks are taken in handle
    // order, so two such calls cannot deadlock.
    const std::vector<SessionPtr> sessions = library().sessions.onSlot(backendSlot);
    std::vector<std::unique_lock<std::mutex>> locks;
    if (library().settings.serializeSessions) {
      for (const SessionPtr &state : sessions) locks.emplace_back(state->callLock);
    }
    std::lock_guard<std::mutex> closing(library().openingAndClosing);
    const CK_RV rv = exchange(backendFunctions().C_CloseAllSessions, backendSlot);
    if (rv == CKR_OK) library().sessions.removeSlot(backendSlot);
    return rv;
  });
}

CK_RV destroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    const CK_RV rv = exchange(backendFunctions().C_DestroyObject, hSession, hObject);
    return readOnlyDestroyHook(library().faults, backendFunctions(), hSession, hObject, rv);
  });
}

CK_RV getSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    const CK_RV rv = exchange(backendFunctions().C_GetSessionInfo, hSession, pInfo);
    if (rv == CKR_OK && !library().slots.toShown(pInfo->slotID, &pInfo->slotID)) return CKR_GENERAL_ERROR;
    return rv;
  });
}

CK_RV generateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                  CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    if (pMechanism != nullptr && pMechanism->mechanism == CKM_CAMELLIA_KEY_GEN) {
      return generateCamelliaKey(backendFunctions(), hSession, pMechanism, pTemplate, ulCount, phKey);
    }
    GenerationTemplate backendTemplate(pMechanism, pTemplate, ulCount);
    if (backendTemplate.status() != CKR_OK) return backendTemplate.status();
    return exchangeWithMechanism(backendFunctions().C_GenerateKey, hSession, pMechanism, backendTemplate.data(),
                                 backendTemplate.count(), phKey);
  });
}

// An event on a slot that is not shown is no event of this library. The call may block,
// so it runs without holding off finalisation.
CK_RV waitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
  return guarded([&] {
    {
      ActiveCall active;
      if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    }
    CK_SLOT_ID backendSlot = 0;
    const CK_RV rv =
        exchange(backendFunctions().C_WaitForSlotEvent, flags, pSlot != nullptr ? &backendSlot : nullptr, pReserved);
    if (rv != CKR_OK) return rv;
    SlotMap &slots = library().slots;
    if (!slots.toShown(backendSlot, pSlot)) {
      if (slots.refresh() != CKR_OK || !slots.toShown(backendSlot, pSlot)) return CKR_NO_EVENT;
    }
    return CKR_OK;
  });
}

// Keeps every first-level key outside the namespace's share taken on this side; then,
// with keys to make, sets up the namespace's libcrypto.
void adoptThreadKeys(std::uint32_t namespaceKeys) {
  releaseKeys(takeFreeFirstLevelKeys(), namespaceKeys, /*inverted=*/false);
  keepApplicationOpensslConfigOut();
}

void setHSM(unsigned int hsm) { library().selectedHsm.store(hsm); }

void provokeCommunicationFail(bool armed) { library().provokedFailure.arm(armed); }

CK_ULONG failedExchangeCount() { return library().provokedFailure.consumedCount(); }

constexpr CK_FUNCTION_LIST makeFunctionList() {
  CK_FUNCTION_LIST list = functionListOf<Passthrough>();
  list.C_Initialize = initialize;
  list.C_Finalize = finalize;
  list.C_GetFunctionList = getFunctionList;
  list.C_GetSlotList = getSlotList;
  list.C_GetMechanismList = getOfferedMechanismList;
  list.C_GetMechanismInfo = getMechanismInfo;
  list.C_CreateObject = createObjectWithKeyTypes;
  list.C_CopyObject = copyObjectWithKeyTypes;
  list.C_FindObjectsInit = findObjectsInitWithKeyTypes;
  list.C_GetAttributeValue = getAttributeValueWithKeyTypes;
  list.C_SetAttributeValue = setAttributeValueWithKeyTypes;
  list.C_OpenSession = openSession;
  list.C_CloseSession = closeSession;
  list.C_CloseAllSessions = closeAllSessions;
  list.C_GetSessionInfo = getSessionInfo;
  list.C_DestroyObject = destroyObject;
  list.C_GenerateKey = generateKey;
  list.C_GenerateKeyPair = generateKeyPairWithDhConventions;
  list.C_WaitForSlotEvent = waitForSlotEvent;
  operation_entries::setInto(&list);
  return list;
}

const CK_FUNCTION_LIST g_untracedFunctionList = makeFunctionList();

const CK_FUNCTION_LIST &untracedFunctions() { return g_untracedFunctionList; }

// What the application calls: every entry with its trace line (trace.h).
CK_FUNCTION_LIST g_functionList = tracedFunctionList<untracedFunctions>();

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
  if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
  *ppFunctionList = &g_functionList;
  return CKR_OK;
}

const ZorvelCoreInterface g_interface = {
    ZORVEL_CORE_INTERFACE_VERSION, adoptThreadKeys, &g_functionList, initializeFromConfig, setHSM, provokeCommunicationFail,
    failedExchangeCount,
};

}  // namespace
}  // namespace zorvel::core

extern "C" __attribute__((visibility("default"))) const ZorvelCoreInterface *zorvel_core_interface(void) {
  return &zorvel::core::g_interface;
}
