// A target of the cases: the stand-in this program is linked with, or a PKCS#11 module
// loaded by path, initialised with a read-write session on its first slot with a token
// and the user logged in.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_TARGET_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_TARGET_H

#include "pkcs11.h"

#include <string>
#include <vector>

namespace zorvel::robustness {

struct Target {
  CK_FUNCTION_LIST_PTR f = nullptr;
  CK_SLOT_ID slot = 0;
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  std::vector<CK_MECHANISM_TYPE> mechanisms;

  bool lists(CK_MECHANISM_TYPE mechanism) const;
};

// The target's name for messages: "the stand-in" or the module's path.
std::string targetName(const std::string &modulePath);

// Opens the target (modulePath empty: the stand-in); false, with the reason, if it cannot.
bool openTarget(const std::string &modulePath, Target *target, std::string *error);

}  // namespace zorvel::robustness

#endif
