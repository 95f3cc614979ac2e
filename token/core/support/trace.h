// The call trace: with ZORVEL_P11_TRACE=1 (read at every initialisation) every call of a
// standard function through the stand-in writes one line on stderr once it returns:
//
//   libzorvelP11: C_SignInit hSession=0x1 mechanism=0x1 hKey=0x2 -> 0x0
//   libzorvelP11: C_Sign hSession=0x1 ulDataLen=15 pSignature=null pulSignatureLen=128 -> 0x0
//
// Handles, slots, mechanism types, flags and lengths are shown (a length or handle the
// call returns as its value after the call), and a buffer only when it is null (a length
// query); data, templates, PINs and key material never.
#ifndef ZORVEL_TOKEN_CORE_SUPPORT_TRACE_H
#define ZORVEL_TOKEN_CORE_SUPPORT_TRACE_H

#include "pkcs11.h"

#include <atomic>
#include <string>
#include <string_view>

namespace zorvel::core {

void setTracing(bool on);
bool tracing();

// Names what served the call besides the module (an emulation row, a refusal, a
// template translation); the trace line shows the names in brackets before the result:
//
//   libzorvelP11: C_SignInit hSession=0x1 mechanism=0x1044 hKey=0x2 [hashed ECDSA signature] -> 0x0
//
// Kept per thread for the call in progress; nothing is kept while tracing is off.
void noteServedBy(const char *name);
// Starts a call with nothing noted.
void clearServedBy();

// The parts of one trace line.
class TraceLine {
 public:
  TraceLine(const char *function, const char *parameters, CK_RV rv)
      : function_(function), parameters_(parameters), rv_(rv) {}

  // Adds the next argument; its name comes from the parameter list.
  template <typename T>
  void add(T value) {
    describe(nextName(), value);
  }
  // Writes the line with what served the call and the result.
  void write();

 private:
  std::string_view nextName();
  void describe(std::string_view name, CK_ULONG value);
  void describe(std::string_view name, CK_ULONG_PTR value);
  void describe(std::string_view name, CK_MECHANISM_PTR mechanism);
  void describe(std::string_view name, CK_BBOOL value);
  void describe(std::string_view name, CK_BYTE_PTR data);
  template <typename T>
  void describe(std::string_view, T) {}  // data, templates, PINs, information records

  const char *function_;
  std::string_view parameters_;
  CK_RV rv_;
  std::string text_;
};

// The entry of a standard function with a trace line after it; the untraced entries are
// those of the list `Untraced()` returns.
template <const CK_FUNCTION_LIST &(*Untraced)(), auto Member, const char *Name, const char *Parameters>
struct TracedCall;

template <const CK_FUNCTION_LIST &(*Untraced)(), typename... Args, CK_RV (*CK_FUNCTION_LIST::*Member)(Args...),
          const char *Name, const char *Parameters>
struct TracedCall<Untraced, Member, Name, Parameters> {
  static CK_RV call(Args... args) {
    if (tracing()) clearServedBy();
    const CK_RV rv = (Untraced().*Member)(args...);
    if (tracing()) {
      TraceLine line(Name, Parameters, rv);
      (line.add(args), ...);
      line.write();
    }
    return rv;
  }
};

// The name and parameter list of every standard function, for the trace lines.
namespace trace_names {
#define ZORVEL_TRACE_NAMES(name, params) \
  inline constexpr char name[] = #name;  \
  inline constexpr char name##_parameters[] = #params;
ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_TRACE_NAMES)
#undef ZORVEL_TRACE_NAMES
}  // namespace trace_names

// A function list whose every entry calls the one of `Untraced()` and writes its trace
// line.
template <const CK_FUNCTION_LIST &(*Untraced)()>
constexpr CK_FUNCTION_LIST tracedFunctionList() {
  CK_FUNCTION_LIST list{};
  list.version = {2, 40};
#define ZORVEL_SET_TRACED(name, params)                                                                      \
  list.name = TracedCall<Untraced, &CK_FUNCTION_LIST::name, trace_names::name, trace_names::name##_parameters>::call;
  ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_SET_TRACED)
#undef ZORVEL_SET_TRACED
  return list;
}

}  // namespace zorvel::core

#endif
