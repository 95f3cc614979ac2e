// The PKCS#11 module the stand-in forwards to, loaded into the core's namespace.
#ifndef ZORVEL_TOKEN_CORE_LAYER_BACKEND_H
#define ZORVEL_TOKEN_CORE_LAYER_BACKEND_H

#include "pkcs11.h"

#include <string>

namespace zorvel::core {

class Backend {
 public:
  // Loads the module and binds each of its functions by name. The module's own function
  // list is never used: its entries may resolve to same-named symbols of other objects.
  // Returns false, with the reason in *error, when the module or a function the
  // stand-in cannot work without is missing.
  bool load(const std::string &path, std::string *error);
  bool loaded() const { return handle_ != nullptr; }

  // The bound functions; an entry the module lacks is null. What the stand-in adds is
  // not here: the entries pass the module to the layer and the translations.
  const CK_FUNCTION_LIST &functions() const { return functions_; }

 private:
  void *handle_ = nullptr;
  CK_FUNCTION_LIST functions_{};
};

}  // namespace zorvel::core

#endif
