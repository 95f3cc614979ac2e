#include "conventions/mechanism_translation.h"

#include <cstring>
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

// Copies the caller's parameter record when it has exactly the size of Record. The copy
// goes byte by byte: the caller's record need not be aligned.
template <typename Record>
bool copyCallerParameter(const CK_MECHANISM &mechanism, Record *record) {
  if (mechanism.pParameter == nullptr || mechanism.ulParameterLen != sizeof(Record)) return false;
  std::memcpy(record, mechanism.pParameter, sizeof(Record));
  return true;
}

// OAEP parameters that name a SHA digest (in either coding), an MGF1 of one, and a label
// that is there or empty. The module answers malformed ones with CKR_ARGUMENTS_BAD and the
// stand-in's own encoding does not take them; PKCS#11 answers CKR_MECHANISM_PARAM_INVALID.
bool wellFormedOaep(const CK_RSA_PKCS_OAEP_PARAMS &oaep) {
  switch (digestOfHmac(oaep.hashAlg)) {
    case CKM_SHA_1:
    case CKM_SHA224:
    case CKM_SHA256:
    case CKM_SHA384:
    case CKM_SHA512: break;
    default: return false;
  }
  switch (oaep.mgf) {
    case CKG_MGF1_SHA1:
    case CKG_MGF1_SHA224:
    case CKG_MGF1_SHA256:
    case CKG_MGF1_SHA384:
    case CKG_MGF1_SHA512: break;
    default: return false;
  }
  if (oaep.source != 0 && oaep.source != CKZ_DATA_SPECIFIED) return false;
  return oaep.pSourceData != nullptr || oaep.ulSourceDataLen == 0;
}

// The longest IV or AAD the module's OpenSSL takes (its lengths are ints). SoftHSM2 copies
// a longer one whole first and exits with status 5 where it cannot allocate the copy.
constexpr CK_ULONG kLongestGcmInput = std::numeric_limits<int>::max();

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
    CK_RSA_PKCS_OAEP_PARAMS &oaep = parameter_.oaep;
    if (!copyCallerParameter(*caller, &oaep) || !wellFormedOaep(oaep)) {
      status_ = CKR_MECHANISM_PARAM_INVALID;
      return;
    }
    oaep.hashAlg = digestOfHmac(oaep.hashAlg);
    if (oaep.source == 0 && oaep.ulSourceDataLen == 0) oaep.source = CKZ_DATA_SPECIFIED;
    local_.pParameter = &oaep;
    translated_ = true;
  } else if (isPss(caller->mechanism)) {
    CK_RSA_PKCS_PSS_PARAMS &pss = parameter_.pss;
    if (!copyCallerParameter(*caller, &pss)) return;
    pss.hashAlg = digestOfHmac(pss.hashAlg);
    local_.pParameter = &pss;
    translated_ = true;
  } else if (caller->mechanism == CKM_AES_GCM) {
    translateGcm(*caller);
  }
}

// Either record; the module's own is forwarded as it is. The module copies the IV and the
// AAD unchecked (SoftHSM2: SIGSEGV on a null one with a length), and with an IV of no
// bytes encrypts under a fixed hidden one; PKCS#11 asks for at least one byte.
void BackendMechanism::translateGcm(const CK_MECHANISM &caller) {
  CK_GCM_PARAMS gcm;
  BackendGcmParams backend;
  const bool fiveFields = copyCallerParameter(caller, &gcm);
  if (fiveFields) {
    backend = {gcm.pIv, gcm.ulIvLen, gcm.ulIvLen * 8, gcm.pAAD, gcm.ulAADLen, gcm.ulTagBits};
  } else if (!copyCallerParameter(caller, &backend)) {
    return;
  }
  if (backend.ulIvLen == 0 || backend.ulIvLen > kLongestGcmInput || backend.ulAADLen > kLongestGcmInput ||
      backend.pIv == nullptr || (backend.pAAD == nullptr && backend.ulAADLen != 0)) {
    status_ = CKR_MECHANISM_PARAM_INVALID;
    return;
  }
  if (!fiveFields) return;
  parameter_.gcm = backend;
  local_.pParameter = &parameter_.gcm;
  local_.ulParameterLen = sizeof(BackendGcmParams);
  translated_ = true;
}

}  // namespace zorvel::core
