// The table of emulations (emulation.h). The first row of the family that claims a call
// carries it out; what no row claims goes to the module.
#include "emulation.h"
#include "oaep_emulation.h"
#include "oaep_key_wrapping.h"
#include "rsa_key_conventions.h"

namespace zorvel::core {

#ifdef ZORVEL_STANDIN_TEST_EMULATION
// Built into the tests' core only: tests/token/test_emulation.cpp.
bool claimsTestMac(const OperationRequest &request);
CK_RV startTestMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);
#endif

namespace {

constexpr Emulation kEmulations[] = {
    {"RSA private-key encryption by signature", Family::Encrypt, claimsPrivateKeyEncryption,
     startPrivateKeyEncryption},
    {"RSA public-key raw decryption by encryption", Family::Decrypt, claimsPublicKeyDecryption,
     startPublicKeyDecryption},
    {"OAEP encryption", Family::Encrypt, claimsEmulatedOaep, startOaepEncryption},
    {"OAEP decryption", Family::Decrypt, claimsEmulatedOaep, startOaepDecryption},
    {"OAEP key wrapping", Family::Wrap, claimsEmulatedOaep, wrapKeyWithOaep},
    {"OAEP key unwrapping", Family::Unwrap, claimsEmulatedOaep, unwrapKeyWithOaep},
#ifdef ZORVEL_STANDIN_TEST_EMULATION
    {"test MAC", Family::Sign, claimsTestMac, startTestMac},
#endif
};

// Each row carries the function its family calls for.
constexpr bool rowsFitTheirFamilies() {
  for (const Emulation &row : kEmulations) {
    const std::size_t expected = row.family == Family::Wrap     ? 1
                                 : row.family == Family::Unwrap ? 2
                                 : row.family == Family::Derive ? 3
                                                                : 0;
    if (row.carryOut.index() != expected) return false;
  }
  return true;
}
static_assert(rowsFitTheirFamilies(), "an emulation row carries the wrong function for its family");

constexpr EmulationTable kTable(kEmulations);

}  // namespace

const EmulationTable &standinEmulations() { return kTable; }

const Emulation *EmulationTable::find(const OperationRequest &request) const {
  for (std::size_t i = 0; i < count_; ++i) {
    const Emulation &row = rows_[i];
    if (row.family == request.family && row.claims(request)) return &row;
  }
  return nullptr;
}

}  // namespace zorvel::core
