// A standard function list built from one entry template, for both libraries.
#ifndef ZORVEL_TOKEN_FUNCTION_LIST_H
#define ZORVEL_TOKEN_FUNCTION_LIST_H

#include "pkcs11.h"

namespace zorvel {

// A version 2.40 CK_FUNCTION_LIST whose entry for every function F is
// Entry<&CK_FUNCTION_LIST::F>::call.
template <template <auto> class Entry>
constexpr CK_FUNCTION_LIST functionListOf() {
  CK_FUNCTION_LIST list{};
  list.version = {2, 40};
#define ZORVEL_SET_ENTRY(name, params) list.name = Entry<&CK_FUNCTION_LIST::name>::call;
  ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_SET_ENTRY)
#undef ZORVEL_SET_ENTRY
  return list;
}

}  // namespace zorvel

#endif
