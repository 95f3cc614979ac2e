// A test-only emulation, built into the tests' core with its row in the table of
// emulations: signatures with kTestMacMechanism (fake_mechanism.h), carried out by the
// fake module's own signature over the inverted data. The module's operation stays
// active from C_SignInit to the call that completes it, as real emulations keep theirs.
#include "emulation.h"
#include "fake_mechanism.h"

#include <vector>

namespace zorvel::core {
namespace {

using test::kTestMacFailingByte;

class TestMac : public ActiveOperation {
 public:
  explicit TestMac(const OperationRequest &request) : module_(request.module), session_(request.session) {}

  CK_RV oneShot(Input input, Output output) override {
    std::vector<CK_BYTE> data;
    const CK_RV rv = invert(input, &data);
    if (rv != CKR_OK) return rv;
    return module_.C_Sign(session_, data.data(), data.size(), output.data, output.length);
  }
  CK_RV update(Input input, Output) override {
    std::vector<CK_BYTE> data;
    const CK_RV rv = invert(input, &data);
    if (rv != CKR_OK) return rv;
    return module_.C_SignUpdate(session_, data.data(), data.size());
  }
  CK_RV finish(Output output) override { return module_.C_SignFinal(session_, output.data, output.length); }
  void abort() override {
    test::FakeSignature scratch;
    CK_ULONG length = scratch.size();
    module_.C_SignFinal(session_, scratch.data(), &length);
  }

 private:
  // The inverted input; refuses data holding the failing byte, leaving the module's
  // operation for abort() to end.
  static CK_RV invert(Input input, std::vector<CK_BYTE> *data) {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    data->assign(input.data, input.data + input.length);
    for (CK_BYTE &byte : *data) {
      if (byte == kTestMacFailingByte) return CKR_DATA_INVALID;
      byte = static_cast<CK_BYTE>(~byte);
    }
    return CKR_OK;
  }

  const CK_FUNCTION_LIST &module_;
  CK_SESSION_HANDLE session_;
};

}  // namespace

bool claimsTestMac(const OperationRequest &request) { return request.mechanism->mechanism == test::kTestMacMechanism; }

CK_RV startTestMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  CK_MECHANISM fake = {test::kFakeMechanism, nullptr, 0};
  const CK_RV rv = request.module.C_SignInit(request.session, &fake, request.key);
  if (rv == CKR_OK) *operation = std::make_unique<TestMac>(request);
  return rv;
}

}  // namespace zorvel::core
