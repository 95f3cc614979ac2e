// The library loaded at run time by path, as the engine loads it: from a folder of its
// own, without its core beside it, and loaded again after an unload.
#include "pkcs11.h"
#include "zorvel_p11.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string copyLibraryAway() {
  const fs::path folder = fs::current_path() / "elsewhere";
  fs::create_directories(folder);
  const fs::path copy = folder / "libzorvelP11.so";
  fs::copy_file(ZORVEL_STANDIN_LIBRARY, copy, fs::copy_options::overwrite_existing);
  return copy.string();
}

CK_RV loginThroughVendorList(void *library) {
  auto getVendorList =
      reinterpret_cast<CK_RV (*)(CK_ZORVEL_FUNCTION_LIST_PTR_PTR)>(dlsym(library, "C_GetZorvelFunctionList"));
  if (getVendorList == nullptr) return CKR_GENERAL_ERROR;
  CK_ZORVEL_FUNCTION_LIST_PTR vendor = nullptr;
  CK_FUNCTION_LIST_PTR f = nullptr;
  CK_RV rv = getVendorList(&vendor);
  if (rv == CKR_OK) rv = vendor->C_GetFunctionList(&f);
  if (rv == CKR_OK) rv = vendor->C_Initialize("/nonexistent/zorvel.cfg");
  if (rv != CKR_OK) return rv;
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  rv = f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
  const char *pin = std::getenv("ZORVEL_TEST_USER_PIN");
  std::string userPin = pin != nullptr ? pin : "1234";
  if (rv == CKR_OK) {
    rv = f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(userPin.data()), userPin.size());
  }
  const CK_RV finalized = vendor->C_Finalize(nullptr);
  return rv != CKR_OK ? rv : finalized;
}

TEST(LoadByPath, WorksFromAnotherFolderAndAfterAnUnload) {
  const std::string path = copyLibraryAway();
  void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << dlerror();
  EXPECT_EQ(CKR_OK, loginThroughVendorList(library));
  void *const entry = dlsym(library, "C_GetZorvelFunctionList");
  dlclose(library);

  library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << dlerror();
  // Kept loaded, so its core and namespace are used again rather than made anew.
  EXPECT_EQ(entry, dlsym(library, "C_GetZorvelFunctionList"));
  EXPECT_EQ(CKR_OK, loginThroughVendorList(library));
  dlclose(library);
}

}  // namespace
