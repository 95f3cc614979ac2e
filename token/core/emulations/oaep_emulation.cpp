#include "emulations/oaep_emulation.h"

#include "building_blocks/oaep_encoding.h"
#include "building_blocks/oaep_raw_rsa.h"

#include <cstring>
#include <utility>

namespace zorvel::core {
namespace {

// An emulated encryption or decryption: the scheme, beside the raw operation active in
// the module.
class OaepOperation : public ActiveOperation {
 public:
  OaepOperation(const OperationRequest &request, const RawOperation &raw, OaepScheme scheme)
      : module_(request.module), session_(request.session), key_(request.key), raw_(raw), scheme_(std::move(scheme)) {}

  CK_RV oneShot(Input input, Output output) override {
    return raw_.direction == Direction::Encrypt ? encrypt(input, output) : decrypt(input, output);
  }

  void abort() override {
    CK_ULONG k = 0;
    if (activeBlockLength(module_, raw_, session_, &k) == CKR_OK) abortRaw(module_, raw_, session_, k);
  }

 private:
  // The block length of the raw operation, which the module may have ended meanwhile.
  CK_RV blockLength(CK_ULONG *k) const { return activeBlockLength(module_, raw_, session_, k); }

  CK_RV encrypt(Input input, Output output) {
    CK_ULONG k = 0;
    CK_RV rv = blockLength(&k);
    if (rv != CKR_OK) return rv;
    if (input.data == nullptr) return CKR_ARGUMENTS_BAD;
    if (answersWithLength(k, output, &rv)) return rv;
    if (input.length > maxMessageLength(scheme_, k)) return CKR_DATA_LEN_RANGE;
    Bytes block(k);
    if (!oaepEncode(scheme_, input.data, input.length, block.data(), k)) return CKR_GENERAL_ERROR;
    rv = module_.C_Encrypt(session_, block.data(), k, output.data, output.length);
    wipe(&block);
    return rv;
  }

  // The length query answers the longest message the block holds. A buffer too small for
  // the message found leaves the operation active: the backend's raw one starts again.
  CK_RV decrypt(Input input, Output output) {
    CK_ULONG k = 0;
    CK_RV rv = blockLength(&k);
    if (rv != CKR_OK) return rv;
    if (input.data == nullptr || output.length == nullptr) return CKR_ARGUMENTS_BAD;
    if (output.isLengthQuery()) {
      *output.length = maxMessageLength(scheme_, k);
      return CKR_OK;
    }
    if (input.length != k) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    Bytes message;
    rv = decryptAndDecode(module_, session_, scheme_, input.data, k, &message);
    if (rv != CKR_OK) return rv;
    if (*output.length < message.size()) {
      *output.length = message.size();
      wipe(&message);
      // Should the raw operation not start again, the next call finds none and ends this.
      startRaw(module_, raw_, session_, key_);
      return CKR_BUFFER_TOO_SMALL;
    }
    rv = deliver(message.data(), message.size(), output);
    wipe(&message);
    return rv;
  }

  const CK_FUNCTION_LIST &module_;
  CK_SESSION_HANDLE session_;
  CK_OBJECT_HANDLE key_;
  const RawOperation &raw_;
  OaepScheme scheme_;
};

CK_RV startOperation(const OperationRequest &request, const RawOperation &raw,
                     std::unique_ptr<ActiveOperation> *operation) {
  OaepScheme scheme;
  if (!emulatedScheme(request.mechanism, &scheme)) return CKR_MECHANISM_PARAM_INVALID;
  CK_RV rv = startRaw(request.module, raw, request.session, request.key);
  if (rv != CKR_OK) return rv;
  CK_ULONG k = 0;
  rv = activeBlockLength(request.module, raw, request.session, &k);
  if (rv != CKR_OK) return rv;
  if (!fitsBlock(scheme, k)) {
    abortRaw(request.module, raw, request.session, k);
    return CKR_KEY_SIZE_RANGE;
  }
  *operation = std::make_unique<OaepOperation>(request, raw, std::move(scheme));
  return CKR_OK;
}

}  // namespace

// A module that lacks a function the emulation needs gets none.
bool claimsEmulatedOaep(const OperationRequest &request) {
  const CK_FUNCTION_LIST &m = request.module;
  const bool usable = m.C_OpenSession && m.C_CloseSession && m.C_GetSessionInfo && m.C_GetAttributeValue &&
                      m.C_CreateObject && m.C_DestroyObject && m.C_EncryptInit && m.C_Encrypt && m.C_DecryptInit &&
                      m.C_Decrypt && m.C_WrapKey;
  OaepScheme scheme;
  return usable && emulatedScheme(request.mechanism, &scheme);
}

CK_RV startOaepEncryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  return startOperation(request, kRawEncrypt, operation);
}

CK_RV startOaepDecryption(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  return startOperation(request, kRawDecrypt, operation);
}

}  // namespace zorvel::core
