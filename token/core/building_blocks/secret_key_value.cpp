#include "building_blocks/secret_key_value.h"

#include "building_blocks/secret_bytes.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace zorvel::core {
namespace {

constexpr std::size_t kTransientKeyLength = 32;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// Undoes AES key wrap with padding (RFC 5649) under a 256-bit key.
bool softwareUnwrap(const Bytes &kek, const Bytes &wrapped, Bytes *value) {
  if (wrapped.size() > static_cast<std::size_t>(INT_MAX)) return false;
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr) return false;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  Bytes output(wrapped.size() + 16);
  int length = 0;
  int finalLength = 0;
  const bool ok = EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_wrap_pad(), nullptr, kek.data(), nullptr) == 1 &&
                  EVP_DecryptUpdate(ctx.get(), output.data(), &length, wrapped.data(),
                                    static_cast<int>(wrapped.size())) == 1 &&
                  EVP_DecryptFinal_ex(ctx.get(), output.data() + length, &finalLength) == 1;
  ERR_clear_error();
  if (ok) value->assign(output.begin(), output.begin() + length + finalLength);
  wipe(&output);
  return ok;
}

}  // namespace

CK_RV keyBytesByTransientKey(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                             Bytes *bytes) {
  Bytes kek(kTransientKeyLength);
  if (RAND_bytes(kek.data(), static_cast<int>(kek.size())) != 1) return CKR_GENERAL_ERROR;
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE aes = CKK_AES;
  CK_BBOOL yes = CK_TRUE;
  CK_BBOOL no = CK_FALSE;
  CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes},
                         {CKA_VALUE, kek.data(), kek.size()}, {CKA_TOKEN, &no, 1}, {CKA_PRIVATE, &no, 1},
                         {CKA_WRAP, &yes, 1}};
  CK_OBJECT_HANDLE transient = CK_INVALID_HANDLE;
  CK_RV rv = module.C_CreateObject(session, tmpl, sizeof tmpl / sizeof tmpl[0], &transient);
  if (rv != CKR_OK) {
    wipe(&kek);
    return rv;
  }
  CK_MECHANISM wrap = {CKM_AES_KEY_WRAP_PAD, nullptr, 0};
  CK_ULONG length = 0;
  Bytes wrapped;
  rv = module.C_WrapKey(session, &wrap, transient, key, nullptr, &length);
  if (rv == CKR_OK) {
    wrapped.resize(length);
    rv = module.C_WrapKey(session, &wrap, transient, key, wrapped.data(), &length);
  }
  module.C_DestroyObject(session, transient);
  if (rv == CKR_OK) {
    wrapped.resize(length);
    rv = softwareUnwrap(kek, wrapped, bytes) ? CKR_OK : CKR_GENERAL_ERROR;
  }
  wipe(&kek);
  return rv;
}

CK_RV readAttributeBytes(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                         CK_ATTRIBUTE_TYPE type, Bytes *value) {
  CK_ATTRIBUTE attribute = {type, nullptr, 0};
  const CK_RV rv = module.C_GetAttributeValue(session, object, &attribute, 1);
  if (rv != CKR_OK) return rv;
  if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) return CKR_ATTRIBUTE_SENSITIVE;
  value->resize(attribute.ulValueLen);
  attribute.pValue = value->data();
  return module.C_GetAttributeValue(session, object, &attribute, 1);
}

CK_RV extractableKeyValue(const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                          Bytes *value) {
  const CK_RV rv = readAttributeBytes(module, session, key, CKA_VALUE, value);
  if (rv != CKR_ATTRIBUTE_SENSITIVE) return rv;
  return keyBytesByTransientKey(module, session, key, value) == CKR_OK ? CKR_OK : CKR_ATTRIBUTE_SENSITIVE;
}

}  // namespace zorvel::core
