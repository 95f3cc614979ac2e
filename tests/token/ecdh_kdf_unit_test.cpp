// The ECDH key derivation emulation (token/core/emulations/ecdh_kdf.cpp) built into this
// program and run over a function list of the test's own: the length of the new key is
// checked against the module's longest generic secret before anything is derived, and
// the shared secret Z is wiped before its memory is given back, on every path.
#include "emulations/ecdh_kdf.h"
#include "release_hook.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using zorvel::core::AttributeList;
using zorvel::core::Family;
using zorvel::core::OperationRequest;

constexpr CK_ULONG kLongestSecret = 64;
constexpr CK_ULONG kZLength = 32;
constexpr CK_BYTE kZByte = 0xA5;
constexpr CK_OBJECT_HANDLE kTemporaryKey = 0x77;

// What the test's module saw and does.
struct ModuleState {
  int derivations = 0;
  CK_RV valueAnswer = CKR_OK;  // to the read of Z's bytes, after writing them
  CK_ULONG createdLength = 0;
};
ModuleState g_module;

// The block that held Z, and what it held when it was given back.
const void *g_zBlock = nullptr;
std::vector<CK_BYTE> g_zAtRelease;

void noteRelease(void *block) {
  if (block == nullptr || block != g_zBlock) return;
  const CK_BYTE *bytes = static_cast<const CK_BYTE *>(block);
  g_zAtRelease.assign(bytes, bytes + kZLength);
  g_zBlock = nullptr;
}

CK_RV getSessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO_PTR info) {
  *info = {};
  info->slotID = 3;
  return CKR_OK;
}

CK_RV getMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
  if (slot != 3 || type != CKM_GENERIC_SECRET_KEY_GEN) return CKR_MECHANISM_INVALID;
  *info = {1, kLongestSecret, CKF_GENERATE};
  return CKR_OK;
}

CK_RV deriveKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                CK_OBJECT_HANDLE_PTR key) {
  ++g_module.derivations;
  *key = kTemporaryKey;
  return CKR_OK;
}

CK_RV getAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attribute, CK_ULONG) {
  if (object != kTemporaryKey || attribute->type != CKA_VALUE) return CKR_ATTRIBUTE_TYPE_INVALID;
  if (attribute->pValue == nullptr) {
    attribute->ulValueLen = kZLength;
    return CKR_OK;
  }
  std::memset(attribute->pValue, kZByte, kZLength);
  g_zBlock = attribute->pValue;
  return g_module.valueAnswer;
}

CK_RV createObject(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, CK_OBJECT_HANDLE_PTR object) {
  for (CK_ULONG i = 0; i < count; ++i) {
    if (tmpl[i].type == CKA_VALUE) g_module.createdLength = tmpl[i].ulValueLen;
  }
  *object = 0x78;
  return CKR_OK;
}

CK_RV destroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return CKR_OK; }

CK_FUNCTION_LIST moduleFunctions() {
  CK_FUNCTION_LIST list{};
  list.C_GetSessionInfo = getSessionInfo;
  list.C_GetMechanismInfo = getMechanismInfo;
  list.C_DeriveKey = deriveKey;
  list.C_GetAttributeValue = getAttributeValue;
  list.C_CreateObject = createObject;
  list.C_DestroyObject = destroyObject;
  return list;
}

class EcdhKdf : public ::testing::Test {
 protected:
  void SetUp() override { g_module = {}; }

  CK_RV derive(CK_ULONG valueLength) {
    CK_BYTE peer[65] = {0x04};
    CK_ECDH1_DERIVE_PARAMS parameters = {CKD_SHA256_KDF, 0, nullptr, sizeof peer, peer};
    CK_MECHANISM mechanism = {CKM_ECDH1_DERIVE, &parameters, sizeof parameters};
    CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
    CK_KEY_TYPE generic = CKK_GENERIC_SECRET;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secret, sizeof secret},
                           {CKA_KEY_TYPE, &generic, sizeof generic},
                           {CKA_VALUE_LEN, &valueLength, sizeof valueLength}};
    const OperationRequest request = {functions_, Family::Derive, 1, &mechanism, 0x10};
    EXPECT_TRUE(zorvel::core::claimsEcdhWithKdf(request));
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    return zorvel::core::deriveEcdhWithKdf(request, AttributeList{tmpl, 3}, &key);
  }

  const CK_FUNCTION_LIST functions_ = moduleFunctions();
};

TEST_F(EcdhKdf, ALengthAboveTheModulesLongestSecretIsRefusedBeforeAnyDerivation) {
  for (CK_ULONG tooLong : {kLongestSecret + 1, ~CK_ULONG{0}}) {
    SCOPED_TRACE(tooLong);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, derive(tooLong));
    EXPECT_EQ(0, g_module.derivations);
  }
  EXPECT_EQ(CKR_OK, derive(kLongestSecret));
  EXPECT_EQ(kLongestSecret, g_module.createdLength);
}

TEST_F(EcdhKdf, TheSharedSecretIsWipedOnEveryPath) {
  const std::vector<CK_BYTE> wiped(kZLength, 0);
  for (CK_RV valueAnswer : {CKR_OK, CKR_DEVICE_ERROR}) {
    SCOPED_TRACE(valueAnswer);
    g_module.valueAnswer = valueAnswer;
    g_zAtRelease.clear();
    EXPECT_EQ(valueAnswer, derive(16));
    EXPECT_EQ(wiped, g_zAtRelease) << "Z as its memory was given back";
  }
}

}  // namespace

// Every block the program gives back through delete passes here first.
void zorvel::test::onRelease(void *block) { noteRelease(block); }
