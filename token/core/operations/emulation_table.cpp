// The table of emulations (emulation.h). The refusals answer first; then the first row of
// the family that claims a call carries it out; what no row claims goes to the module.
#include "emulations/aes_cbc_pad_key_wrapping.h"
#include "emulations/camellia_key_generation.h"
#include "emulations/ecdh_kdf.h"
#include "emulations/hashed_ecdsa.h"
#include "emulations/oaep_emulation.h"
#include "emulations/oaep_key_wrapping.h"
#include "emulations/rsa_key_conventions.h"
#include "emulations/symmetric_emulations.h"
#include "operations/emulation.h"

namespace zorvel::core {

#ifdef ZORVEL_STANDIN_TEST_EMULATION
// Built into the tests' core only: tests/token/test_emulation.cpp.
bool claimsTestMac(const OperationRequest &request);
CK_RV startTestMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation);
#endif

namespace {

constexpr CK_FLAGS kEveryOperation = ~CK_FLAGS{0};

constexpr Refusal kRefusals[] = {
    {CKM_CAMELLIA_CBC_PAD, kEveryOperation},
    // SoftHSM2 refuses it only for the length of the IV.
    {CKM_DES3_CBC, CKF_ENCRYPT},
};

constexpr CK_ULONG kMinSymmetricKeyBytes = 16;
constexpr CK_ULONG kMaxSymmetricKeyBytes = 32;

constexpr MechanismOffer kHashedEcdsa[] = {
    {CKM_ECDSA_SHA1, CKM_ECDSA, 0, 0},   {CKM_ECDSA_SHA224, CKM_ECDSA, 0, 0}, {CKM_ECDSA_SHA256, CKM_ECDSA, 0, 0},
    {CKM_ECDSA_SHA384, CKM_ECDSA, 0, 0}, {CKM_ECDSA_SHA512, CKM_ECDSA, 0, 0},
};
constexpr MechanismOffer kCbcMacs[] = {
    {CKM_AES_MAC, kOwnRecord, kMinSymmetricKeyBytes, kMaxSymmetricKeyBytes},
    {CKM_CAMELLIA_MAC, kOwnRecord, kMinSymmetricKeyBytes, kMaxSymmetricKeyBytes},
};
constexpr MechanismOffer kGmac[] = {{CKM_AES_GMAC, kOwnRecord, kMinSymmetricKeyBytes, kMaxSymmetricKeyBytes}};
constexpr MechanismOffer kCamelliaCiphers[] = {
    {CKM_CAMELLIA_ECB, kOwnRecord, kMinSymmetricKeyBytes, kMaxSymmetricKeyBytes},
    {CKM_CAMELLIA_CBC, kOwnRecord, kMinSymmetricKeyBytes, kMaxSymmetricKeyBytes},
};
constexpr MechanismOffer kCamelliaKeyGeneration[] = {
    {CKM_CAMELLIA_KEY_GEN, kOwnRecord, kMinSymmetricKeyBytes, kMaxSymmetricKeyBytes}};

constexpr Emulation kEmulations[] = {
    {"RSA private-key encryption by signature", Family::Encrypt, claimsPrivateKeyEncryption,
     startPrivateKeyEncryption},
    {"RSA public-key raw decryption by encryption", Family::Decrypt, claimsPublicKeyDecryption,
     startPublicKeyDecryption},
    {"OAEP encryption", Family::Encrypt, claimsEmulatedOaep, startOaepEncryption},
    {"OAEP decryption", Family::Decrypt, claimsEmulatedOaep, startOaepDecryption},
    {"OAEP key wrapping", Family::Wrap, claimsEmulatedOaep, wrapKeyWithOaep},
    {"OAEP key unwrapping", Family::Unwrap, claimsEmulatedOaep, unwrapKeyWithOaep},
    {"hashed ECDSA signature", Family::Sign, claimsHashedEcdsa, startHashedEcdsa, kHashedEcdsa},
    {"hashed ECDSA verification", Family::Verify, claimsHashedEcdsa, startHashedEcdsa, kHashedEcdsa},
    {"ECDH with an X9.63 key derivation function", Family::Derive, claimsEcdhWithKdf, deriveEcdhWithKdf},
    {"RSA private-key wrapping with AES-CBC-PAD by encryption", Family::Wrap, claimsAesCbcPadKeyWrapping,
     wrapWithAesCbcPad},
    {"RSA private-key unwrapping with AES-CBC-PAD by decryption", Family::Unwrap, claimsAesCbcPadKeyWrapping,
     unwrapWithAesCbcPad},
    {"AES and Camellia CBC-MAC signature", Family::Sign, claimsCbcMac, startCbcMac, kCbcMacs},
    {"AES and Camellia CBC-MAC verification", Family::Verify, claimsCbcMac, startCbcMac, kCbcMacs},
    {"AES GMAC signature", Family::Sign, claimsGmac, startGmac, kGmac},
    {"AES GMAC verification", Family::Verify, claimsGmac, startGmac, kGmac},
    {"Camellia ECB and CBC encryption", Family::Encrypt, claimsCamelliaCipher, startCamelliaCipher, kCamelliaCiphers},
    {"Camellia ECB and CBC decryption", Family::Decrypt, claimsCamelliaCipher, startCamelliaCipher, kCamelliaCiphers},
    {"Camellia key generation", Family::Generate, claimsCamelliaKeyGeneration, generateCamelliaKey,
     kCamelliaKeyGeneration},
#ifdef ZORVEL_STANDIN_TEST_EMULATION
    {"test MAC", Family::Sign, claimsTestMac, startTestMac},
#endif
};

// Each row carries the function its family calls for.
constexpr bool rowsFitTheirFamilies() {
  for (const Emulation &row : kEmulations) {
    const std::size_t expected = row.family == Family::Wrap                                   ? 1
                                 : row.family == Family::Unwrap                               ? 2
                                 : row.family == Family::Derive || row.family == Family::Generate ? 3
                                                                                              : 0;
    if (row.carryOut.index() != expected) return false;
  }
  return true;
}
static_assert(rowsFitTheirFamilies(), "an emulation row carries the wrong function for its family");

constexpr EmulationTable kTable(kEmulations, kRefusals);

}  // namespace

const EmulationTable &standinEmulations() { return kTable; }

}  // namespace zorvel::core
