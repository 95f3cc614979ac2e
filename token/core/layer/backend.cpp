#include "layer/backend.h"

#include <dlfcn.h>

namespace zorvel::core {

bool Backend::load(const std::string &path, std::string *error) {
  // Called from the core, dlopen loads into the core's namespace.
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *reason = dlerror();
    *error = reason != nullptr ? reason : "cannot load " + path;
    return false;
  }
  CK_FUNCTION_LIST functions{};
  functions.version = {2, 40};
#define ZORVEL_BIND(name, params) \
  functions.name = reinterpret_cast<decltype(functions.name)>(dlsym(handle, #name));
  ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_BIND)
#undef ZORVEL_BIND
  if (functions.C_Initialize == nullptr || functions.C_Finalize == nullptr ||
      functions.C_GetSlotList == nullptr || functions.C_GetTokenInfo == nullptr) {
    *error = path + " lacks C_Initialize, C_Finalize, C_GetSlotList or C_GetTokenInfo";
    dlclose(handle);
    return false;
  }
  handle_ = handle;
  functions_ = functions;
  return true;
}

}  // namespace zorvel::core
