// OAEP with the hashes, MGF1 digests and labels that SoftHSM2 lacks, through the stand-in,
// checked against OpenSSL in software with the same RSA key, which the test makes and
// imports into the token.
#include "standin_test_support.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

const Bytes kMessage = {'o', 'a', 'e', 'p', ' ', 'm', 'e', 's', 's', 'a', 'g', 'e', ' ', '1', '2', '3'};
const Bytes kLabel = {'l', 'a', 'b', 'e', 'l'};

struct PkeyFree {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// One hash, in the codes of this library's OAEP convention and in OpenSSL's.
struct Hash {
  const char *name;
  CK_MECHANISM_TYPE hmac;
  CK_RSA_PKCS_MGF_TYPE mgf;
  const EVP_MD *(*md)();
};

const Hash kHashes[] = {
    {"SHA-1", CKM_SHA_1_HMAC, CKG_MGF1_SHA1, EVP_sha1},
    {"SHA-224", CKM_SHA224_HMAC, CKG_MGF1_SHA224, EVP_sha224},
    {"SHA-256", CKM_SHA256_HMAC, CKG_MGF1_SHA256, EVP_sha256},
    {"SHA-384", CKM_SHA384_HMAC, CKG_MGF1_SHA384, EVP_sha384},
    {"SHA-512", CKM_SHA512_HMAC, CKG_MGF1_SHA512, EVP_sha512},
};
const Hash &kSha1 = kHashes[0];
const Hash &kSha224 = kHashes[1];
const Hash &kSha256 = kHashes[2];
const Hash &kSha384 = kHashes[3];
const Hash &kSha512 = kHashes[4];

// An OAEP scheme, as the mechanism's parameters and as OpenSSL's settings.
struct Scheme {
  const Hash &hash;
  const Hash &mgf1;
  Bytes label;

  std::string name() const {
    return std::string(hash.name) + " MGF1-" + mgf1.name + (label.empty() ? "" : " label");
  }
  CK_RSA_PKCS_OAEP_PARAMS params() {
    return {hash.hmac, mgf1.mgf, label.empty() ? 0UL : CKZ_DATA_SPECIFIED, label.empty() ? nullptr : label.data(),
            label.size()};
  }
  bool configure(EVP_PKEY_CTX *ctx) const {
    if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) != 1 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(ctx, hash.md()) != 1 || EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, mgf1.md()) != 1) {
      return false;
    }
    if (label.empty()) return true;
    void *copy = OPENSSL_memdup(label.data(), label.size());
    if (copy != nullptr && EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, copy, static_cast<int>(label.size())) == 1) {
      return true;
    }
    OPENSSL_free(copy);
    return false;
  }
};

// Encrypts or decrypts in software; empty on failure.
Bytes softwareOaep(EVP_PKEY *key, const Scheme &scheme, const Bytes &input, bool encrypt) {
  PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (ctx == nullptr || (encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) != 1 ||
      !scheme.configure(ctx.get())) {
    return {};
  }
  size_t length = 0;
  const auto run = encrypt ? EVP_PKEY_encrypt : EVP_PKEY_decrypt;
  if (run(ctx.get(), nullptr, &length, input.data(), input.size()) != 1) return {};
  Bytes output(length);
  if (run(ctx.get(), output.data(), &length, input.data(), input.size()) != 1) return {};
  output.resize(length);
  return output;
}

Bytes bignumParam(EVP_PKEY *key, const char *name) {
  BIGNUM *value = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return {};
  Bytes bytes(BN_num_bytes(value));
  BN_bn2bin(value, bytes.data());
  BN_free(value);
  return bytes;
}

class OaepEmulation : public LoggedInSession {
 protected:
  void SetUp() override {
    LoggedInSession::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_NO_FATAL_FAILURE(importRsaKey(2048));
  }

  // A software RSA key of the size (made once per process), imported into the token as
  // a session key pair.
  void importRsaKey(unsigned int bits) {
    static Pkey keys[2];
    Pkey &made = keys[bits == 1024 ? 0 : 1];
    if (made == nullptr) made.reset(EVP_RSA_gen(bits));
    ASSERT_NE(nullptr, made);
    ASSERT_EQ(1, EVP_PKEY_up_ref(made.get()));
    softwareKey.reset(made.get());
    Bytes n = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_N);
    Bytes e = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_E);
    Bytes d = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_D);
    Bytes p = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_FACTOR1);
    Bytes q = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_FACTOR2);
    Bytes dp = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1);
    Bytes dq = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2);
    Bytes qinv = bignumParam(softwareKey.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    blockLength = n.size();
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_CLASS, &publicClass, sizeof publicClass}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
        {CKA_ENCRYPT, &yes, 1}, {CKA_WRAP, &yes, 1},
        {CKA_MODULUS, n.data(), n.size()}, {CKA_PUBLIC_EXPONENT, e.data(), e.size()},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
        {CKA_DECRYPT, &yes, 1}, {CKA_UNWRAP, &yes, 1}, {CKA_PRIVATE, &yes, 1},
        {CKA_MODULUS, n.data(), n.size()}, {CKA_PUBLIC_EXPONENT, e.data(), e.size()},
        {CKA_PRIVATE_EXPONENT, d.data(), d.size()}, {CKA_PRIME_1, p.data(), p.size()},
        {CKA_PRIME_2, q.data(), q.size()}, {CKA_EXPONENT_1, dp.data(), dp.size()},
        {CKA_EXPONENT_2, dq.data(), dq.size()}, {CKA_COEFFICIENT, qinv.data(), qinv.size()},
    };
    ASSERT_CKR(CKR_OK, f->C_CreateObject(session, publicTemplate, 6, &publicKey));
    ASSERT_CKR(CKR_OK, f->C_CreateObject(session, privateTemplate, 13, &privateKey));
  }

  // Encrypts on the token with a length query first; empty on failure.
  Bytes tokenEncrypt(CK_MECHANISM &mechanism, const Bytes &plain) {
    Bytes input = plain;
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, publicKey));
    EXPECT_CKR(CKR_OK, f->C_Encrypt(session, input.data(), input.size(), nullptr, &length));
    Bytes output(length);
    if (f->C_Encrypt(session, input.data(), input.size(), output.data(), &length) != CKR_OK) return {};
    output.resize(length);
    return output;
  }

  // Decrypts on the token; the result of the completing call goes to *rv.
  Bytes tokenDecrypt(CK_MECHANISM &mechanism, const Bytes &cipher, CK_RV *rv) {
    Bytes input = cipher;
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_DecryptInit(session, &mechanism, privateKey));
    EXPECT_CKR(CKR_OK, f->C_Decrypt(session, input.data(), input.size(), nullptr, &length));
    Bytes output(length);
    *rv = f->C_Decrypt(session, input.data(), input.size(), output.data(), &length);
    output.resize(*rv == CKR_OK ? length : 0);
    return output;
  }

  CK_OBJECT_HANDLE generateAesKey(CK_BBOOL extractable, CK_BBOOL sensitive) {
    CK_MECHANISM mechanism = {CKM_AES_KEY_GEN, nullptr, 0};
    CK_ULONG bytes = 16;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_ENCRYPT, &yes, 1}, {CKA_EXTRACTABLE, &extractable, 1},
                           {CKA_SENSITIVE, &sensitive, 1}, {CKA_VALUE_LEN, &bytes, sizeof bytes}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &mechanism, tmpl, 4, &key));
    return key;
  }

  Bytes keyValue(CK_OBJECT_HANDLE key) {
    Bytes value(64);
    CK_ATTRIBUTE attribute = {CKA_VALUE, value.data(), value.size()};
    EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, key, &attribute, 1));
    value.resize(attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : attribute.ulValueLen);
    return value;
  }

  // Unwraps an AES key with a template that gives its class, type and length, as the
  // suite's unwrap templates do.
  CK_RV unwrapAesKey(CK_MECHANISM &mechanism, Bytes wrapped, CK_ULONG valueLen, CK_OBJECT_HANDLE *key) {
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes},
                           {CKA_DECRYPT, &yes, 1}, {CKA_SENSITIVE, &no, 1}, {CKA_EXTRACTABLE, &yes, 1},
                           {CKA_VALUE_LEN, &valueLen, sizeof valueLen}};
    return f->C_UnwrapKey(session, &mechanism, privateKey, wrapped.data(), wrapped.size(), tmpl, 6, key);
  }

  Pkey softwareKey;
  CK_ULONG blockLength = 0;
  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

TEST_F(OaepEmulation, EveryHashMgf1AndLabelAgreesWithSoftware) {
  for (const Hash &hash : kHashes) {
    for (const Hash &mgf1 : kHashes) {
      for (const Bytes &label : {Bytes{}, kLabel}) {
        Scheme scheme{hash, mgf1, label};
        SCOPED_TRACE(scheme.name());
        CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
        CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};

        const Bytes cipher = tokenEncrypt(mechanism, kMessage);
        EXPECT_EQ(blockLength, cipher.size());
        EXPECT_EQ(kMessage, softwareOaep(softwareKey.get(), scheme, cipher, /*encrypt=*/false));

        const Bytes softwareCipher = softwareOaep(softwareKey.get(), scheme, kMessage, /*encrypt=*/true);
        ASSERT_FALSE(softwareCipher.empty());
        CK_RV rv = CKR_GENERAL_ERROR;
        EXPECT_EQ(kMessage, tokenDecrypt(mechanism, softwareCipher, &rv));
        EXPECT_CKR(CKR_OK, rv);
      }
    }
  }
}

TEST_F(OaepEmulation, LengthQueryAndTooSmallBufferKeepTheOperation) {
  Scheme scheme{kSha256, kSha256, kLabel};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  Bytes plain = kMessage;

  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, publicKey));
  CK_ULONG length = 0;
  ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), nullptr, &length));
  EXPECT_EQ(blockLength, length);
  Bytes cipher(blockLength);
  length = blockLength - 1;
  ASSERT_CKR(CKR_BUFFER_TOO_SMALL, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));
  EXPECT_EQ(blockLength, length);
  ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));
  EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));

  ASSERT_CKR(CKR_OK, f->C_DecryptInit(session, &mechanism, privateKey));
  ASSERT_CKR(CKR_OK, f->C_Decrypt(session, cipher.data(), cipher.size(), nullptr, &length));
  EXPECT_EQ(blockLength - 2 * 32 - 2, length) << "the longest message the block holds";
  Bytes decrypted(kMessage.size() - 1);
  length = decrypted.size();
  ASSERT_CKR(CKR_BUFFER_TOO_SMALL, f->C_Decrypt(session, cipher.data(), cipher.size(), decrypted.data(), &length));
  EXPECT_EQ(kMessage.size(), length);
  decrypted.resize(length);
  ASSERT_CKR(CKR_OK, f->C_Decrypt(session, cipher.data(), cipher.size(), decrypted.data(), &length));
  EXPECT_EQ(kMessage, decrypted);
  EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED,
             f->C_Decrypt(session, cipher.data(), cipher.size(), decrypted.data(), &length));
}

TEST_F(OaepEmulation, RefusedInputsEndTheOperation) {
  Scheme scheme{kSha256, kSha1, {}};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  const Bytes cipher = softwareOaep(softwareKey.get(), scheme, kMessage, /*encrypt=*/true);
  ASSERT_EQ(blockLength, cipher.size());
  Bytes tampered = cipher;
  tampered[blockLength / 2] ^= 0x01;
  Bytes otherLabel = softwareOaep(softwareKey.get(), Scheme{kSha256, kSha1, kLabel}, kMessage, /*encrypt=*/true);
  const Bytes tooShort(cipher.begin(), cipher.end() - 1);

  struct Case {
    const char *what;
    Bytes cipher;
    CK_RV expected;
  };
  const Case cases[] = {
      {"tampered ciphertext", tampered, CKR_ENCRYPTED_DATA_INVALID},
      {"another label", otherLabel, CKR_ENCRYPTED_DATA_INVALID},
      {"shorter than the modulus", tooShort, CKR_ENCRYPTED_DATA_LEN_RANGE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CK_RV rv = CKR_OK;
    EXPECT_TRUE(tokenDecrypt(mechanism, c.cipher, &rv).empty());
    EXPECT_CKR(c.expected, rv);
    // Nothing is left active: a new operation starts.
    EXPECT_EQ(kMessage, tokenDecrypt(mechanism, cipher, &rv));
  }

  // The longest message fits; one byte more does not.
  Bytes longest(blockLength - 2 * 32 - 2, 0x5A);
  EXPECT_EQ(longest, softwareOaep(softwareKey.get(), scheme, tokenEncrypt(mechanism, longest), false));
  Bytes tooLong(longest.size() + 1, 0x5A);
  Bytes cipherOut(blockLength);
  CK_ULONG length = cipherOut.size();
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, publicKey));
  EXPECT_CKR(CKR_DATA_LEN_RANGE, f->C_Encrypt(session, tooLong.data(), tooLong.size(), cipherOut.data(), &length));
  EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED,
             f->C_Encrypt(session, longest.data(), longest.size(), cipherOut.data(), &length));
}

TEST_F(OaepEmulation, KeyTooSmallForTheHashIsRefusedAtInit) {
  ASSERT_NO_FATAL_FAILURE(importRsaKey(1024));
  Scheme scheme{kSha512, kSha512, {}};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  EXPECT_CKR(CKR_KEY_SIZE_RANGE, f->C_EncryptInit(session, &mechanism, publicKey));
  EXPECT_CKR(CKR_KEY_SIZE_RANGE, f->C_DecryptInit(session, &mechanism, privateKey));
  // No backend operation stays behind.
  Scheme fitting{kSha256, kSha256, {}};
  CK_RSA_PKCS_OAEP_PARAMS fittingParams = fitting.params();
  CK_MECHANISM fittingMechanism = {CKM_RSA_PKCS_OAEP, &fittingParams, sizeof fittingParams};
  EXPECT_EQ(kMessage, softwareOaep(softwareKey.get(), fitting, tokenEncrypt(fittingMechanism, kMessage), false));
}

// The backend guards the session's emulated operation against others; an unwrapping
// neither meets it nor ends it.
TEST_F(OaepEmulation, AnActiveOperationIsTheBackendsToGuard) {
  Scheme scheme{kSha384, kSha384, {}};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, publicKey));
  EXPECT_CKR(CKR_OPERATION_ACTIVE, f->C_EncryptInit(session, &pkcs, publicKey));
  EXPECT_CKR(CKR_OPERATION_ACTIVE, f->C_EncryptInit(session, &mechanism, publicKey));
  CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
  const Bytes value(32, 0x24);
  EXPECT_CKR(CKR_OK, unwrapAesKey(mechanism, softwareOaep(softwareKey.get(), scheme, value, true), 32, &unwrapped));
  EXPECT_EQ(value, keyValue(unwrapped));
  Bytes plain = kMessage;
  Bytes cipher(blockLength);
  CK_ULONG length = cipher.size();
  ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));
  EXPECT_EQ(kMessage, softwareOaep(softwareKey.get(), scheme, cipher, false));
}

// Each session keeps its own pending operation.
TEST_F(OaepEmulation, SessionsOnThreadsKeepTheirOwnSchemes) {
  std::vector<std::thread> threads;
  // The hashes by address: a braced list of them would hold copies that end with the
  // loop, before the threads are done with them.
  for (const Hash *hash : {&kSha224, &kSha256, &kSha384, &kSha512}) {
    threads.emplace_back([this, hash] {
      Scheme scheme{*hash, kSha1, kLabel};
      CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
      CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
      CK_SESSION_HANDLE own = CK_INVALID_HANDLE;
      ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &own));
      for (int round = 0; round < 3; ++round) {
        Bytes plain = kMessage;
        Bytes cipher(blockLength);
        CK_ULONG length = cipher.size();
        ASSERT_CKR(CKR_OK, f->C_EncryptInit(own, &mechanism, publicKey));
        ASSERT_CKR(CKR_OK, f->C_Encrypt(own, plain.data(), plain.size(), cipher.data(), &length));
        EXPECT_EQ(kMessage, softwareOaep(softwareKey.get(), scheme, cipher, /*encrypt=*/false));
        Bytes decrypted(blockLength);
        length = decrypted.size();
        ASSERT_CKR(CKR_OK, f->C_DecryptInit(own, &mechanism, privateKey));
        ASSERT_CKR(CKR_OK, f->C_Decrypt(own, cipher.data(), cipher.size(), decrypted.data(), &length));
        decrypted.resize(length);
        EXPECT_EQ(kMessage, decrypted);
      }
      EXPECT_CKR(CKR_OK, f->C_CloseSession(own));
    });
  }
  for (std::thread &thread : threads) thread.join();
}

TEST_F(OaepEmulation, ClosingTheSessionOrFinalisingDropsThePendingOperation) {
  Scheme scheme{kSha224, kSha224, kLabel};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  Bytes plain = kMessage;
  Bytes cipher(blockLength);
  for (SessionEnd end : kSessionEnds) {
    SCOPED_TRACE(sessionEndName(end));
    CK_SESSION_HANDLE other = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &other));
    ASSERT_CKR(CKR_OK, f->C_EncryptInit(other, &mechanism, publicKey));
    ASSERT_CKR(CKR_OK, endSession(f, end, other));
    if (end != SessionEnd::CloseSession) {
      ASSERT_CKR(CKR_OK, openUserSession(f, &session));
      ASSERT_NO_FATAL_FAILURE(importRsaKey(2048));
    }
    // A new session may get the old handle; it has no operation.
    CK_SESSION_HANDLE fresh = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &fresh));
    CK_ULONG length = cipher.size();
    EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_Encrypt(fresh, plain.data(), plain.size(), cipher.data(), &length));
    EXPECT_CKR(CKR_OK, f->C_CloseSession(fresh));
  }
}

// A sensitive key's value never shows in CKA_VALUE; it is wrapped all the same.
TEST_F(OaepEmulation, WrapsAndUnwrapsAnAesKeyWithSha256) {
  Scheme scheme{kSha256, kSha256, {}};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  for (CK_BBOOL sensitive : {CK_FALSE, CK_TRUE}) {
    SCOPED_TRACE(sensitive ? "sensitive key" : "key not sensitive");
    const CK_OBJECT_HANDLE aesKey = generateAesKey(CK_TRUE, sensitive);

    CK_ULONG length = 0;
    ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, publicKey, aesKey, nullptr, &length));
    EXPECT_EQ(blockLength, length);
    Bytes wrapped(blockLength);
    length = blockLength - 1;
    EXPECT_CKR(CKR_BUFFER_TOO_SMALL, f->C_WrapKey(session, &mechanism, publicKey, aesKey, wrapped.data(), &length));
    EXPECT_EQ(blockLength, length);
    ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &mechanism, publicKey, aesKey, wrapped.data(), &length));
    ASSERT_EQ(blockLength, length);
    const Bytes value = softwareOaep(softwareKey.get(), scheme, wrapped, /*encrypt=*/false);
    ASSERT_EQ(16U, value.size());
    if (!sensitive) {
      EXPECT_EQ(keyValue(aesKey), value);
    }

    // The token's own wrapping and a wrapping in software both unwrap to the key.
    const Bytes softwareWrapped = softwareOaep(softwareKey.get(), scheme, value, /*encrypt=*/true);
    for (const Bytes &data : {wrapped, softwareWrapped}) {
      CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
      ASSERT_CKR(CKR_OK, unwrapAesKey(mechanism, data, 16, &unwrapped));
      EXPECT_EQ(value, keyValue(unwrapped));
      Bytes iv(16, 0);
      CK_MECHANISM cbc = {CKM_AES_CBC, iv.data(), iv.size()};
      Bytes block(16, 0x33);
      Bytes encrypted(16);
      CK_ULONG encryptedLength = encrypted.size();
      ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &cbc, aesKey));
      ASSERT_CKR(CKR_OK, f->C_Encrypt(session, block.data(), block.size(), encrypted.data(), &encryptedLength));
      ASSERT_CKR(CKR_OK, f->C_DecryptInit(session, &cbc, unwrapped));
      Bytes decrypted(16);
      CK_ULONG decryptedLength = decrypted.size();
      ASSERT_CKR(CKR_OK,
                 f->C_Decrypt(session, encrypted.data(), encrypted.size(), decrypted.data(), &decryptedLength));
      EXPECT_EQ(block, decrypted) << "the unwrapped key works as the original";
    }
  }
  // The transient key that carried the sensitive one is gone.
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_ATTRIBUTE secretKeys = {CKA_CLASS, &secretClass, sizeof secretClass};
  ASSERT_CKR(CKR_OK, f->C_FindObjectsInit(session, &secretKeys, 1));
  CK_OBJECT_HANDLE found[16];
  CK_ULONG count = 0;
  ASSERT_CKR(CKR_OK, f->C_FindObjects(session, found, 16, &count));
  EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
  EXPECT_EQ(6U, count) << "two generated keys and four unwrapped ones";
}

TEST_F(OaepEmulation, WrapAndUnwrapRefusals) {
  Scheme scheme{kSha256, kSha256, {}};
  CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
  struct WrapCase {
    const char *what;
    CK_OBJECT_HANDLE wrappingKey;
    CK_OBJECT_HANDLE key;
    CK_RV expected;
  };
  const CK_OBJECT_HANDLE aesKey = generateAesKey(CK_TRUE, CK_FALSE);
  const WrapCase wrapCases[] = {
      {"not extractable", publicKey, generateAesKey(CK_FALSE, CK_FALSE), CKR_KEY_UNEXTRACTABLE},
      {"not a secret key", publicKey, privateKey, CKR_KEY_NOT_WRAPPABLE},
      {"no such key", publicKey, 0x7FFFFF, CKR_KEY_HANDLE_INVALID},
      {"wrapping with the private key", privateKey, aesKey, CKR_WRAPPING_KEY_TYPE_INCONSISTENT},
      {"wrapping with an AES key", aesKey, aesKey, CKR_WRAPPING_KEY_TYPE_INCONSISTENT},
  };
  for (const WrapCase &c : wrapCases) {
    SCOPED_TRACE(c.what);
    CK_ULONG length = 0;
    EXPECT_CKR(c.expected, f->C_WrapKey(session, &mechanism, c.wrappingKey, c.key, nullptr, &length));
  }

  const Bytes value(16, 0x42);
  Bytes wrapped = softwareOaep(softwareKey.get(), scheme, value, /*encrypt=*/true);
  Bytes tampered = wrapped;
  tampered[blockLength / 2] ^= 0x01;
  struct UnwrapCase {
    const char *what;
    Bytes wrapped;
    CK_ULONG valueLen;
    CK_RV expected;
  };
  const UnwrapCase unwrapCases[] = {
      {"tampered", tampered, 16, CKR_WRAPPED_KEY_INVALID},
      {"shorter than the modulus", Bytes(wrapped.begin(), wrapped.end() - 1), 16, CKR_WRAPPED_KEY_LEN_RANGE},
      {"another CKA_VALUE_LEN", wrapped, 24, CKR_TEMPLATE_INCONSISTENT},
  };
  for (const UnwrapCase &c : unwrapCases) {
    SCOPED_TRACE(c.what);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(c.expected, unwrapAesKey(mechanism, c.wrapped, c.valueLen, &key));
    EXPECT_EQ(CK_INVALID_HANDLE, key);
  }
  // No decryption stays active after a refusal.
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_OK, unwrapAesKey(mechanism, wrapped, 16, &key));
}

// SHA-1 with MGF1-SHA1 and no label is SoftHSM2's own, which answers a length query for
// a decryption with the modulus length and refuses a bad block with CKR_GENERAL_ERROR;
// the emulation answers the longest message and CKR_ENCRYPTED_DATA_INVALID.
TEST_F(OaepEmulation, Sha1WithoutLabelIsTheBackendsOwn) {
  struct Case {
    Scheme scheme;
    CK_ULONG queriedLength;
    CK_RV tamperedResult;
  };
  const Case cases[] = {
      {{kSha1, kSha1, {}}, blockLength, CKR_GENERAL_ERROR},
      {{kSha1, kSha1, kLabel}, blockLength - 2 * 20 - 2, CKR_ENCRYPTED_DATA_INVALID},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.scheme.name());
    Scheme scheme = c.scheme;
    CK_RSA_PKCS_OAEP_PARAMS params = scheme.params();
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
    Bytes cipher = tokenEncrypt(mechanism, kMessage);
    EXPECT_EQ(kMessage, softwareOaep(softwareKey.get(), scheme, cipher, /*encrypt=*/false));
    ASSERT_CKR(CKR_OK, f->C_DecryptInit(session, &mechanism, privateKey));
    CK_ULONG length = 0;
    ASSERT_CKR(CKR_OK, f->C_Decrypt(session, cipher.data(), cipher.size(), nullptr, &length));
    EXPECT_EQ(c.queriedLength, length);
    cipher[blockLength / 2] ^= 0x01;
    Bytes output(length);
    EXPECT_CKR(c.tamperedResult, f->C_Decrypt(session, cipher.data(), cipher.size(), output.data(), &length));
  }
}

}  // namespace
}  // namespace zorvel::test
