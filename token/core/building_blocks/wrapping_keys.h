// What a token checks of the keys of C_WrapKey and C_UnwrapKey, for the emulations that
// wrap and unwrap themselves, and the module session they run their cipher on.
#ifndef ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_WRAPPING_KEYS_H
#define ZORVEL_TOKEN_CORE_BUILDING_BLOCKS_WRAPPING_KEYS_H

#include "pkcs11.h"

namespace zorvel::core {

// The wrapping or unwrapping key's part in a call: its class, type and usage attribute,
// and the errors of its kind.
struct KeyRole {
  CK_OBJECT_CLASS keyClass;
  CK_KEY_TYPE keyType;
  CK_ATTRIBUTE_TYPE usage;
  CK_RV handleInvalid;
  CK_RV typeInconsistent;
};

// CKR_OK when the key is of the role's class and type with its usage attribute set; the
// role's errors for another object, CKR_KEY_FUNCTION_NOT_PERMITTED without the usage.
CK_RV checkKeyRole(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                   const KeyRole &role);

// Whether a key may leave the token under the wrapping key: CKR_KEY_UNEXTRACTABLE
// without CKA_EXTRACTABLE, CKR_KEY_NOT_WRAPPABLE for CKA_WRAP_WITH_TRUSTED under a
// wrapping key that is not CKA_TRUSTED.
CK_RV checkExtractableUnder(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKey,
                            CK_OBJECT_HANDLE key);

// A session of the module's own on the slot of the caller's session, so that the
// emulation's cipher neither meets nor ends the caller's operations; closed at the end.
class HelperSession {
 public:
  HelperSession(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE caller);
  ~HelperSession();
  HelperSession(const HelperSession &) = delete;
  HelperSession &operator=(const HelperSession &) = delete;
  CK_RV status() const { return status_; }
  CK_SESSION_HANDLE handle() const { return handle_; }

 private:
  const CK_FUNCTION_LIST &module_;
  CK_RV status_;
  CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

}  // namespace zorvel::core

#endif
