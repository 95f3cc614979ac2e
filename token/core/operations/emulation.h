// Emulations: operations the stand-in carries out itself, in software or with other
// operations of the module, where the module lacks them or refuses what this library
// accepts. Each is one row of the table in emulation_table.cpp, saying which
// (family, mechanism, key) it claims and how it carries the operation out; its code is
// a file of its own (emulations/). The emulation layer (emulation_layer.h) asks the
// table at every Init, C_WrapKey, C_UnwrapKey, C_DeriveKey and C_GenerateKey, and
// forwards to the module what no row claims. The rows also name the mechanisms they add,
// from which C_GetMechanismList and C_GetMechanismInfo are answered
// (mechanism_records.h).
//
// An emulation works only with what it is given: the module's functions in the request
// (never a global), the session, the mechanism as the module takes it (translated, see
// mechanism_translation.h) and the key. Its calls to the module are its own business;
// the layer counts the caller's call as the one exchange.
#ifndef ZORVEL_TOKEN_CORE_OPERATIONS_EMULATION_H
#define ZORVEL_TOKEN_CORE_OPERATIONS_EMULATION_H

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
  // The Init's key; the wrapping, unwrapping or base key; CK_INVALID_HANDLE for a digest
  // and a key generation.
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
// Derive, Generate: makes a new key from the template (derived from request.key, or
// generated; request.key is then CK_INVALID_HANDLE).
using KeyMakingFunction = CK_RV (*)(const OperationRequest &request, AttributeList keyTemplate,
                                    CK_OBJECT_HANDLE_PTR key);

// A mechanism a row offers, and the record C_GetMechanismInfo gives it
// (mechanism_records.h).
struct MechanismOffer {
  CK_MECHANISM_TYPE type;
  // The module mechanism whose record it shows and beside which it is listed (where the
  // module lists that one and not this one); kOwnRecord for a record of the stand-in's:
  // the key sizes below, the flags of the families of the rows that offer it. A mechanism
  // with an own record is refused for every family no row offers it for.
  CK_MECHANISM_TYPE recordOf;
  CK_ULONG minKeySize;
  CK_ULONG maxKeySize;
};

constexpr CK_MECHANISM_TYPE kOwnRecord = CK_UNAVAILABLE_INFORMATION;

struct OfferList {
  constexpr OfferList() = default;
  template <std::size_t N>
  constexpr OfferList(const MechanismOffer (&offers)[N]) : offers(offers), count(N) {}
  const MechanismOffer *begin() const { return offers; }
  const MechanismOffer *end() const { return offers + count; }

  const MechanismOffer *offers = nullptr;
  std::size_t count = 0;
};

struct Emulation {
  const char *name;  // as the call trace names it
  Family family;
  ClaimFunction claims;
  // The function for the family: a StartFunction for Encrypt to Digest, a
  // KeyMakingFunction for Derive and Generate, else the one named after it.
  std::variant<StartFunction, WrapFunction, UnwrapFunction, KeyMakingFunction> carryOut;
  // The mechanisms the row adds to the module's list; none for a row that carries out a
  // mechanism the module lists itself.
  OfferList offers = {};
};

// A mechanism refused with CKR_MECHANISM_INVALID for the operations named (CKF_ENCRYPT,
// CKF_SIGN ...) before the key is looked at, as the vendor's token refuses it; the
// module's record loses those flags.
struct Refusal {
  CK_MECHANISM_TYPE type;
  CK_FLAGS operations;
};

// What the table says of a call: refused, carried out by a row, or neither (forwarded).
struct Claim {
  // The stand-in's answer to a refused call, given before the module sees it: CKR_OK when
  // the call is not refused.
  CK_RV refusal = CKR_OK;
  const Emulation *row = nullptr;
  bool refused() const { return refusal != CKR_OK; }
};

class EmulationTable {
 public:
  template <std::size_t N, std::size_t M>
  constexpr EmulationTable(const Emulation (&rows)[N], const Refusal (&refusals)[M])
      : rows_(rows), count_(N), refusals_(refusals), refusalCount_(M) {}

  // A refusal first: a refused mechanism (refused()) CKR_MECHANISM_INVALID, then a key of
  // a type the mechanism does not work with (mechanism_key_types.h); else the first row
  // of the request's family that claims it.
  Claim claim(const OperationRequest &request) const;
  // Whether the mechanism is refused for the family: a refusal names it, or rows offer it
  // with an own record but none of the family.
  bool refused(CK_MECHANISM_TYPE type, Family family) const;
  // The operations the refusals take out of the module's record of the mechanism.
  CK_FLAGS refusedOperations(CK_MECHANISM_TYPE type) const;

  const Emulation *begin() const { return rows_; }
  const Emulation *end() const { return rows_ + count_; }

 private:
  const Emulation *rows_;
  std::size_t count_;
  const Refusal *refusals_;
  std::size_t refusalCount_;
};

// The CKF_ flag of the family's operation (CKF_ENCRYPT, CKF_SIGN ..., CKF_GENERATE).
CK_FLAGS operationFlag(Family family);

// The stand-in's emulations (emulation_table.cpp).
const EmulationTable &standinEmulations();

}  // namespace zorvel::core

#endif
