// The table of emulations (emulation.h). The first row of the family that claims a call
// carries it out; what no row claims goes to the module.
#include "emulations/aes_cbc_pad_key_wrapping.h"
#include "emulations/ecdh_kdf.h"
#include "operations/emulation.h"
#include "emulations/hashed_ecdsa.h"
#include "emulations/oaep_emulation.h"
#include "emulations/oaep_key_wrapping.h"
#include "emulations/rsa_key_conventions.h"
#include "emulations/symmetric_emulations.h"

namespace zorvel::core {

#ifdef ZORVEL_STANDIN_TEST_EMULATION
// Built into the tests' core only: tests/token/test_emulation.cpp.
bool claimsTestMac(const OperationRequest &request);
CK_RV startTestMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);
#endif

namespace {

constexpr Emulation kEmulations[] = {
    // The refusals come first: they answer before anything looks at the key.
    {"refused encryption mechanism", Family::Encrypt, claimsRefusal, startRefused},
    {"refused decryption mechanism", Family::Decrypt, claimsRefusal, startRefused},
    {"refused signing mechanism", Family::Sign, claimsRefusal, startRefused},
    {"refused verification mechanism", Family::Verify, claimsRefusal, startRefused},
    {"refused wrapping mechanism", Family::Wrap, claimsRefusal, wrapRefused},
    {"refused unwrapping mechanism", Family::Unwrap, claimsRefusal, unwrapRefused},
    {"RSA private-key encryption by signature", Family::Encrypt, claimsPrivateKeyEncryption,
     startPrivateKeyEncryption},
    {"RSA public-key raw decryption by encryption", Family::Decrypt, claimsPublicKeyDecryption,
     startPublicKeyDecryption},
    {"OAEP encryption", Family::Encrypt, claimsEmulatedOaep, startOaepEncryption},
    {"OAEP decryption", Family::Decrypt, claimsEmulatedOaep, startOaepDecryption},
    {"OAEP key wrapping", Family::Wrap, claimsEmulatedOaep, wrapKeyWithOaep},
    {"OAEP key unwrapping", Family::Unwrap, claimsEmulatedOaep, unwrapKeyWithOaep},
    {"hashed ECDSA signature", Family::Sign, claimsHashedEcdsa, startHashedEcdsa},
    {"hashed ECDSA verification", Family::Verify, claimsHashedEcdsa, startHashedEcdsa},
    {"ECDH with an X9.63 key derivation function", Family::Derive, claimsEcdhWithKdf, deriveEcdhWithKdf},
    {"RSA private-key wrapping with AES-CBC-PAD by encryption", Family::Wrap, claimsAesCbcPadKeyWrapping,
     wrapWithAesCbcPad},
    {"RSA private-key unwrapping with AES-CBC-PAD by decryption", Family::Unwrap, claimsAesCbcPadKeyWrapping,
     unwrapWithAesCbcPad},
    {"AES and Camellia CBC-MAC signature", Family::Sign, claimsCbcMac, startCbcMac},
    {"AES and Camellia CBC-MAC verification", Family::Verify, claimsCbcMac, startCbcMac},
    {"AES GMAC signature", Family::Sign, claimsGmac, startGmac},
    {"AES GMAC verification", Family::Verify, claimsGmac, startGmac},
    {"Camellia ECB and CBC encryption", Family::Encrypt, claimsCamelliaCipher, startCamelliaCipher},
    {"Camellia ECB and CBC decryption", Family::Decrypt, claimsCamelliaCipher, startCamelliaCipher},
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
