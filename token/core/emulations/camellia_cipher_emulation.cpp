// CKM_CAMELLIA_ECB and CKM_CAMELLIA_CBC (16-byte IV), which the module lacks: encryption
// and decryption of whole 16-byte blocks with Camellia keys (camellia_keys.h), in one
// call or in parts, in software with OpenSSL over the key's value (software_key.h). Data
// that does not end on a block boundary is refused at the call that ends the operation.
#include "emulations/symmetric_emulations.h"

#include "building_blocks/block_ciphers.h"
#include "building_blocks/secret_bytes.h"
#include "building_blocks/software_key.h"
#include "conventions/camellia_keys.h"

#include <openssl/err.h>

#include <climits>

namespace zorvel::core {
namespace {

class CamelliaCipher : public ActiveOperation {
 public:
  CamelliaCipher(CipherContext context, bool encrypt) : context_(std::move(context)), encrypt_(encrypt) {}

  CK_RV oneShot(Input input, Output output) override {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    if ((pending_ + input.length) % kCipherBlockLength != 0) return lengthRange();
    return update(input, output);
  }
  CK_RV update(Input input, Output output) override {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    if (input.length > static_cast<CK_ULONG>(INT_MAX)) return CKR_DATA_LEN_RANGE;
    const CK_ULONG produced = (pending_ + input.length) / kCipherBlockLength * kCipherBlockLength;
    CK_RV rv = CKR_OK;
    if (answersWithLength(produced, output, &rv)) return rv;
    int length = 0;
    if (input.length > 0 && EVP_CipherUpdate(context_.get(), output.data, &length, input.data,
                                             static_cast<int>(input.length)) != 1) {
      ERR_clear_error();
      return CKR_FUNCTION_FAILED;
    }
    pending_ = (pending_ + input.length) % kCipherBlockLength;
    *output.length = static_cast<CK_ULONG>(length);
    return CKR_OK;
  }
  CK_RV finish(Output output) override {
    if (pending_ != 0) return lengthRange();
    CK_RV rv = CKR_OK;
    if (answersWithLength(0, output, &rv)) return rv;
    *output.length = 0;
    return CKR_OK;
  }

 private:
  CK_RV lengthRange() const { return encrypt_ ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE; }

  CipherContext context_;
  bool encrypt_;
  CK_ULONG pending_ = 0;  // bytes the context holds short of a whole block
};

}  // namespace

bool claimsCamelliaCipher(const OperationRequest &request) {
  const CK_MECHANISM_TYPE type = request.mechanism->mechanism;
  return type == CKM_CAMELLIA_ECB || type == CKM_CAMELLIA_CBC;
}

CK_RV startCamelliaCipher(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  const CK_MECHANISM &mechanism = *request.mechanism;
  const bool cbc = mechanism.mechanism == CKM_CAMELLIA_CBC;
  const CK_ULONG parameterLength = cbc ? kCipherBlockLength : 0;
  if (mechanism.ulParameterLen != parameterLength || (cbc && mechanism.pParameter == nullptr)) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  const bool encrypt = request.family == Family::Encrypt;
  Bytes key;
  const CK_RV rv = softwareKeyValue(request.module, request.session, request.key, kCamelliaBackendKeyType,
                                    encrypt ? CKA_ENCRYPT : CKA_DECRYPT, &key);
  if (rv != CKR_OK) return rv;
  const EVP_CIPHER *cipher = evpCipher(BlockCipher::Camellia, cbc ? CipherMode::Cbc : CipherMode::Ecb, key.size());
  CipherContext context = cipher == nullptr ? nullptr
                                            : newCipherContext(cipher, key.data(),
                                                               static_cast<const unsigned char *>(mechanism.pParameter),
                                                               encrypt);
  wipe(&key);
  if (cipher == nullptr) return CKR_KEY_SIZE_RANGE;
  if (context == nullptr) return CKR_FUNCTION_FAILED;
  *operation = std::make_unique<CamelliaCipher>(std::move(context), encrypt);
  return CKR_OK;
}

}  // namespace zorvel::core
