// OpenSSL 3 keeps the padding functions, which alone give the encoding without the RSA
// operation, among its deprecated interfaces.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "building_blocks/oaep_encoding.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/rsa.h>

#include <climits>
#include <memory>

namespace zorvel::core {
namespace {

std::size_t hashLength(const OaepScheme &scheme) { return static_cast<std::size_t>(EVP_MD_get_size(scheme.digest)); }

// OpenSSL takes int lengths.
bool fitsInt(std::size_t length) { return length <= static_cast<std::size_t>(INT_MAX); }

const CK_BYTE *labelData(const OaepScheme &scheme) { return scheme.label.empty() ? nullptr : scheme.label.data(); }

struct BignumFree {
  void operator()(BIGNUM *bn) const { BN_clear_free(bn); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

struct BnCtxFree {
  void operator()(BN_CTX *ctx) const { BN_CTX_free(ctx); }
};

}  // namespace

bool fitsBlock(const OaepScheme &scheme, std::size_t k) { return k >= 2 * hashLength(scheme) + 2; }

std::size_t maxMessageLength(const OaepScheme &scheme, std::size_t k) {
  return fitsBlock(scheme, k) ? k - 2 * hashLength(scheme) - 2 : 0;
}

bool oaepEncode(const OaepScheme &scheme, const CK_BYTE *message, std::size_t length, CK_BYTE *block, std::size_t k) {
  if (!fitsBlock(scheme, k) || length > maxMessageLength(scheme, k) || !fitsInt(k) || !fitsInt(scheme.label.size())) {
    return false;
  }
  const int ok = RSA_padding_add_PKCS1_OAEP_mgf1(block, static_cast<int>(k), message, static_cast<int>(length),
                                                 labelData(scheme), static_cast<int>(scheme.label.size()),
                                                 scheme.digest, scheme.mgf1Digest);
  ERR_clear_error();
  return ok == 1;
}

bool oaepDecode(const OaepScheme &scheme, const CK_BYTE *block, std::size_t k, Bytes *message) {
  if (!fitsBlock(scheme, k) || !fitsInt(k) || !fitsInt(scheme.label.size())) return false;
  Bytes decoded(k);
  const int length = RSA_padding_check_PKCS1_OAEP_mgf1(
      decoded.data(), static_cast<int>(k), block, static_cast<int>(k), static_cast<int>(k), labelData(scheme),
      static_cast<int>(scheme.label.size()), scheme.digest, scheme.mgf1Digest);
  ERR_clear_error();
  if (length < 0) {
    wipe(&decoded);
    return false;
  }
  message->assign(decoded.begin(), decoded.begin() + length);
  wipe(&decoded);
  return true;
}

bool rsaPublicRaw(const Bytes &modulus, const Bytes &exponent, const CK_BYTE *block, CK_BYTE *out) {
  if (!fitsInt(modulus.size()) || !fitsInt(exponent.size())) return false;
  const int k = static_cast<int>(modulus.size());
  Bignum n(BN_bin2bn(modulus.data(), k, nullptr));
  Bignum e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  Bignum m(BN_bin2bn(block, k, nullptr));
  Bignum c(BN_new());
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  const bool ok = n != nullptr && e != nullptr && m != nullptr && c != nullptr && ctx != nullptr &&
                  BN_cmp(m.get(), n.get()) < 0 && BN_mod_exp(c.get(), m.get(), e.get(), n.get(), ctx.get()) == 1 &&
                  BN_bn2binpad(c.get(), out, k) == k;
  ERR_clear_error();
  return ok;
}

}  // namespace zorvel::core
