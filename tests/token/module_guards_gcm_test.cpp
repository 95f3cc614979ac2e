// GCM parameter records.
#include "module_guards.h"

namespace zorvel::test {
namespace {

// The module's GCM record: CK_GCM_PARAMS with the IV length in bits besides.
struct GcmParamsWithIvBits {
  CK_BYTE_PTR pIv;
  CK_ULONG ulIvLen;
  CK_ULONG ulIvBits;
  CK_BYTE_PTR pAAD;
  CK_ULONG ulAADLen;
  CK_ULONG ulTagBits;
};

// GCM parameters in either record: the IV or additional data missing though its length is
// not (SoftHSM2: SIGSEGV in C_EncryptInit and C_DecryptInit), an IV of no bytes (which
// SoftHSM2 takes, encrypting under a fixed hidden IV) and lengths beyond what OpenSSL
// takes are refused; IVs of 12 and 16 bytes, with or without additional data, are taken.
TEST_F(ModuleGuards, GcmParametersWithoutTheirBytesOrIvAreRefused) {
  const CK_OBJECT_HANDLE aesKey = aesKeyFor({CKA_ENCRYPT, CKA_DECRYPT});
  ASSERT_FALSE(HasFailure());
  Bytes iv(16, 1), aad(20, 2);
  struct GcmCase {
    const char *name;
    CK_BYTE_PTR iv;
    CK_ULONG ivLength;
    CK_BYTE_PTR aad;
    CK_ULONG aadLength;
    CK_RV expected;
  };
  const GcmCase cases[] = {
      {"IV null, 12 bytes long", nullptr, 12, aad.data(), aad.size(), CKR_MECHANISM_PARAM_INVALID},
      {"AAD null, 20 bytes long", iv.data(), 12, nullptr, aad.size(), CKR_MECHANISM_PARAM_INVALID},
      {"IV of no bytes", iv.data(), 0, nullptr, 0, CKR_MECHANISM_PARAM_INVALID},
      {"IV null and of no bytes", nullptr, 0, aad.data(), aad.size(), CKR_MECHANISM_PARAM_INVALID},
      {"IV of 12 bytes, no AAD", iv.data(), 12, nullptr, 0, CKR_OK},
      {"IV of 16 bytes, AAD of 20", iv.data(), 16, aad.data(), aad.size(), CKR_OK},
  };
  for (const GcmCase &c : cases) {
    SCOPED_TRACE(c.name);
    CK_GCM_PARAMS fiveFields = {c.iv, c.ivLength, c.aad, c.aadLength, 128};
    GcmParamsWithIvBits sixFields = {c.iv, c.ivLength, c.ivLength * 8, c.aad, c.aadLength, 128};
    const CK_MECHANISM records[] = {{CKM_AES_GCM, &fiveFields, sizeof fiveFields},
                                    {CKM_AES_GCM, &sixFields, sizeof sixFields}};
    for (CK_MECHANISM gcm : records) {
      SCOPED_TRACE(gcm.ulParameterLen);
      EXPECT_TRUE(answersInChild(c.expected, [&] {
        const CK_RV rv = f->C_EncryptInit(session, &gcm, aesKey);
        if (rv != CKR_OK) return rv;
        Bytes data(16, 3), encrypted(64);
        CK_ULONG encryptedLength = encrypted.size();
        return f->C_Encrypt(session, data.data(), data.size(), encrypted.data(), &encryptedLength);
      }));
      EXPECT_TRUE(answersInChild(c.expected, [&] { return f->C_DecryptInit(session, &gcm, aesKey); }));
    }
  }
  // An AAD longer than the module's OpenSSL takes (SoftHSM2 fails to allocate it: exit
  // status 5).
  CK_GCM_PARAMS beyondAnInt = {iv.data(), 12, aad.data(), CK_ULONG{1} << 40, 128};
  CK_MECHANISM overlong = {CKM_AES_GCM, &beyondAnInt, sizeof beyondAnInt};
  EXPECT_TRUE(
      answersInChild(CKR_MECHANISM_PARAM_INVALID, [&] { return f->C_EncryptInit(session, &overlong, aesKey); }));
}

}  // namespace
}  // namespace zorvel::test
