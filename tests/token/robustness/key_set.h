// The keys of the catalogue made on a target's session before its cases: session objects
// with permissive uses (so that calls get past the permission checks to the mechanisms),
// extractable and not sensitive, but for the one restricted key. The RSA pairs are made
// with C_CreateObject from fixed values (key_catalogue.h), the others are generated. A key
// the target cannot make (Camellia and FRP256v1 on raw SoftHSM2, EdDSA where the module
// lists no Edwards generation) stays absent: cases then pass CK_INVALID_HANDLE for it.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_KEY_SET_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_KEY_SET_H

#include "case_model.h"
#include "key_catalogue.h"
#include "target.h"

#include <map>
#include <string>
#include <utility>

namespace zorvel::robustness {

class KeySet {
 public:
  // Makes the keys; returns a line per key that could not be made, with the reason.
  std::string prepare(const Target &target);

  CK_OBJECT_HANDLE handle(KeyIndex key) const { return handles_[key]; }
  // The bytes of a key's attribute as read at preparation (empty if it has none).
  Bytes value(const KeyValue &from) const;
  // The length of CKA_MODULUS as the target keeps it for the leading-zero key.
  std::size_t leadingZeroModulusLength() const;

 private:
  CK_RV make(const Target &target, KeyIndex key);
  void readValues(const Target &target, KeyIndex key);

  CK_OBJECT_HANDLE handles_[kKeyCount] = {};
  std::map<std::pair<KeyIndex, CK_ATTRIBUTE_TYPE>, Bytes> values_;
};

}  // namespace zorvel::robustness

#endif
