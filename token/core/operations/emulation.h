// Emulations: operations the stand-in carries out itself, in software or with other
// operations of the module, where the module lacks them or refuses what this library
// accepts. Each is one row of the table in emulation_table.cpp, saying which
// (family, mechanism, key) it claims and how it carries the operation out; its code is
// a file of its own. The emulation layer (emulation_layer.h) asks the table at every
// Init, C_WrapKey, C_UnwrapKey and C_DeriveKey, and forwards to the module what no row
// claims.
//
// An emulation works only with what it is given: the module's functions in the request
// (never a global), the session, the mechanism as the module takes it (translated, see
// mechanism_translation.h) and the key. Its calls to the module are its own business;
// the layer counts the caller's call as the one exchange.
#ifndef ZORVEL_TOKEN_CORE_EMULATION_H
#define ZORVEL_TOKEN_CORE_EMULATION_H

#include "operations/operation.h"
#include "pkcs11.h"

#include <cstddef>
#include <memory>
#include <variant>

namespace zorvel::core {

// What the caller asks for.
struct OperationRequest {
  const CK_FUNCTION_LIST &module;
  Family family;
  CK_SESSION_HANDLE session;
  CK_MECHANISM_PTR mechanism;  // never null
  // The Init's key; the wrapping, unwrapping or base key; CK_INVALID_HANDLE for a digest.
  CK_OBJECT_HANDLE key;
};

// Whether the emulation takes the request. It may ask the module (the key's class, say);
// it must not change anything there.
using ClaimFunction = bool (*)(const OperationRequest &request);

// Encrypt, Decrypt, Sign, Verify, Digest: starts the operation. On CKR_OK *operation
// holds it and the layer keeps it active on the session; on anything else nothing may
// be left active in the module.
using StartFunction = CK_RV (*)(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);
// Wrap: wraps `key` with request.key; the length query and too small buffer as deliver().
using WrapFunction = CK_RV (*)(const OperationRequest &request, CK_OBJECT_HANDLE key, Output wrapped);
// Unwrap: unwraps with request.key into a new object made from the template.
using UnwrapFunction = CK_RV (*)(const OperationRequest &request, Input wrapped, AttributeList keyTemplate,
                                 CK_OBJECT_HANDLE_PTR key);
// Derive: derives from request.key a new object made from the template.
using DeriveFunction = CK_RV (*)(const OperationRequest &request, AttributeList keyTemplate,
                                 CK_OBJECT_HANDLE_PTR key);

struct Emulation {
  const char *name;
  Family family;
  ClaimFunction claims;
  // The function for the family: a StartFunction for Encrypt to Digest, else the one
  // named after it.
  std::variant<StartFunction, WrapFunction, UnwrapFunction, DeriveFunction> carryOut;
};

class EmulationTable {
 public:
  template <std::size_t N>
  constexpr explicit EmulationTable(const Emulation (&rows)[N]) : rows_(rows), count_(N) {}
  constexpr EmulationTable(const Emulation *rows, std::size_t count) : rows_(rows), count_(count) {}

  // The first row of the request's family that claims it; null when none does.
  const Emulation *find(const OperationRequest &request) const;

 private:
  const Emulation *rows_;
  std::size_t count_;
};

// The stand-in's emulations (emulation_table.cpp).
const EmulationTable &standinEmulations();

}  // namespace zorvel::core

#endif
