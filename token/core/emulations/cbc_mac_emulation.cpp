// CKM_AES_MAC and CKM_CAMELLIA_MAC, which the module lacks: the CBC-MAC of the data
// zero-padded to whole 16-byte blocks (no data: one zero block) under IV 0, the first 8
// bytes of the last block. Signing and verifying, in one call or in parts, in software
// over the key's value (software_key.h).
#include "emulations/symmetric_emulations.h"

#include "building_blocks/block_ciphers.h"
#include "building_blocks/secret_bytes.h"
#include "building_blocks/software_key.h"
#include "conventions/camellia_keys.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>

namespace zorvel::core {
namespace {

constexpr CK_ULONG kMacLength = 8;
using Block = std::array<unsigned char, kCipherBlockLength>;

class CbcMac : public ActiveOperation {
 public:
  explicit CbcMac(CipherContext blockEncryption) : blockEncryption_(std::move(blockEncryption)) {}
  ~CbcMac() override {
    OPENSSL_cleanse(chain_.data(), chain_.size());
    OPENSSL_cleanse(pending_.data(), pending_.size());
  }

  CK_RV oneShot(Input input, Output output) override {
    CK_RV rv = CKR_OK;
    if (answersWithLength(kMacLength, output, &rv)) return rv;
    rv = absorb(input);
    if (rv != CKR_OK) return rv;
    return finish(output);
  }
  CK_RV update(Input input, Output) override { return absorb(input); }
  CK_RV finish(Output output) override {
    CK_RV rv = CKR_OK;
    if (answersWithLength(kMacLength, output, &rv)) return rv;
    Block mac{};
    if (!result(&mac)) return CKR_FUNCTION_FAILED;
    return deliver(mac.data(), kMacLength, output);
  }
  CK_RV verify(Input data, Input signature) override {
    // Refused before the data is taken in: the operation goes on as it was.
    if (signature.data == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_RV rv = absorb(data);
    return rv != CKR_OK ? rv : verifyFinal(signature);
  }
  CK_RV verifyFinal(Input signature) override {
    if (signature.data == nullptr) return CKR_ARGUMENTS_BAD;
    if (signature.length != kMacLength) return CKR_SIGNATURE_LEN_RANGE;
    Block mac{};
    if (!result(&mac)) return CKR_FUNCTION_FAILED;
    return CRYPTO_memcmp(mac.data(), signature.data, kMacLength) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
  }

 private:
  // chain = E(chain xor block)
  bool chainBlock(const unsigned char *block, Block *chain) const {
    Block mixed;
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = (*chain)[i] ^ block[i];
    int length = 0;
    const bool ok = EVP_EncryptUpdate(blockEncryption_.get(), chain->data(), &length, mixed.data(),
                                      static_cast<int>(mixed.size())) == 1 &&
                    length == static_cast<int>(mixed.size());
    OPENSSL_cleanse(mixed.data(), mixed.size());
    return ok;
  }

  CK_RV absorb(Input input) {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG taken = 0; taken < input.length;) {
      const std::size_t part = std::min<std::size_t>(input.length - taken, pending_.size() - pendingLength_);
      std::copy(input.data + taken, input.data + taken + part, pending_.begin() + pendingLength_);
      pendingLength_ += part;
      taken += part;
      if (pendingLength_ == pending_.size()) {
        if (!chainBlock(pending_.data(), &chain_)) return CKR_FUNCTION_FAILED;
        pendingLength_ = 0;
        chained_ = true;
      }
    }
    return CKR_OK;
  }

  // The last block over the data so far, the pending bytes padded with zeros; the state
  // is left as it is, so that a length query changes nothing.
  bool result(Block *mac) const {
    *mac = chain_;
    if (pendingLength_ == 0 && chained_) return true;
    Block padded{};
    std::copy(pending_.begin(), pending_.begin() + pendingLength_, padded.begin());
    const bool ok = chainBlock(padded.data(), mac);
    OPENSSL_cleanse(padded.data(), padded.size());
    return ok;
  }

  CipherContext blockEncryption_;
  Block chain_{};
  Block pending_{};
  std::size_t pendingLength_ = 0;
  bool chained_ = false;
};

BlockCipher cipherOf(CK_MECHANISM_TYPE type) {
  return type == CKM_CAMELLIA_MAC ? BlockCipher::Camellia : BlockCipher::Aes;
}

}  // namespace

bool claimsCbcMac(const OperationRequest &request) {
  const CK_MECHANISM_TYPE type = request.mechanism->mechanism;
  return type == CKM_AES_MAC || type == CKM_CAMELLIA_MAC;
}

CK_RV startCbcMac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  if (request.mechanism->pParameter != nullptr || request.mechanism->ulParameterLen != 0) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  const BlockCipher cipher = cipherOf(request.mechanism->mechanism);
  Bytes key;
  const CK_RV rv = softwareKeyValue(request.module, request.session, request.key,
                                    cipher == BlockCipher::Camellia ? kCamelliaBackendKeyType : CKK_AES,
                                    request.family == Family::Sign ? CKA_SIGN : CKA_VERIFY, &key);
  if (rv != CKR_OK) return rv;
  const EVP_CIPHER *ecb = evpCipher(cipher, CipherMode::Ecb, key.size());
  CipherContext context = ecb == nullptr ? nullptr : newCipherContext(ecb, key.data(), nullptr, true);
  wipe(&key);
  if (ecb == nullptr) return CKR_KEY_SIZE_RANGE;
  if (context == nullptr) return CKR_FUNCTION_FAILED;
  *operation = std::make_unique<CbcMac>(std::move(context));
  return CKR_OK;
}

}  // namespace zorvel::core
