// The symmetric mechanisms the stand-in carries out itself over SoftHSM2, against results
// computed here with OpenSSL and against the published Camellia test vectors (RFC 3713):
// CKM_AES_MAC, CKM_CAMELLIA_MAC, CKM_AES_GMAC, CKM_CAMELLIA_ECB and CKM_CAMELLIA_CBC; and
// the mechanisms it refuses before it looks at the key.
#include "standin_test_support.h"

#include <openssl/evp.h>

#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

Bytes fromHex(const char *hex) {
  Bytes bytes;
  for (const char *p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
    bytes.push_back(static_cast<CK_BYTE>(std::stoul(std::string(p, 2), nullptr, 16)));
  }
  return bytes;
}

// Test data of the given length, not all zero.
Bytes testData(std::size_t length) {
  Bytes data(length);
  for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<CK_BYTE>(i * 7 + 3);
  return data;
}

const EVP_CIPHER *openSslCipher(const char *family, const char *mode, std::size_t keyLength) {
  const std::string name = std::string(family) + "-" + std::to_string(keyLength * 8) + "-" + mode;
  return EVP_get_cipherbyname(name.c_str());
}

// OpenSSL's encryption without padding, or with GCM the tag over `aad` alone.
Bytes openSslEncrypt(const EVP_CIPHER *cipher, const Bytes &key, const Bytes &iv, const Bytes &data) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 16);
  int length = 0;
  int finalLength = 0;
  EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data()));
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(1, EVP_EncryptUpdate(ctx, out.data(), &length, data.data(), static_cast<int>(data.size())));
  EXPECT_EQ(1, EVP_EncryptFinal_ex(ctx, out.data() + length, &finalLength));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(length + finalLength);
  return out;
}

// CBC-MAC as the vendor defines CKM_AES_MAC: zero padding (none: one zero block), IV 0,
// the first 8 bytes of the last block.
Bytes openSslCbcMac(const char *family, const Bytes &key, const Bytes &data) {
  Bytes padded = data;
  padded.resize(data.empty() ? 16 : (data.size() + 15) / 16 * 16, 0);
  const Bytes encrypted = openSslEncrypt(openSslCipher(family, "cbc", key.size()), key, Bytes(16, 0), padded);
  return Bytes(encrypted.end() - 16, encrypted.end() - 8);
}

Bytes openSslGmac(const Bytes &key, const Bytes &iv, const Bytes &data, std::size_t tagLength) {
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  int length = 0;
  unsigned char none[16];
  Bytes tag(tagLength);
  EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, openSslCipher("aes", "gcm", key.size()), nullptr, nullptr, nullptr));
  EXPECT_EQ(1, EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr));
  EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), iv.data()));
  if (!data.empty()) {
    EXPECT_EQ(1, EVP_EncryptUpdate(ctx, nullptr, &length, data.data(), static_cast<int>(data.size())));
  }
  EXPECT_EQ(1, EVP_EncryptFinal_ex(ctx, none, &length));
  EXPECT_EQ(1, EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, static_cast<int>(tagLength), tag.data()));
  EVP_CIPHER_CTX_free(ctx);
  return tag;
}

class SymmetricEmulations : public LoggedInSession {
 protected:
  // A session secret key with the given value, extractable, that may encrypt, decrypt,
  // sign and verify, unless `withoutUse` names the one use it may not.
  CK_OBJECT_HANDLE createKey(CK_KEY_TYPE type, const Bytes &value, CK_ATTRIBUTE_TYPE withoutUse = 0,
                             CK_BBOOL sensitive = CK_FALSE) {
    CK_OBJECT_CLASS secretKey = CKO_SECRET_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    std::vector<CK_ATTRIBUTE> tmpl = {{CKA_CLASS, &secretKey, sizeof secretKey},
                                      {CKA_KEY_TYPE, &type, sizeof type},
                                      {CKA_VALUE, const_cast<CK_BYTE *>(value.data()), value.size()},
                                      {CKA_SENSITIVE, &sensitive, 1},
                                      {CKA_EXTRACTABLE, &yes, 1}};
    for (CK_ATTRIBUTE_TYPE use : {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY}) {
      tmpl.push_back({use, use == withoutUse ? &no : &yes, 1});
    }
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_CreateObject(session, tmpl.data(), tmpl.size(), &key));
    return key;
  }

  // Signs in one call (length query first) and, over the same data cut into two parts,
  // with C_SignUpdate; both MACs must agree.
  Bytes sign(CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes &data) {
    Bytes input = data;
    EXPECT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, key));
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_Sign(session, input.data(), input.size(), nullptr, &length));
    Bytes mac(length);
    EXPECT_CKR(CKR_OK, f->C_Sign(session, input.data(), input.size(), mac.data(), &length));
    mac.resize(length);

    const CK_ULONG firstPart = input.size() / 3;
    EXPECT_CKR(CKR_OK, f->C_SignInit(session, &mechanism, key));
    EXPECT_CKR(CKR_OK, f->C_SignUpdate(session, input.data(), firstPart));
    EXPECT_CKR(CKR_OK, f->C_SignUpdate(session, input.data() + firstPart, input.size() - firstPart));
    Bytes inParts(32);
    CK_ULONG partsLength = inParts.size();
    EXPECT_CKR(CKR_OK, f->C_SignFinal(session, inParts.data(), &partsLength));
    inParts.resize(partsLength);
    EXPECT_EQ(mac, inParts) << "signed in parts";
    return mac;
  }

  CK_RV verify(CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes data, Bytes mac) {
    const CK_RV rv = f->C_VerifyInit(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    return f->C_Verify(session, data.data(), data.size(), mac.data(), mac.size());
  }

  // Encrypts in one call, and in parts of `part` bytes into one buffer; both must agree.
  Bytes encrypt(CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes data, CK_ULONG part) {
    EXPECT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, key));
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, f->C_Encrypt(session, data.data(), data.size(), nullptr, &length));
    Bytes encrypted(length);
    EXPECT_CKR(CKR_OK, f->C_Encrypt(session, data.data(), data.size(), encrypted.data(), &length));
    encrypted.resize(length);

    EXPECT_CKR(CKR_OK, f->C_EncryptInit(session, &mechanism, key));
    Bytes inParts(data.size());
    CK_ULONG done = 0;
    for (CK_ULONG offset = 0; offset < data.size(); offset += part) {
      CK_ULONG room = inParts.size() - done;
      EXPECT_CKR(CKR_OK, f->C_EncryptUpdate(session, data.data() + offset, std::min(part, data.size() - offset),
                                            inParts.data() + done, &room));
      done += room;
    }
    CK_ULONG room = inParts.size() - done;
    EXPECT_CKR(CKR_OK, f->C_EncryptFinal(session, inParts.data() + done, &room));
    inParts.resize(done + room);
    EXPECT_EQ(encrypted, inParts) << "encrypted in parts of " << part;
    return encrypted;
  }

  Bytes decrypt(CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes encrypted) {
    EXPECT_CKR(CKR_OK, f->C_DecryptInit(session, &mechanism, key));
    CK_ULONG length = encrypted.size();
    Bytes decrypted(length);
    EXPECT_CKR(CKR_OK, f->C_Decrypt(session, encrypted.data(), encrypted.size(), decrypted.data(), &length));
    decrypted.resize(length);
    return decrypted;
  }
};

// The MACs over data of lengths around the block size: what OpenSSL computes, in one call
// and in parts; verification of the MAC, of a changed one and of one of another length.
TEST_F(SymmetricEmulations, CbcMacsAreOpenSslsCbcMac) {
  struct Row {
    CK_MECHANISM_TYPE mechanism;
    CK_KEY_TYPE keyType;
    const char *family;
  };
  for (const Row &row : {Row{CKM_AES_MAC, CKK_AES, "aes"}, Row{CKM_CAMELLIA_MAC, CKK_CAMELLIA, "camellia"}}) {
    for (std::size_t keyLength : {16, 24, 32}) {
      const Bytes keyValue = testData(keyLength + 1);
      const Bytes value(keyValue.begin() + 1, keyValue.end());
      const CK_OBJECT_HANDLE key = createKey(row.keyType, value);
      for (std::size_t dataLength : {0, 1, 15, 16, 17, 40000}) {
        SCOPED_TRACE(std::string(row.family) + " key " + std::to_string(keyLength) + ", data " +
                     std::to_string(dataLength));
        const Bytes data = testData(dataLength);
        const Bytes mac = sign({row.mechanism, nullptr, 0}, key, data);
        EXPECT_EQ(openSslCbcMac(row.family, value, data), mac);
        EXPECT_CKR(CKR_OK, verify({row.mechanism, nullptr, 0}, key, data, mac));
        Bytes changed = mac;
        changed.at(7) ^= 1;
        EXPECT_CKR(CKR_SIGNATURE_INVALID, verify({row.mechanism, nullptr, 0}, key, data, changed));
        changed.resize(16);
        EXPECT_CKR(CKR_SIGNATURE_LEN_RANGE, verify({row.mechanism, nullptr, 0}, key, data, changed));
      }
    }
  }
}

// A sensitive key reaches the emulation through the module's wrapping (secret_key_value.h).
TEST_F(SymmetricEmulations, SensitiveExtractableKeysServeToo) {
  const Bytes value = testData(32);
  const Bytes data = testData(100);
  const CK_OBJECT_HANDLE aes = createKey(CKK_AES, value, 0, CK_TRUE);
  const CK_OBJECT_HANDLE camellia = createKey(CKK_CAMELLIA, value, 0, CK_TRUE);
  EXPECT_EQ(openSslCbcMac("aes", value, data), sign({CKM_AES_MAC, nullptr, 0}, aes, data));
  EXPECT_EQ(openSslCbcMac("camellia", value, data), sign({CKM_CAMELLIA_MAC, nullptr, 0}, camellia, data));
}

TEST_F(SymmetricEmulations, GmacIsOpenSslsGcmTagOverTheDataAsAad) {
  Bytes iv = fromHex("cafebabefacedbaddecaf888");
  const Bytes data = testData(40000);
  for (std::size_t keyLength : {16, 32}) {
    const Bytes value = testData(keyLength);
    const CK_OBJECT_HANDLE key = createKey(CKK_AES, value);
    for (CK_ULONG tagBits : {0, 96, 128}) {
      SCOPED_TRACE("key " + std::to_string(keyLength) + ", tag bits " + std::to_string(tagBits));
      CK_GCM_PARAMS params = {iv.data(), iv.size(), nullptr, 0, tagBits};
      const CK_MECHANISM gmac = {CKM_AES_GMAC, &params, sizeof params};
      const Bytes mac = sign(gmac, key, data);
      EXPECT_EQ(openSslGmac(value, iv, data, tagBits == 0 ? 16 : tagBits / 8), mac);
      EXPECT_CKR(CKR_OK, verify(gmac, key, data, mac));
      Bytes changed = mac;
      ASSERT_FALSE(changed.empty());
      changed.back() ^= 0x80;
      EXPECT_CKR(CKR_SIGNATURE_INVALID, verify(gmac, key, data, changed));
    }
  }
  // AAD of its own, a tag of no whole bytes and no IV are refused.
  const CK_OBJECT_HANDLE key = createKey(CKK_AES, testData(16));
  Bytes aad = testData(4);
  const CK_GCM_PARAMS refused[] = {{iv.data(), iv.size(), aad.data(), aad.size(), 0},
                                   {iv.data(), iv.size(), nullptr, 0, 100},
                                   {nullptr, 0, nullptr, 0, 0}};
  for (CK_GCM_PARAMS params : refused) {
    CK_MECHANISM gmac = {CKM_AES_GMAC, &params, sizeof params};
    EXPECT_CKR(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &gmac, key));
  }
}

// RFC 3713, appendix A: one block under a 128-, 192- and 256-bit key.
TEST_F(SymmetricEmulations, CamelliaEcbGivesThePublishedVectors) {
  const Bytes plaintext = fromHex("0123456789abcdeffedcba9876543210");
  struct Vector {
    const char *key;
    const char *ciphertext;
  };
  const Vector vectors[] = {
      {"0123456789abcdeffedcba9876543210", "67673138549669730857065648eabe43"},
      {"0123456789abcdeffedcba98765432100011223344556677", "b4993401b3e996f84ee5cee7d79b09b9"},
      {"0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff", "9acc237dff16d76c20ef7c919e3a7509"},
  };
  for (const Vector &vector : vectors) {
    SCOPED_TRACE(vector.key);
    const CK_OBJECT_HANDLE key = createKey(CKK_CAMELLIA, fromHex(vector.key));
    const Bytes encrypted = encrypt({CKM_CAMELLIA_ECB, nullptr, 0}, key, plaintext, 16);
    EXPECT_EQ(fromHex(vector.ciphertext), encrypted);
    EXPECT_EQ(plaintext, decrypt({CKM_CAMELLIA_ECB, nullptr, 0}, key, encrypted));
  }
}

TEST_F(SymmetricEmulations, CamelliaEcbAndCbcAreOpenSsls) {
  Bytes iv = fromHex("38363432303937353331383634323039");
  const Bytes data = testData(40000 - 40000 % 16);
  for (std::size_t keyLength : {16, 24, 32}) {
    const Bytes value = testData(keyLength);
    const CK_OBJECT_HANDLE key = createKey(CKK_CAMELLIA, value);
    struct Mode {
      const char *name;
      CK_MECHANISM mechanism;
      Bytes iv;
    };
    for (const Mode &mode : {Mode{"ecb", {CKM_CAMELLIA_ECB, nullptr, 0}, {}},
                             Mode{"cbc", {CKM_CAMELLIA_CBC, iv.data(), iv.size()}, iv}}) {
      SCOPED_TRACE(std::string(mode.name) + ", key " + std::to_string(keyLength));
      // Parts that do not end on block boundaries: the output follows the whole blocks.
      const Bytes encrypted = encrypt(mode.mechanism, key, data, 1000);
      EXPECT_EQ(openSslEncrypt(openSslCipher("camellia", mode.name, keyLength), value, mode.iv, data), encrypted);
      EXPECT_EQ(data, decrypt(mode.mechanism, key, encrypted));
    }
  }
}

TEST_F(SymmetricEmulations, KeysAndDataAreCheckedAsTheTokenChecksThem) {
  const CK_OBJECT_HANDLE camellia = createKey(CKK_CAMELLIA, testData(16));
  const CK_OBJECT_HANDLE aes = createKey(CKK_AES, testData(16));
  const CK_OBJECT_HANDLE aesNoSign = createKey(CKK_AES, testData(16), CKA_SIGN);
  const CK_OBJECT_HANDLE camelliaNoEncrypt = createKey(CKK_CAMELLIA, testData(16), CKA_ENCRYPT);
  CK_MECHANISM aesMac = {CKM_AES_MAC, nullptr, 0};
  CK_MECHANISM camelliaMac = {CKM_CAMELLIA_MAC, nullptr, 0};
  CK_MECHANISM camelliaEcb = {CKM_CAMELLIA_ECB, nullptr, 0};
  EXPECT_CKR(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &aesMac, camellia));
  EXPECT_CKR(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &camelliaMac, aes));
  EXPECT_CKR(CKR_KEY_TYPE_INCONSISTENT, f->C_EncryptInit(session, &camelliaEcb, aes));
  EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_SignInit(session, &aesMac, aesNoSign));
  EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_EncryptInit(session, &camelliaEcb, camelliaNoEncrypt));
  EXPECT_CKR(CKR_KEY_HANDLE_INVALID, f->C_SignInit(session, &aesMac, CK_INVALID_HANDLE));
  CK_BYTE iv8[8] = {};
  CK_MECHANISM camelliaCbcShortIv = {CKM_CAMELLIA_CBC, iv8, sizeof iv8};
  EXPECT_CKR(CKR_MECHANISM_PARAM_INVALID, f->C_EncryptInit(session, &camelliaCbcShortIv, camellia));

  // Data that does not end on a block boundary.
  Bytes data = testData(17);
  Bytes out(32);
  CK_ULONG length = out.size();
  ASSERT_CKR(CKR_OK, f->C_EncryptInit(session, &camelliaEcb, camellia));
  EXPECT_CKR(CKR_DATA_LEN_RANGE, f->C_Encrypt(session, data.data(), data.size(), out.data(), &length));
  ASSERT_CKR(CKR_OK, f->C_DecryptInit(session, &camelliaEcb, camellia));
  EXPECT_CKR(CKR_OK, f->C_DecryptUpdate(session, data.data(), data.size(), out.data(), &length));
  length = out.size();
  EXPECT_CKR(CKR_ENCRYPTED_DATA_LEN_RANGE, f->C_DecryptFinal(session, out.data(), &length));
}

// Each MAC emulation asks for the permission of the operation it starts: a key without
// CKA_SIGN may still verify, one without CKA_VERIFY may still sign.
TEST_F(SymmetricEmulations, MacsNeedCkaSignToSignAndCkaVerifyToVerify) {
  Bytes iv = fromHex("cafebabefacedbaddecaf888");
  CK_GCM_PARAMS gmacParams = {iv.data(), iv.size(), nullptr, 0, 0};
  struct Row {
    CK_MECHANISM mechanism;
    CK_KEY_TYPE keyType;
  };
  const Row rows[] = {{{CKM_AES_MAC, nullptr, 0}, CKK_AES},
                      {{CKM_CAMELLIA_MAC, nullptr, 0}, CKK_CAMELLIA},
                      {{CKM_AES_GMAC, &gmacParams, sizeof gmacParams}, CKK_AES}};
  const Bytes data = testData(40);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.mechanism.mechanism);
    CK_MECHANISM mechanism = row.mechanism;
    const CK_OBJECT_HANDLE noSign = createKey(row.keyType, testData(16), CKA_SIGN);
    const CK_OBJECT_HANDLE noVerify = createKey(row.keyType, testData(16), CKA_VERIFY);
    EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_SignInit(session, &mechanism, noSign));
    EXPECT_CKR(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_VerifyInit(session, &mechanism, noVerify));
    const Bytes mac = sign(mechanism, noVerify, data);
    EXPECT_CKR(CKR_OK, verify(mechanism, noSign, data, mac));
  }
}

// The refusals come before the key: an invalid handle does not change the answer.
TEST_F(SymmetricEmulations, RefusedMechanismsBeforeTheKey) {
  Bytes iv = testData(16);
  CK_MECHANISM des3Cbc = {CKM_DES3_CBC, iv.data(), iv.size()};
  CK_MECHANISM camelliaCbcPad = {CKM_CAMELLIA_CBC_PAD, iv.data(), iv.size()};
  CK_MECHANISM camelliaCbc = {CKM_CAMELLIA_CBC, iv.data(), iv.size()};
  CK_MECHANISM camelliaEcb = {CKM_CAMELLIA_ECB, nullptr, 0};
  const CK_OBJECT_HANDLE none = CK_INVALID_HANDLE;
  CK_ULONG length = 0;
  Bytes wrapped(32);
  CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_MECHANISM_INVALID, f->C_EncryptInit(session, &des3Cbc, none));
  EXPECT_CKR(CKR_MECHANISM_INVALID, f->C_EncryptInit(session, &camelliaCbcPad, none));
  EXPECT_CKR(CKR_MECHANISM_INVALID, f->C_DecryptInit(session, &camelliaCbcPad, none));
  EXPECT_CKR(CKR_MECHANISM_INVALID, f->C_SignInit(session, &camelliaEcb, none));
  for (CK_MECHANISM *mechanism : {&camelliaCbc, &camelliaCbcPad, &camelliaEcb}) {
    SCOPED_TRACE(mechanism->mechanism);
    EXPECT_CKR(CKR_MECHANISM_INVALID, f->C_WrapKey(session, mechanism, none, none, nullptr, &length));
    EXPECT_CKR(CKR_MECHANISM_INVALID,
               f->C_UnwrapKey(session, mechanism, none, wrapped.data(), wrapped.size(), nullptr, 0, &unwrapped));
  }
  // DES3 CBC still decrypts.
  CK_MECHANISM des3KeyGen = {CKM_DES3_KEY_GEN, nullptr, 0};
  CK_OBJECT_HANDLE des3 = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_GenerateKey(session, &des3KeyGen, nullptr, 0, &des3));
  CK_MECHANISM des3Cbc8 = {CKM_DES3_CBC, iv.data(), 8};
  EXPECT_CKR(CKR_OK, f->C_DecryptInit(session, &des3Cbc8, des3));
}

}  // namespace
}  // namespace zorvel::test
