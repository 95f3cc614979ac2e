#include "building_blocks/rsa_private_key_info.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>

namespace zorvel::core {
namespace {

// OpenSSL's names of the components, in the order of kRsaPrivateComponentTypes.
constexpr std::array<const char *, kRsaPrivateComponentTypes.size()> kParameterNames = {
    OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,         OSSL_PKEY_PARAM_RSA_D,
    OSSL_PKEY_PARAM_RSA_FACTOR1,   OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
    OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};

struct OpenSslFree {
  void operator()(BIGNUM *bn) const { BN_clear_free(bn); }
  void operator()(OSSL_PARAM_BLD *builder) const { OSSL_PARAM_BLD_free(builder); }
  void operator()(OSSL_PARAM *params) const { OSSL_PARAM_free(params); }
  void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
  void operator()(PKCS8_PRIV_KEY_INFO *info) const { PKCS8_PRIV_KEY_INFO_free(info); }
};
template <typename T>
using Owned = std::unique_ptr<T, OpenSslFree>;

Owned<EVP_PKEY> keyFromComponents(const RsaPrivateComponents &components) {
  Owned<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
  if (builder == nullptr) return nullptr;
  std::array<Owned<BIGNUM>, kParameterNames.size()> numbers;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const std::vector<CK_BYTE> &value = components.values[i];
    if (value.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    numbers[i].reset(BN_bin2bn(value.data(), static_cast<int>(value.size()), nullptr));
    if (numbers[i] == nullptr || OSSL_PARAM_BLD_push_BN(builder.get(), kParameterNames[i], numbers[i].get()) != 1) {
      return nullptr;
    }
  }
  Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(builder.get()));
  Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY *key = nullptr;
  if (params == nullptr || ctx == nullptr || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params.get()) != 1) {
    return nullptr;
  }
  return Owned<EVP_PKEY>(key);
}

bool componentsFromKey(const EVP_PKEY *key, RsaPrivateComponents *components) {
  for (std::size_t i = 0; i < kParameterNames.size(); ++i) {
    BIGNUM *raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, kParameterNames[i], &raw) != 1) return false;
    const Owned<BIGNUM> number(raw);
    std::vector<CK_BYTE> &value = components->values[i];
    value.assign(static_cast<std::size_t>(BN_num_bytes(number.get())), 0);
    BN_bn2bin(number.get(), value.data());
  }
  return true;
}

}  // namespace

RsaPrivateComponents::~RsaPrivateComponents() {
  for (std::vector<CK_BYTE> &value : values) OPENSSL_cleanse(value.data(), value.size());
}

bool encodePrivateKeyInfo(const RsaPrivateComponents &components, std::vector<CK_BYTE> *der) {
  const Owned<EVP_PKEY> key = keyFromComponents(components);
  const Owned<PKCS8_PRIV_KEY_INFO> info(key != nullptr ? EVP_PKEY2PKCS8(key.get()) : nullptr);
  const int length = info != nullptr ? i2d_PKCS8_PRIV_KEY_INFO(info.get(), nullptr) : -1;
  bool encoded = length > 0;
  if (encoded) {
    der->assign(static_cast<std::size_t>(length), 0);
    unsigned char *out = der->data();
    encoded = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &out) == length;
  }
  ERR_clear_error();
  return encoded;
}

std::size_t leadingPrivateKeyInfoLength(const CK_BYTE *der, std::size_t length) {
  if (length > static_cast<std::size_t>(LONG_MAX)) return 0;
  const unsigned char *in = der;
  const Owned<PKCS8_PRIV_KEY_INFO> info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(length)));
  ERR_clear_error();
  return info != nullptr ? static_cast<std::size_t>(in - der) : 0;
}

bool decodePrivateKeyInfo(const CK_BYTE *der, std::size_t length, RsaPrivateComponents *components) {
  if (length > static_cast<std::size_t>(LONG_MAX)) return false;
  const unsigned char *in = der;
  const Owned<PKCS8_PRIV_KEY_INFO> info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(length)));
  const Owned<EVP_PKEY> key(info != nullptr && in == der + length ? EVP_PKCS82PKEY(info.get()) : nullptr);
  const bool decoded =
      key != nullptr && EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA && componentsFromKey(key.get(), components);
  ERR_clear_error();
  return decoded;
}

}  // namespace zorvel::core
