// The fault switches over SoftHSM2, each test registered with its fault switched on
// (ZORVEL_P11_FAULTS): what the caller gets is wrong, and the token shows it.
#include "standin_test_support.h"

#include <string>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

const Bytes kData(32, 0x5C);

Bytes withBitFlipped(Bytes bytes, size_t index) {
  bytes[index] ^= 0x01;
  return bytes;
}

class Faults : public LoggedInSession {
 protected:
  void generateRsaKeyPair() {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_BYTE exponent[] = {1, 0, 1};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_VERIFY, &yes, 1}, {CKA_MODULUS_BITS, &bits, sizeof bits},
                                     {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, 1}};
    ASSERT_CKR(CKR_OK,
               f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 1, &publicKey, &privateKey));
  }

  CK_OBJECT_HANDLE generateSecretKey(CK_MECHANISM_TYPE generation, CK_ULONG bytes) {
    CK_MECHANISM mechanism = {generation, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_SIGN, &yes, 1},    {CKA_VERIFY, &yes, 1},      {CKA_ENCRYPT, &yes, 1},
                           {CKA_DECRYPT, &yes, 1}, {CKA_WRAP, &yes, 1},        {CKA_UNWRAP, &yes, 1},
                           {CKA_EXTRACTABLE, &yes, 1}, {CKA_VALUE_LEN, &bytes, sizeof bytes}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_GenerateKey(session, &mechanism, tmpl, 8, &key));
    return key;
  }

  // Runs Init and a single-part call with a length query first.
  template <typename Init, typename Run>
  Bytes singlePart(Init init, Run run, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes input) {
    EXPECT_CKR(CKR_OK, (f->*init)(session, &mechanism, key));
    CK_ULONG length = 0;
    EXPECT_CKR(CKR_OK, (f->*run)(session, input.data(), input.size(), nullptr, &length));
    Bytes output(length);
    EXPECT_CKR(CKR_OK, (f->*run)(session, input.data(), input.size(), output.data(), &length));
    output.resize(length);
    return output;
  }

  CK_RV verify(CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes signature) {
    Bytes data = kData;
    EXPECT_CKR(CKR_OK, f->C_VerifyInit(session, &mechanism, key));
    return f->C_Verify(session, data.data(), data.size(), signature.data(), signature.size());
  }

  Bytes decrypt(CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes cipher) {
    return singlePart(&CK_FUNCTION_LIST::C_DecryptInit, &CK_FUNCTION_LIST::C_Decrypt, mechanism, key, cipher);
  }

  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

// Registered with ZORVEL_P11_FAULTS=corrupt-signature.
TEST_F(Faults, CorruptSignature) {
  ASSERT_NO_FATAL_FAILURE(generateRsaKeyPair());
  const CK_MECHANISM rsa = {CKM_RSA_PKCS, nullptr, 0};
  Bytes signature = singlePart(&CK_FUNCTION_LIST::C_SignInit, &CK_FUNCTION_LIST::C_Sign, rsa, privateKey, kData);
  ASSERT_EQ(128u, signature.size());
  EXPECT_CKR(CKR_SIGNATURE_INVALID, verify(rsa, publicKey, signature));
  EXPECT_CKR(CKR_OK, verify(rsa, publicKey, withBitFlipped(signature, signature.size() - 1)));

  // A MAC, in parts.
  const CK_OBJECT_HANDLE macKey = generateSecretKey(CKM_GENERIC_SECRET_KEY_GEN, 32);
  CK_MECHANISM hmac = {CKM_SHA256_HMAC, nullptr, 0};
  Bytes data = kData;
  ASSERT_CKR(CKR_OK, f->C_SignInit(session, &hmac, macKey));
  ASSERT_CKR(CKR_OK, f->C_SignUpdate(session, data.data(), data.size()));
  Bytes mac(32);
  CK_ULONG length = mac.size();
  ASSERT_CKR(CKR_OK, f->C_SignFinal(session, mac.data(), &length));
  EXPECT_CKR(CKR_SIGNATURE_INVALID, verify(hmac, macKey, mac));
  EXPECT_CKR(CKR_OK, verify(hmac, macKey, withBitFlipped(mac, mac.size() - 1)));
}

// Registered with ZORVEL_P11_FAULTS=corrupt-ciphertext.
TEST_F(Faults, CorruptCiphertext) {
  const CK_OBJECT_HANDLE aesKey = generateSecretKey(CKM_AES_KEY_GEN, 16);
  const CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
  Bytes cipher = singlePart(&CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt, ecb, aesKey, kData);
  Bytes decrypted = decrypt(ecb, aesKey, cipher);
  EXPECT_NE(Bytes(kData.begin(), kData.begin() + 16), Bytes(decrypted.begin(), decrypted.begin() + 16));
  EXPECT_EQ(Bytes(kData.begin() + 16, kData.end()), Bytes(decrypted.begin() + 16, decrypted.end()));
  EXPECT_EQ(kData, decrypt(ecb, aesKey, withBitFlipped(cipher, 0)));

  // RSA encryption with a private key, which the stand-in emulates by a signature.
  ASSERT_NO_FATAL_FAILURE(generateRsaKeyPair());
  const CK_MECHANISM rsa = {CKM_RSA_PKCS, nullptr, 0};
  Bytes encrypted = singlePart(&CK_FUNCTION_LIST::C_EncryptInit, &CK_FUNCTION_LIST::C_Encrypt, rsa, privateKey, kData);
  EXPECT_CKR(CKR_SIGNATURE_INVALID, verify(rsa, publicKey, encrypted));
  EXPECT_CKR(CKR_OK, verify(rsa, publicKey, withBitFlipped(encrypted, 0)));

  // A wrapped key.
  const CK_OBJECT_HANDLE wrapped = generateSecretKey(CKM_AES_KEY_GEN, 16);
  CK_MECHANISM keyWrap = {CKM_AES_KEY_WRAP, nullptr, 0};
  Bytes wrapping(64);
  CK_ULONG length = wrapping.size();
  ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &keyWrap, aesKey, wrapped, wrapping.data(), &length));
  wrapping.resize(length);
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE aes = CKK_AES;
  CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes}};
  CK_OBJECT_HANDLE unwrapped = CK_INVALID_HANDLE;
  // The key wrap's integrity check fails (SoftHSM2 answers CKR_GENERAL_ERROR).
  EXPECT_NE(CKR_OK, f->C_UnwrapKey(session, &keyWrap, aesKey, wrapping.data(), wrapping.size(), tmpl, 2, &unwrapped));
  wrapping = withBitFlipped(wrapping, 0);
  EXPECT_CKR(CKR_OK, f->C_UnwrapKey(session, &keyWrap, aesKey, wrapping.data(), wrapping.size(), tmpl, 2, &unwrapped));
}

// Registered with ZORVEL_P11_FAULTS=undeletable-objects.
TEST_F(Faults, UndeletableObjects) {
  const CK_OBJECT_HANDLE object = createDataObject(CK_FALSE);
  ASSERT_CKR(CKR_OK, f->C_FindObjectsInit(session, nullptr, 0));
  // The one object of the token first, then handles in the room left, the same ones at
  // every call: the search never ends.
  std::vector<CK_OBJECT_HANDLE> found(8);
  CK_ULONG count = 0;
  ASSERT_CKR(CKR_OK, f->C_FindObjects(session, found.data(), found.size(), &count));
  ASSERT_EQ(8u, count);
  EXPECT_EQ(object, found[0]);
  const std::vector<CK_OBJECT_HANDLE> added(found.begin() + 1, found.end());
  ASSERT_CKR(CKR_OK, f->C_FindObjects(session, found.data(), found.size(), &count));
  ASSERT_EQ(8u, count);
  EXPECT_EQ(added, std::vector<CK_OBJECT_HANDLE>(found.begin(), found.begin() + 7));
  EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
  for (const CK_OBJECT_HANDLE handle : found) EXPECT_CKR(CKR_OBJECT_HANDLE_INVALID, f->C_DestroyObject(session, handle));
  // The token's own object is destroyed as ever.
  EXPECT_CKR(CKR_OK, f->C_DestroyObject(session, object));
}

// Registered with ZORVEL_P11_FAULTS=device-errors.
TEST(FaultSwitches, DeviceErrorsAnswerEverySeventhCallButFinalize) {
  CK_FUNCTION_LIST_PTR f = functionList();
  ASSERT_NE(nullptr, f);
  CK_INFO info;
  // Calls before the initialisation are not counted.
  for (int call = 0; call < 10; ++call) EXPECT_CKR(CKR_CRYPTOKI_NOT_INITIALIZED, f->C_GetInfo(&info));
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  // Twice: the count starts again at every initialisation.
  for (int round = 0; round < 2; ++round) {
    ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
    std::vector<int> failed;
    for (int call = 1; call <= 20; ++call) {
      const CK_RV rv = f->C_GetInfo(&info);
      if (rv != CKR_OK) {
        EXPECT_CKR(CKR_DEVICE_ERROR, rv);
        failed.push_back(call);
      }
    }
    EXPECT_EQ((std::vector<int>{7, 14}), failed);
    // The 21st call, which no device error meets.
    EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
  }
}

// Registered with ZORVEL_P11_FAULTS=corrupt-signature,no-such-fault.
TEST(FaultSwitches, UnknownNameRefusesInitialisation) {
  CK_FUNCTION_LIST_PTR f = functionList();
  ASSERT_NE(nullptr, f);
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  ::testing::internal::CaptureStderr();
  const CK_RV rv = f->C_Initialize(&args);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_CKR(CKR_GENERAL_ERROR, rv);
  EXPECT_NE(std::string::npos, said.find("unknown fault 'no-such-fault' in ZORVEL_P11_FAULTS")) << said;
  EXPECT_CKR(CKR_CRYPTOKI_NOT_INITIALIZED, f->C_Finalize(nullptr));
}

}  // namespace
}  // namespace zorvel::test
