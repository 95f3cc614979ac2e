// The exported face of libzorvelP11: the standard function list, the exported
// C_DestroyObject, the vendor list and the HSM controls. Every entry forwards to the
// core; before the core is loaded there is nothing initialised to talk to.
#include "pkcs11.h"
#include "zorvel_p11.h"
#include "zorvel_standin.h"

#include "core_loader.h"
#include "function_list.h"

namespace zorvel::thin {
namespace {

template <auto Member>
struct Forward;

template <typename... Args, CK_RV (*CK_FUNCTION_LIST::*Member)(Args...)>
struct Forward<Member> {
  static CK_RV call(Args... args) {
    const ZorvelCoreInterface *core = loadedCore();
    if (core == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return (core->functions->*Member)(args...);
  }
};

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);

CK_RV initialize(CK_VOID_PTR pInitArgs) {
  const ZorvelCoreInterface *core = loadCore();
  if (core == nullptr) return CKR_GENERAL_ERROR;
  return core->functions->C_Initialize(pInitArgs);
}

CK_RV initializeFromConfig(const char *configPath) {
  const ZorvelCoreInterface *core = loadCore();
  if (core == nullptr) return CKR_GENERAL_ERROR;
  return core->initializeFromConfig(configPath);
}

CK_ULONG failedExchangeCount() {
  const ZorvelCoreInterface *core = loadedCore();
  return core == nullptr ? 0 : core->failedExchangeCount();
}

constexpr CK_FUNCTION_LIST makeFunctionList() {
  CK_FUNCTION_LIST list = functionListOf<Forward>();
  // The two entries that work before the core is loaded.
  list.C_Initialize = initialize;
  list.C_GetFunctionList = getFunctionList;
  return list;
}

CK_FUNCTION_LIST g_functionList = makeFunctionList();

const ZorvelStandinFunctionList g_vendorList = {
    {{1, 0}, getFunctionList, Forward<&CK_FUNCTION_LIST::C_Finalize>::call, initializeFromConfig},
    failedExchangeCount,
};

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
  if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
  *ppFunctionList = &g_functionList;
  return CKR_OK;
}

}  // namespace
}  // namespace zorvel::thin

using namespace zorvel::thin;

extern "C" {

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) { return getFunctionList(ppFunctionList); }

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
  return Forward<&CK_FUNCTION_LIST::C_DestroyObject>::call(hSession, hObject);
}

CK_RV C_GetZorvelFunctionList(CK_ZORVEL_FUNCTION_LIST_PTR_PTR ppFunctionList) {
  if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
  *ppFunctionList = const_cast<CK_ZORVEL_FUNCTION_LIST_PTR>(&g_vendorList.vendor);
  return CKR_OK;
}

void setHSM(unsigned int hsm) {
  if (const ZorvelCoreInterface *core = loadCore()) core->setHSM(hsm);
}

void provokeCommunicationFail(bool armed) {
  if (const ZorvelCoreInterface *core = loadCore()) core->provokeCommunicationFail(armed);
}

}
