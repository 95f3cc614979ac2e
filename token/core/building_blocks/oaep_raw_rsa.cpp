#include "building_blocks/oaep_raw_rsa.h"

#include <cstring>

namespace zorvel::core {
namespace {

const EVP_MD *digestOf(CK_MECHANISM_TYPE hashAlg) {
  switch (hashAlg) {
    case CKM_SHA_1: return EVP_sha1();
    case CKM_SHA224: return EVP_sha224();
    case CKM_SHA256: return EVP_sha256();
    case CKM_SHA384: return EVP_sha384();
    case CKM_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

const EVP_MD *mgf1DigestOf(CK_RSA_PKCS_MGF_TYPE mgf) {
  switch (mgf) {
    case CKG_MGF1_SHA1: return EVP_sha1();
    case CKG_MGF1_SHA224: return EVP_sha224();
    case CKG_MGF1_SHA256: return EVP_sha256();
    case CKG_MGF1_SHA384: return EVP_sha384();
    case CKG_MGF1_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

}  // namespace

bool emulatedScheme(const CK_MECHANISM *mechanism, OaepScheme *scheme) {
  if (mechanism == nullptr || mechanism->mechanism != CKM_RSA_PKCS_OAEP || mechanism->pParameter == nullptr ||
      mechanism->ulParameterLen != sizeof(CK_RSA_PKCS_OAEP_PARAMS)) {
    return false;
  }
  CK_RSA_PKCS_OAEP_PARAMS params;
  std::memcpy(&params, mechanism->pParameter, sizeof params);
  if (params.source != CKZ_DATA_SPECIFIED || (params.pSourceData == nullptr && params.ulSourceDataLen != 0)) {
    return false;
  }
  if (params.hashAlg == CKM_SHA_1 && params.mgf == CKG_MGF1_SHA1 && params.ulSourceDataLen == 0) return false;
  scheme->digest = digestOf(params.hashAlg);
  scheme->mgf1Digest = mgf1DigestOf(params.mgf);
  if (scheme->digest == nullptr || scheme->mgf1Digest == nullptr) return false;
  const CK_BYTE *label = static_cast<const CK_BYTE *>(params.pSourceData);
  scheme->label.assign(label, label + params.ulSourceDataLen);
  return true;
}

const RawOperation kRawEncrypt = {Direction::Encrypt, &CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt};
const RawOperation kRawDecrypt = {Direction::Decrypt, &CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt};

CK_RV startRaw(const CK_FUNCTION_LIST &module, const RawOperation &raw, CK_SESSION_HANDLE session,
               CK_OBJECT_HANDLE key) {
  CK_MECHANISM mechanism = {CKM_RSA_X_509, nullptr, 0};
  return (module.*raw.init)(session, &mechanism, key);
}

CK_RV activeBlockLength(const CK_FUNCTION_LIST &module, const RawOperation &raw, CK_SESSION_HANDLE session,
                        CK_ULONG *k) {
  CK_BYTE none = 0;
  *k = 0;
  return (module.*raw.run)(session, &none, 0, nullptr, k);
}

// With a block the module refuses: all bytes 0xFF is not below the modulus. (SoftHSM2
// must never get a block longer than the modulus: it ends the process.)
void abortRaw(const CK_FUNCTION_LIST &module, const RawOperation &raw, CK_SESSION_HANDLE session, CK_ULONG k) {
  Bytes block(k, 0xFF);
  Bytes output(k);
  CK_ULONG length = k;
  (module.*raw.run)(session, block.data(), k, output.data(), &length);
}

CK_RV decryptAndDecode(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, const OaepScheme &scheme,
                       CK_BYTE_PTR input, CK_ULONG k, Bytes *message) {
  Bytes block(k);
  CK_ULONG length = k;
  const CK_RV rv = module.C_Decrypt(session, input, k, block.data(), &length);
  if (rv == CKR_BUFFER_TOO_SMALL) {
    // A raw block longer than the modulus: end the operation, which is still active.
    abortRaw(module, kRawDecrypt, session, k);
    return CKR_GENERAL_ERROR;
  }
  if (rv != CKR_OK) return rv;
  if (length > k) return CKR_GENERAL_ERROR;
  // A module may leave out the leading zero bytes.
  std::memmove(block.data() + (k - length), block.data(), length);
  std::memset(block.data(), 0, k - length);
  const bool decoded = oaepDecode(scheme, block.data(), k, message);
  wipe(&block);
  return decoded ? CKR_OK : CKR_ENCRYPTED_DATA_INVALID;
}

}  // namespace zorvel::core
