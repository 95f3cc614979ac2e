// Runs a case's steps on a prepared target, one PKCS#11 call per step, and reports each
// call's answer before the next call starts (so that the call that ended the process is
// the one after the last reported).
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_EXECUTOR_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_EXECUTOR_H

#include "c_structures.h"
#include "case_model.h"
#include "key_set.h"
#include "target.h"

#include <functional>
#include <vector>

namespace zorvel::robustness {

class CaseExecutor {
 public:
  CaseExecutor(const Target &target, const KeySet &keys);

  void run(const Case &c, const std::function<void(std::size_t step, CK_RV rv)> &report);

 private:
  CK_RV execute(const Step &step, CallArena &arena);
  CK_RV objectCall(const Step &step, CallArena &arena);
  CK_RV operationCall(const Step &step, CallArena &arena);
  CK_OBJECT_HANDLE handle(const ObjectRef &ref) const;
  CK_BYTE_PTR input(const Input &input, CallArena &arena, CK_ULONG *length);
  // The buffer and length pointer for an output; keep() then records what was returned.
  struct OutputBuffer {
    CK_BYTE_PTR buffer = nullptr;
    CK_ULONG size = 0;
    CK_ULONG length = 0;
    bool noLength = false;
    CK_ULONG_PTR lengthPointer() { return noLength ? nullptr : &length; }
  };
  OutputBuffer output(const Output &spec, CallArena &arena);
  void keep(const Output &spec, const OutputBuffer &out, CK_RV rv);
  void made(CK_RV rv, CK_OBJECT_HANDLE object);
  void startOperation();

  const Target &target_;
  const KeySet &keys_;
  CK_SESSION_HANDLE session_;
  std::vector<CK_OBJECT_HANDLE> made_;
  std::vector<Bytes> outputs_;  // what each operation (from an Init, a wrap or an unwrap) returned
};

}  // namespace zorvel::robustness

#endif
