// The caller's mechanism as the backend needs it. Conventions of this library that the
// backend does not share are translated into a local copy; the caller's mechanism and
// parameter record are read within their stated length and never written.
//
//   CKM_RSA_PKCS_OAEP   hashAlg given as the HMAC mechanism of the hash becomes the
//                       digest mechanism; source 0 with no data becomes
//                       CKZ_DATA_SPECIFIED.
//   RSA PSS mechanisms  an HMAC-coded hashAlg becomes the digest mechanism.
//   CKM_AES_GCM         the five-field CK_GCM_PARAMS becomes the backend's record, which
//                       also carries the IV length in bits; the backend's own record
//                       passes as it is. Either is refused without an IV or with a null
//                       IV or AAD that claims a length.
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_MECHANISM_TRANSLATION_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_MECHANISM_TRANSLATION_H

#include "pkcs11.h"

namespace zorvel::core {

// The backend's GCM parameter record.
struct BackendGcmParams {
  CK_BYTE_PTR pIv;
  CK_ULONG ulIvLen;
  CK_ULONG ulIvBits;
  CK_BYTE_PTR pAAD;
  CK_ULONG ulAADLen;
  CK_ULONG ulTagBits;
};

class BackendMechanism {
 public:
  explicit BackendMechanism(CK_MECHANISM_PTR caller);
  BackendMechanism(const BackendMechanism &) = delete;
  BackendMechanism &operator=(const BackendMechanism &) = delete;

  // CKR_OK, or the error that the parameters give before they reach the backend.
  CK_RV status() const { return status_; }
  // The caller's mechanism when nothing needs translating, else the local copy.
  CK_MECHANISM_PTR get() { return translated_ ? &local_ : caller_; }

 private:
  void translateGcm(const CK_MECHANISM &caller);

  CK_MECHANISM_PTR caller_;
  CK_MECHANISM local_{};
  bool translated_ = false;
  CK_RV status_ = CKR_OK;
  // The translated parameter record; the one the mechanism takes is used.
  struct {
    CK_RSA_PKCS_OAEP_PARAMS oaep;
    CK_RSA_PKCS_PSS_PARAMS pss;
    BackendGcmParams gcm;
  } parameter_{};
};

// The digest mechanism of an HMAC mechanism; any other value unchanged.
CK_MECHANISM_TYPE digestOfHmac(CK_MECHANISM_TYPE hashAlg);

}  // namespace zorvel::core

#endif
