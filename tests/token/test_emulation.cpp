// A test-only emulation, built into the tests' core with its row in the table of
// emulations: signatures with kTestMacMechanism (fake_mechanism.h), the fake module's
// signature over the inverted data. It runs the module's own signature, active from
// C_SignInit to the call that completes it, as real emulations keep theirs; with
// kTestMacSoftwareKey it computes the signature itself and keeps nothing in the module
// (kTestMacSlowSoftwareKey: likewise, after a start that takes 50 ms).
#include "operations/emulation.h"
#include "fake_mechanism.h"

#include <chrono>
#include <thread>
#include <vector>

namespace zorvel::core {
namespace {

using test::kTestMacFailingByte;

class TestMac : public ActiveOperation {
 public:
  explicit TestMac(const OperationRequest &request)
      : module_(request.module), session_(request.session), key_(request.key) {}

  CK_RV oneShot(Input input, Output output) override {
    inverted_.clear();
    const CK_RV rv = invert(input);
    if (rv != CKR_OK) return rv;
    if (inSoftware()) return finish(output);
    return module_.C_Sign(session_, inverted_.data(), inverted_.size(), output.data, output.length);
  }
  CK_RV update(Input input, Output) override {
    const CK_RV rv = invert(input);
    if (rv != CKR_OK || inSoftware()) return rv;
    const CK_RV added = module_.C_SignUpdate(session_, inverted_.data(), inverted_.size());
    inverted_.clear();
    return added;
  }
  CK_RV finish(Output output) override {
    if (!inSoftware()) return module_.C_SignFinal(session_, output.data, output.length);
    const test::FakeSignature signature = test::fakeSignature(inverted_, key_);
    return deliver(signature.data(), signature.size(), output);
  }
  void abort() override {
    if (inSoftware()) return;
    test::FakeSignature scratch;
    CK_ULONG length = scratch.size();
    module_.C_SignFinal(session_, scratch.data(), &length);
  }

 private:
  bool inSoftware() const { return key_ == test::kTestMacSoftwareKey || key_ == test::kTestMacSlowSoftwareKey; }

  // Appends the inverted input; refuses data holding the failing byte, leaving the
  // module's operation for abort() to end.
  CK_RV invert(Input input) {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < input.length; ++i) {
      if (input.data[i] == kTestMacFailingByte) return CKR_DATA_INVALID;
    }
    for (CK_ULONG i = 0; i < input.length; ++i) inverted_.push_back(static_cast<CK_BYTE>(~input.data[i]));
    return CKR_OK;
  }

  const CK_FUNCTION_LIST &module_;
  CK_SESSION_HANDLE session_;
  CK_OBJECT_HANDLE key_;
  std::vector<CK_BYTE> inverted_;  // in software: all the data; else the part not yet given
};

}  // namespace

bool claimsTestMac(const OperationRequest &request) { return request.mechanism->mechanism == test::kTestMacMechanism; }

CK_RV startTestMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  if (request.key == test::kTestMacSlowSoftwareKey) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (request.key != test::kTestMacSoftwareKey && request.key != test::kTestMacSlowSoftwareKey) {
    CK_MECHANISM fake = {test::kFakeMechanism, nullptr, 0};
    const CK_RV rv = request.module.C_SignInit(request.session, &fake, request.key);
    if (rv != CKR_OK) return rv;
  }
  *operation = std::make_unique<TestMac>(request);
  return CKR_OK;
}

}  // namespace zorvel::core
