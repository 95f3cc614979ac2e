// The standard function list of the core: the generic entry for every function, and
// the functions that keep state of their own or translate beyond their first argument.
#include "core_interface.h"
#include "function_list.h"
#include "layer/entry_prologue.h"
#include "layer/forwarding.h"
#include "layer/library.h"
#include "layer/object_entries.h"
#include "layer/operation_entries.h"
#include "operations/mechanism_records.h"
#include "support/namespace_openssl.h"
#include "support/trace.h"
#include "thread_keys.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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
  return entry([&] {
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

CK_RV getMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
  return entry([&] {
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
    const BackendSlot slot(library().slots, slotID);
    if (slot.status() != CKR_OK) return slot.status();
    std::vector<CK_MECHANISM_TYPE> offered;
    CK_RV rv = exchangeBy(
        [&] { return offeredMechanismList(backendFunctions(), standinEmulations(), slot.get(), &offered); });
    if (rv != CKR_OK) return rv;
    if (pMechanismList != nullptr && *pulCount < offered.size()) rv = CKR_BUFFER_TOO_SMALL;
    if (pMechanismList != nullptr && rv == CKR_OK) std::copy(offered.begin(), offered.end(), pMechanismList);
    *pulCount = offered.size();
    return rv;
  });
}

CK_RV getMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  return slotEntry(slotID, [&](const BackendSlot &slot) {
    return exchangeBy([&] {
      return offeredMechanismInfo(backendFunctions(), standinEmulations(), library().settings, slot.get(), type,
                                  pInfo);
    });
  });
}

CK_RV openSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                  CK_SESSION_HANDLE_PTR phSession) {
  return slotEntry(slotID, [&](const BackendSlot &slot) {
    std::lock_guard<std::mutex> opening(library().openingAndClosing);
    const CK_RV rv = exchange(backendFunctions().C_OpenSession, slot.get(), flags, pApplication, Notify, phSession);
    if (rv == CKR_OK) library().sessions.add(*phSession, slot.get());
    return rv;
  });
}

CK_RV closeSession(CK_SESSION_HANDLE hSession) {
  return sessionEntry(hSession, [&](SessionCall &) {
    if (keepClosedSessionHook(library().faults, backendFunctions(), hSession)) return CKR_OK;
    std::lock_guard<std::mutex> closing(library().openingAndClosing);
    const CK_RV rv = exchange(backendFunctions().C_CloseSession, hSession);
    if (rv == CKR_OK) library().sessions.remove(hSession);
    return rv;
  });
}

CK_RV closeAllSessions(CK_SLOT_ID slotID) {
  return slotEntry(slotID, [&](const BackendSlot &slot) {
    // Wait for the calls in flight on the slot's sessions. The locks are taken in handle
    // order, so two such calls cannot deadlock.
    const std::vector<SessionPtr> sessions = library().sessions.onSlot(slot.get());
    std::vector<std::unique_lock<std::mutex>> locks;
    if (library().settings.serializeSessions) {
      for (const SessionPtr &state : sessions) locks.emplace_back(state->callLock);
    }
    std::lock_guard<std::mutex> closing(library().openingAndClosing);
    const CK_RV rv = exchange(backendFunctions().C_CloseAllSessions, slot.get());
    if (rv == CKR_OK) library().sessions.removeSlot(slot.get());
    return rv;
  });
}

CK_RV destroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
  return sessionEntry(hSession, [&](SessionCall &) {
    const CK_RV rv = exchange(backendFunctions().C_DestroyObject, hSession, hObject);
    return readOnlyDestroyHook(library().faults, backendFunctions(), hSession, hObject, rv);
  });
}

CK_RV findObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                  CK_ULONG_PTR pulObjectCount) {
  return sessionEntry(hSession, [&](SessionCall &) {
    const CK_RV rv = exchange(backendFunctions().C_FindObjects, hSession, phObject, ulMaxObjectCount, pulObjectCount);
    if (rv == CKR_OK) undeletableObjectsHook(library().faults, phObject, ulMaxObjectCount, pulObjectCount);
    return rv;
  });
}

CK_RV getSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
  return sessionEntry(hSession, [&](SessionCall &) {
    const CK_RV rv = exchange(backendFunctions().C_GetSessionInfo, hSession, pInfo);
    if (rv == CKR_OK && !library().slots.toShown(pInfo->slotID, &pInfo->slotID)) return CKR_GENERAL_ERROR;
    return rv;
  });
}

// An event on a slot that is not shown is no event of this library. The call may block,
// so it runs past the prologue, without holding off finalisation.
CK_RV waitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
  const CK_RV initialised = entry([] { return CKR_OK; });
  if (initialised != CKR_OK) return initialised;
  return guarded([&] {
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
  list.C_GetMechanismList = getMechanismList;
  list.C_GetMechanismInfo = getMechanismInfo;
  list.C_OpenSession = openSession;
  list.C_CloseSession = closeSession;
  list.C_CloseAllSessions = closeAllSessions;
  list.C_GetSessionInfo = getSessionInfo;
  list.C_DestroyObject = destroyObject;
  list.C_FindObjects = findObjects;
  list.C_WaitForSlotEvent = waitForSlotEvent;
  object_entries::setInto(&list);
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
