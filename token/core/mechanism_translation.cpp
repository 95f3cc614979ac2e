#include "mechanism_translation.h"

#include <limits>

namespace zorvel::core {
namespace {

bool isPss(CK_MECHANISM_TYPE type) {
  switch (type) {
    case CKM_RSA_PKCS_PSS:
    case CKM_SHA1_RSA_PKCS_PSS:
    case CKM_SHA224_RSA_PKCS_PSS:
    case CKM_SHA256_RSA_PKCS_PSS:
    case CKM_SHA384_RSA_PKCS_PSS:
    case CKM_SHA512_RSA_PKCS_PSS:
      return true;
    default:
      return false;
  }
}

// The caller's parameter record when it has exactly the size of Record.
template <typename Record>
const Record *callerParameter(const CK_MECHANISM &mechanism) {
  if (mechanism.pParameter == nullptr || mechanism.ulParameterLen != sizeof(Record)) return nullptr;
  return static_cast<const Record *>(mechanism.pParameter);
}

}  // namespace

static_assert(sizeof(CK_GCM_PARAMS) == 40, "this library's GCM record has five fields");
static_assert(sizeof(BackendGcmParams) == 48, "the backend's GCM record has six fields");

CK_MECHANISM_TYPE digestOfHmac(CK_MECHANISM_TYPE hashAlg) {
  switch (hashAlg) {
    case CKM_MD5_HMAC: return CKM_MD5;
    case CKM_SHA_1_HMAC: return CKM_SHA_1;
    case CKM_SHA224_HMAC: return CKM_SHA224;
    case CKM_SHA256_HMAC: return CKM_SHA256;
    case CKM_SHA384_HMAC: return CKM_SHA384;
    case CKM_SHA512_HMAC: return CKM_SHA512;
    default: return hashAlg;
  }
}

BackendMechanism::BackendMechanism(CK_MECHANISM_PTR caller) : caller_(caller) {
  if (caller == nullptr) return;
  local_ = *caller;
  if (caller->mechanism == CKM_RSA_PKCS_OAEP) {
    if (const auto *oaep = callerParameter<CK_RSA_PKCS_OAEP_PARAMS>(*caller)) {
      parameter_.oaep = *oaep;
      parameter_.oaep.hashAlg = digestOfHmac(oaep->hashAlg);
      if (oaep->source == 0 && oaep->ulSourceDataLen == 0) parameter_.oaep.source = CKZ_DATA_SPECIFIED;
      local_.pParameter = &parameter_.oaep;
      translated_ = true;
    }
  } else if (isPss(caller->mechanism)) {
    if (const auto *pss = callerParameter<CK_RSA_PKCS_PSS_PARAMS>(*caller)) {
      parameter_.pss = *pss;
      parameter_.pss.hashAlg = digestOfHmac(pss->hashAlg);
      local_.pParameter = &parameter_.pss;
      translated_ = true;
    }
  } else if (caller->mechanism == CKM_AES_GCM) {
    if (const auto *gcm = callerParameter<CK_GCM_PARAMS>(*caller)) {
      if (gcm->ulIvLen > std::numeric_limits<CK_ULONG>::max() / 8) {
        status_ = CKR_MECHANISM_PARAM_INVALID;
        return;
      }
      parameter_.gcm = {gcm->pIv, gcm->ulIvLen, gcm->ulIvLen * 8, gcm->pAAD, gcm->ulAADLen, gcm->ulTagBits};
      local_.pParameter = &parameter_.gcm;
      local_.ulParameterLen = sizeof(BackendGcmParams);
      translated_ = true;
    }
  }
}

}  // namespace zorvel::core
