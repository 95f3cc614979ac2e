// CKM_AES_GMAC, which the module lacks: GCM over the data as additional authenticated
// data and an empty plaintext, the tag being the MAC. The parameter is a CK_GCM_PARAMS
// with an IV and no AAD of its own; ulTagBits 0 means a 128-bit tag, else 32 to 128 in
// whole bytes. Verification compares in constant time. In software over the key's value
// (software_key.h); the data is kept until the MAC is made.
#include "emulations/symmetric_emulations.h"

#include "building_blocks/block_ciphers.h"
#include "building_blocks/secret_bytes.h"
#include "building_blocks/software_key.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <climits>
#include <cstring>

namespace zorvel::core {
namespace {

constexpr CK_ULONG kFullTagBits = 128;

class Gmac : public ActiveOperation {
 public:
  Gmac(Bytes key, Bytes iv, CK_ULONG tagLength) : key_(std::move(key)), iv_(std::move(iv)), tagLength_(tagLength) {}
  ~Gmac() override {
    wipe(&key_);
    wipe(&data_);
  }

  CK_RV oneShot(Input input, Output output) override {
    CK_RV rv = CKR_OK;
    if (answersWithLength(tagLength_, output, &rv)) return rv;
    rv = update(input, output);
    return rv != CKR_OK ? rv : finish(output);
  }
  CK_RV update(Input input, Output) override {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    data_.insert(data_.end(), input.data, input.data + input.length);
    return CKR_OK;
  }
  CK_RV finish(Output output) override {
    CK_RV rv = CKR_OK;
    if (answersWithLength(tagLength_, output, &rv)) return rv;
    Bytes tag;
    if (!makeTag(&tag)) return CKR_FUNCTION_FAILED;
    return deliver(tag.data(), tagLength_, output);
  }
  CK_RV verify(Input data, Input signature) override {
    // Refused before the data is taken in: the operation goes on as it was.
    if (signature.data == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_RV rv = update(data, Output{nullptr, nullptr});
    return rv != CKR_OK ? rv : verifyFinal(signature);
  }
  CK_RV verifyFinal(Input signature) override {
    if (signature.data == nullptr) return CKR_ARGUMENTS_BAD;
    if (signature.length != tagLength_) return CKR_SIGNATURE_LEN_RANGE;
    Bytes tag;
    if (!makeTag(&tag)) return CKR_FUNCTION_FAILED;
    return CRYPTO_memcmp(tag.data(), signature.data, tagLength_) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
  }

 private:
  bool makeTag(Bytes *tag) const {
    if (data_.size() > static_cast<std::size_t>(INT_MAX)) return false;
    CipherContext ctx(EVP_CIPHER_CTX_new());
    tag->resize(tagLength_);
    int length = 0;
    unsigned char none[1];
    const bool ok =
        ctx != nullptr &&
        EVP_EncryptInit_ex(ctx.get(), evpCipher(BlockCipher::Aes, CipherMode::Gcm, key_.size()), nullptr, nullptr,
                           nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv_.size()), nullptr) == 1 &&
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key_.data(), iv_.data()) == 1 &&
        (data_.empty() || EVP_EncryptUpdate(ctx.get(), nullptr, &length, data_.data(),
                                            static_cast<int>(data_.size())) == 1) &&
        EVP_EncryptFinal_ex(ctx.get(), none, &length) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(tagLength_), tag->data()) == 1;
    ERR_clear_error();
    return ok;
  }

  Bytes key_;
  Bytes iv_;
  CK_ULONG tagLength_;
  Bytes data_;
};

// The IV and the tag length in bytes from the caller's CK_GCM_PARAMS; false when the
// record is malformed, carries AAD or asks for a tag OpenSSL cannot make.
bool readParameters(const CK_MECHANISM &mechanism, Bytes *iv, CK_ULONG *tagLength) {
  CK_GCM_PARAMS params;
  if (mechanism.pParameter == nullptr || mechanism.ulParameterLen != sizeof params) return false;
  std::memcpy(&params, mechanism.pParameter, sizeof params);  // need not be aligned
  if (params.pIv == nullptr || params.ulIvLen == 0 || params.ulIvLen > INT_MAX) return false;
  if (params.ulAADLen != 0) return false;
  const CK_ULONG tagBits = params.ulTagBits == 0 ? kFullTagBits : params.ulTagBits;
  if (tagBits % 8 != 0 || tagBits < 32 || tagBits > kFullTagBits) return false;
  iv->assign(params.pIv, params.pIv + params.ulIvLen);
  *tagLength = tagBits / 8;
  return true;
}

}  // namespace

bool claimsGmac(const OperationRequest &request) { return request.mechanism->mechanism == CKM_AES_GMAC; }

CK_RV startGmac(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  Bytes iv;
  CK_ULONG tagLength = 0;
  if (!readParameters(*request.mechanism, &iv, &tagLength)) return CKR_MECHANISM_PARAM_INVALID;
  Bytes key;
  const CK_RV rv = softwareKeyValue(request.module, request.session, request.key, CKK_AES,
                                    request.family == Family::Sign ? CKA_SIGN : CKA_VERIFY, &key);
  if (rv != CKR_OK) return rv;
  if (evpCipher(BlockCipher::Aes, CipherMode::Gcm, key.size()) == nullptr) {
    wipe(&key);
    return CKR_KEY_SIZE_RANGE;
  }
  *operation = std::make_unique<Gmac>(std::move(key), std::move(iv), tagLength);
  return CKR_OK;
}

}  // namespace zorvel::core
