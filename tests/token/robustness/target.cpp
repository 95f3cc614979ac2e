#include "target.h"

#include "case_printer.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>

namespace zorvel::robustness {
namespace {

bool failed(CK_RV rv, const char *call, std::string *error) {
  if (rv == CKR_OK) return false;
  *error = std::string(call) + " returned " + returnValueName(rv);
  return true;
}

CK_FUNCTION_LIST_PTR moduleFunctions(const std::string &path, std::string *error) {
  void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    *error = dlerror();
    return nullptr;
  }
  using GetFunctionList = CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR);
  auto getFunctionList = reinterpret_cast<GetFunctionList>(dlsym(module, "C_GetFunctionList"));
  CK_FUNCTION_LIST_PTR f = nullptr;
  if (getFunctionList == nullptr) {
    *error = path + " has no C_GetFunctionList";
  } else if (!failed(getFunctionList(&f), "C_GetFunctionList", error)) {
    return f;
  }
  return nullptr;
}

}  // namespace

bool Target::lists(CK_MECHANISM_TYPE mechanism) const {
  return std::find(mechanisms.begin(), mechanisms.end(), mechanism) != mechanisms.end();
}

std::string targetName(const std::string &modulePath) { return modulePath.empty() ? "the stand-in" : modulePath; }

bool openTarget(const std::string &modulePath, Target *target, std::string *error) {
  if (modulePath.empty()) {
    if (failed(C_GetFunctionList(&target->f), "C_GetFunctionList", error)) return false;
  } else if ((target->f = moduleFunctions(modulePath, error)) == nullptr) {
    return false;
  }
  CK_FUNCTION_LIST_PTR f = target->f;
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK;
  if (failed(f->C_Initialize(&args), "C_Initialize", error)) return false;
  CK_ULONG count = 0;
  if (failed(f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList", error)) return false;
  std::vector<CK_SLOT_ID> slots(count);
  if (failed(f->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList", error)) return false;
  if (count == 0) {
    *error = "no slot holds a token";
    return false;
  }
  target->slot = slots[0];
  if (failed(f->C_OpenSession(target->slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &target->session),
             "C_OpenSession", error)) {
    return false;
  }
  const char *pin = std::getenv("ZORVEL_TEST_USER_PIN");
  std::string userPin = pin != nullptr ? pin : "1234";
  if (failed(f->C_Login(target->session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(userPin.data()), userPin.size()),
             "C_Login", error)) {
    return false;
  }
  if (failed(f->C_GetMechanismList(target->slot, nullptr, &count), "C_GetMechanismList", error)) return false;
  target->mechanisms.resize(count);
  return !failed(f->C_GetMechanismList(target->slot, target->mechanisms.data(), &count), "C_GetMechanismList", error);
}

}  // namespace zorvel::robustness
