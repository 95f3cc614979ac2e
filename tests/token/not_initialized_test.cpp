// Before a successful initialisation, and again after finalisation, every function but
// C_GetFunctionList answers CKR_CRYPTOKI_NOT_INITIALIZED, whatever its arguments.
#include "standin_test_support.h"

#include <algorithm>
#include <string>
#include <vector>

namespace zorvel::test {
namespace {

struct EntryPoint {
  const char *name;
  CK_RV (*callWithNoArguments)();
};

// Calls a list entry with every argument zero or null.
template <auto Member>
struct CallWithNoArguments;
template <typename... Args, CK_RV (*CK_FUNCTION_LIST::*Member)(Args...)>
struct CallWithNoArguments<Member> {
  static CK_RV call() { return (functionList()->*Member)(Args{}...); }
};

CK_RV exportedDestroyObject() { return C_DestroyObject(0, 0); }
CK_RV vendorFinalize() { return standinList()->vendor.C_Finalize(nullptr); }

std::vector<EntryPoint> entryPointsNeedingInitialisation() {
  std::vector<EntryPoint> entries;
#define ZORVEL_ADD_ENTRY(name, params) \
  entries.push_back({"list " #name, CallWithNoArguments<&CK_FUNCTION_LIST::name>::call});
  ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_ADD_ENTRY)
#undef ZORVEL_ADD_ENTRY
  // C_Initialize is how the state is left, C_GetFunctionList works in any state.
  const auto stateless = [](const EntryPoint &entry) {
    return std::string(entry.name) == "list C_Initialize" || std::string(entry.name) == "list C_GetFunctionList";
  };
  entries.erase(std::remove_if(entries.begin(), entries.end(), stateless), entries.end());
  entries.push_back({"exported C_DestroyObject", exportedDestroyObject});
  entries.push_back({"vendor C_Finalize", vendorFinalize});
  return entries;
}

void expectEveryEntryNotInitialized() {
  const std::vector<EntryPoint> entries = entryPointsNeedingInitialisation();
  EXPECT_EQ(66u + 2u, entries.size());
  for (const EntryPoint &entry : entries) {
    SCOPED_TRACE(entry.name);
    EXPECT_CKR(CKR_CRYPTOKI_NOT_INITIALIZED, entry.callWithNoArguments());
  }
}

// Runs first, in a process that has not initialised the library yet.
TEST(NotInitialized, EveryFunctionBeforeTheFirstInitialisation) { expectEveryEntryNotInitialized(); }

TEST(NotInitialized, EveryFunctionAfterFinalisation) {
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  ASSERT_CKR(CKR_OK, functionList()->C_Initialize(&args));
  ASSERT_CKR(CKR_OK, functionList()->C_Finalize(nullptr));
  expectEveryEntryNotInitialized();
}

TEST(NotInitialized, FunctionListPointerIsRequired) {
  EXPECT_CKR(CKR_ARGUMENTS_BAD, C_GetFunctionList(nullptr));
  EXPECT_CKR(CKR_ARGUMENTS_BAD, functionList()->C_GetFunctionList(nullptr));
  EXPECT_CKR(CKR_ARGUMENTS_BAD, standinList()->vendor.C_GetFunctionList(nullptr));
  EXPECT_CKR(CKR_ARGUMENTS_BAD, C_GetZorvelFunctionList(nullptr));
  CK_FUNCTION_LIST_PTR list = nullptr;
  EXPECT_CKR(CKR_OK, standinList()->vendor.C_GetFunctionList(&list));
  EXPECT_EQ(functionList(), list);
}

// Registered once with ZORVEL_P11_CORE and once with ZORVEL_P11_MODULE naming a file
// that does not exist.
TEST(LoadFailure, InitialisationFailsAndCanBeTriedAgain) {
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_CKR(CKR_GENERAL_ERROR, functionList()->C_Initialize(&args));
    EXPECT_CKR(CKR_GENERAL_ERROR, standinList()->vendor.C_Initialize(nullptr));
  }
  setHSM(0);
  provokeCommunicationFail(false);
  expectEveryEntryNotInitialized();
}

}  // namespace
}  // namespace zorvel::test
