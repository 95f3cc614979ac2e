#include "emulations/hashed_ecdsa.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace zorvel::core {
namespace {

const EVP_MD *ecdsaDigest(CK_MECHANISM_TYPE type) {
  switch (type) {
    case CKM_ECDSA_SHA1: return EVP_sha1();
    case CKM_ECDSA_SHA224: return EVP_sha224();
    case CKM_ECDSA_SHA256: return EVP_sha256();
    case CKM_ECDSA_SHA384: return EVP_sha384();
    case CKM_ECDSA_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// The largest ECDSA signature (r and s of a 521-bit curve), for ending a raw signing
// operation.
constexpr CK_ULONG kLargestSignature = 2 * 66;

class HashedEcdsa : public ActiveOperation {
 public:
  HashedEcdsa(const CK_FUNCTION_LIST &module, Family family, CK_SESSION_HANDLE session, DigestContext context)
      : module_(module), family_(family), session_(session), context_(std::move(context)) {}

  CK_RV oneShot(Input input, Output output) override {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    Digest digest;
    if (!digestOf(input, &digest)) return CKR_GENERAL_ERROR;
    return sign(digest, output);
  }

  CK_RV update(Input input, Output) override {
    if (input.data == nullptr && input.length > 0) return CKR_ARGUMENTS_BAD;
    if (input.length > 0 && EVP_DigestUpdate(context_.get(), input.data, input.length) != 1) return CKR_GENERAL_ERROR;
    return CKR_OK;
  }

  CK_RV finish(Output output) override {
    Digest digest;
    if (!digestOf({nullptr, 0}, &digest)) return CKR_GENERAL_ERROR;
    return sign(digest, output);
  }

  CK_RV verify(Input data, Input signature) override {
    if (data.data == nullptr && data.length > 0) return CKR_ARGUMENTS_BAD;
    Digest digest;
    if (!digestOf(data, &digest)) return CKR_GENERAL_ERROR;
    return module_.C_Verify(session_, digest.bytes, digest.length, signature.data, signature.length);
  }

  CK_RV verifyFinal(Input signature) override {
    Digest digest;
    if (!digestOf({nullptr, 0}, &digest)) return CKR_GENERAL_ERROR;
    return module_.C_Verify(session_, digest.bytes, digest.length, signature.data, signature.length);
  }

  // Completes the module's raw operation with a throw-away digest.
  void abort() override {
    CK_BYTE zeros[EVP_MAX_MD_SIZE] = {};
    const CK_ULONG length = static_cast<CK_ULONG>(EVP_MD_CTX_get_size(context_.get()));
    if (family_ == Family::Sign) {
      CK_BYTE signature[kLargestSignature];
      CK_ULONG signatureLength = sizeof signature;
      module_.C_Sign(session_, zeros, length, signature, &signatureLength);
    } else {
      CK_BYTE signature[1] = {};
      module_.C_Verify(session_, zeros, length, signature, sizeof signature);
    }
  }

 private:
  struct Digest {
    CK_BYTE bytes[EVP_MAX_MD_SIZE];
    CK_ULONG length = 0;
    ~Digest() { OPENSSL_cleanse(bytes, sizeof bytes); }
  };

  // The digest of what the updates gave, followed by `more`; the running digest stays as
  // it is, so that a length query or a too small buffer can be asked again.
  bool digestOf(Input more, Digest *digest) const {
    if (more.data == nullptr && more.length > 0) return false;
    DigestContext copy(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned int length = 0;
    const bool done = copy && EVP_MD_CTX_copy_ex(copy.get(), context_.get()) == 1 &&
                      (more.length == 0 || EVP_DigestUpdate(copy.get(), more.data, more.length) == 1) &&
                      EVP_DigestFinal_ex(copy.get(), digest->bytes, &length) == 1;
    digest->length = length;
    return done;
  }

  // The module's answer stands for the emulated call's: its length query and too small
  // buffer keep its raw operation, as the layer keeps this one.
  CK_RV sign(Digest &digest, Output output) {
    return module_.C_Sign(session_, digest.bytes, digest.length, output.data, output.length);
  }

  const CK_FUNCTION_LIST &module_;
  Family family_;
  CK_SESSION_HANDLE session_;
  DigestContext context_;
};

}  // namespace

bool isHashedEcdsa(CK_MECHANISM_TYPE type) { return ecdsaDigest(type) != nullptr; }

bool claimsHashedEcdsa(const OperationRequest &request) {
  return (request.family == Family::Sign || request.family == Family::Verify) &&
         isHashedEcdsa(request.mechanism->mechanism);
}

CK_RV startHashedEcdsa(const OperationRequest &request, std::unique_ptr<ActiveOperation> *operation) {
  if (request.mechanism->pParameter != nullptr || request.mechanism->ulParameterLen != 0) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  const CK_FUNCTION_LIST &module = request.module;
  const bool signing = request.family == Family::Sign;
  if (signing ? (module.C_SignInit == nullptr || module.C_Sign == nullptr)
              : (module.C_VerifyInit == nullptr || module.C_Verify == nullptr)) {
    return CKR_FUNCTION_NOT_SUPPORTED;
  }
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), ecdsaDigest(request.mechanism->mechanism), nullptr) != 1) {
    return CKR_HOST_MEMORY;
  }
  CK_MECHANISM raw = {CKM_ECDSA, nullptr, 0};
  const CK_RV rv = signing ? module.C_SignInit(request.session, &raw, request.key)
                           : module.C_VerifyInit(request.session, &raw, request.key);
  if (rv != CKR_OK) return rv;
  *operation = std::make_unique<HashedEcdsa>(module, request.family, request.session, std::move(context));
  return CKR_OK;
}

}  // namespace zorvel::core
