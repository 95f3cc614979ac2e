#include "standin_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zorvel::test {
namespace {

std::string hex(CK_RV rv) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(rv));
  return text;
}

}  // namespace

::testing::AssertionResult ckrEquals(const char *expectedText, const char *actualText, CK_RV expected,
                                     CK_RV actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actualText << " returned " << hex(actual) << ", expected "
                                       << expectedText << " (" << hex(expected) << ")";
}

const std::vector<CK_BYTE> kOakleyGroup1Prime = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC9, 0x0F, 0xDA, 0xA2, 0x21, 0x68, 0xC2, 0x34,
    0xC4, 0xC6, 0x62, 0x8B, 0x80, 0xDC, 0x1C, 0xD1, 0x29, 0x02, 0x4E, 0x08, 0x8A, 0x67, 0xCC, 0x74,
    0x02, 0x0B, 0xBE, 0xA6, 0x3B, 0x13, 0x9B, 0x22, 0x51, 0x4A, 0x08, 0x79, 0x8E, 0x34, 0x04, 0xDD,
    0xEF, 0x95, 0x19, 0xB3, 0xCD, 0x3A, 0x43, 0x1B, 0x30, 0x2B, 0x0A, 0x6D, 0xF2, 0x5F, 0x14, 0x37,
    0x4F, 0xE1, 0x35, 0x6D, 0x6D, 0x51, 0xC2, 0x45, 0xE4, 0x85, 0xB5, 0x76, 0x62, 0x5E, 0x7E, 0xC6,
    0xF4, 0x4C, 0x42, 0xE9, 0xA6, 0x3A, 0x36, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

CK_FUNCTION_LIST_PTR functionList() {
  CK_FUNCTION_LIST_PTR list = nullptr;
  return C_GetFunctionList(&list) == CKR_OK ? list : nullptr;
}

const ZorvelStandinFunctionList *standinList() {
  CK_ZORVEL_FUNCTION_LIST_PTR vendor = nullptr;
  return C_GetZorvelFunctionList(&vendor) == CKR_OK ? zorvelStandinList(vendor) : nullptr;
}

std::string userPin() {
  const char *pin = std::getenv("ZORVEL_TEST_USER_PIN");
  return pin != nullptr ? pin : "1234";
}

CK_ULONG provisionedTokens() {
  const char *tokens = std::getenv("ZORVEL_TEST_TOKENS");
  return tokens != nullptr ? std::strtoul(tokens, nullptr, 10) : 1;
}

CK_RV openUserSession(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE *session) {
  CK_RV rv = f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, session);
  if (rv != CKR_OK) return rv;
  std::string pin = userPin();
  return f->C_Login(*session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size());
}

namespace {

// generateRsaKeyPair, the private key also extractable when it is to be read.
CK_RV generateRsaPair(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ULONG bits, CK_BBOOL maySign,
                      CK_BBOOL extractable, CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey) {
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_BYTE exponent[] = {1, 0, 1};
  CK_BBOOL yes = CK_TRUE;
  CK_ATTRIBUTE pubTemplate[] = {{CKA_ENCRYPT, &yes, 1},
                                {CKA_VERIFY, &yes, 1},
                                {CKA_MODULUS_BITS, &bits, sizeof bits},
                                {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
  CK_ATTRIBUTE privTemplate[] = {{CKA_DECRYPT, &yes, 1}, {CKA_SIGN, &maySign, 1}, {CKA_EXTRACTABLE, &extractable, 1}};
  return f->C_GenerateKeyPair(session, &mechanism, pubTemplate, 4, privTemplate, 3, publicKey, privateKey);
}

// The values of the attributes, each read whole.
CK_RV readValues(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                 const std::vector<CK_ATTRIBUTE_TYPE> &types, std::vector<std::vector<CK_BYTE>> *values) {
  values->clear();
  for (CK_ATTRIBUTE_TYPE type : types) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    CK_RV rv = f->C_GetAttributeValue(session, object, &attribute, 1);
    if (rv != CKR_OK) return rv;
    std::vector<CK_BYTE> &value = values->emplace_back(attribute.ulValueLen);
    attribute.pValue = value.data();
    rv = f->C_GetAttributeValue(session, object, &attribute, 1);
    if (rv != CKR_OK) return rv;
  }
  return CKR_OK;
}

}  // namespace

CK_RV generateRsaKeyPair(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ULONG bits, CK_BBOOL maySign,
                         CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey) {
  return generateRsaPair(f, session, bits, maySign, CK_FALSE, publicKey, privateKey);
}

CK_RV createRsaKeyPairWithLeadingZero(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ULONG bits,
                                      CK_OBJECT_HANDLE *publicKey, CK_OBJECT_HANDLE *privateKey) {
  CK_OBJECT_HANDLE generatedPublic = CK_INVALID_HANDLE, generatedPrivate = CK_INVALID_HANDLE;
  CK_RV rv = generateRsaPair(f, session, bits, CK_TRUE, CK_TRUE, &generatedPublic, &generatedPrivate);
  if (rv != CKR_OK) return rv;
  const std::vector<CK_ATTRIBUTE_TYPE> types = {CKA_MODULUS,  CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                                CKA_PRIME_1,  CKA_PRIME_2,         CKA_EXPONENT_1,
                                                CKA_EXPONENT_2, CKA_COEFFICIENT};
  std::vector<std::vector<CK_BYTE>> values;
  rv = readValues(f, session, generatedPrivate, types, &values);
  f->C_DestroyObject(session, generatedPublic);
  f->C_DestroyObject(session, generatedPrivate);
  if (rv != CKR_OK) return rv;
  values[0].insert(values[0].begin(), 0);
  CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
  CK_KEY_TYPE rsa = CKK_RSA;
  CK_BBOOL yes = CK_TRUE;
  std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_CLASS, &publicClass, sizeof publicClass},
                                              {CKA_KEY_TYPE, &rsa, sizeof rsa},
                                              {CKA_ENCRYPT, &yes, 1},
                                              {CKA_VERIFY, &yes, 1}};
  std::vector<CK_ATTRIBUTE> privateTemplate = {{CKA_CLASS, &privateClass, sizeof privateClass},
                                               {CKA_KEY_TYPE, &rsa, sizeof rsa},
                                               {CKA_DECRYPT, &yes, 1},
                                               {CKA_SIGN, &yes, 1}};
  for (std::size_t i = 0; i < types.size(); ++i) {
    const CK_ATTRIBUTE component = {types[i], values[i].data(), static_cast<CK_ULONG>(values[i].size())};
    if (i < 2) publicTemplate.push_back(component);
    privateTemplate.push_back(component);
  }
  rv = f->C_CreateObject(session, publicTemplate.data(), publicTemplate.size(), publicKey);
  if (rv != CKR_OK) return rv;
  return f->C_CreateObject(session, privateTemplate.data(), privateTemplate.size(), privateKey);
}

CK_C_INITIALIZE_ARGS osLockingArgs() {
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK;
  return args;
}

const char *sessionEndName(SessionEnd end) {
  switch (end) {
    case SessionEnd::CloseSession: return "C_CloseSession";
    case SessionEnd::CloseAllSessions: return "C_CloseAllSessions";
    case SessionEnd::Finalize: return "C_Finalize";
  }
  return "?";
}

CK_RV endSession(CK_FUNCTION_LIST_PTR f, SessionEnd end, CK_SESSION_HANDLE session) {
  switch (end) {
    case SessionEnd::CloseSession: return f->C_CloseSession(session);
    case SessionEnd::CloseAllSessions: return f->C_CloseAllSessions(0);
    case SessionEnd::Finalize: {
      const CK_RV rv = f->C_Finalize(nullptr);
      if (rv != CKR_OK) return rv;
      CK_C_INITIALIZE_ARGS args = osLockingArgs();
      return f->C_Initialize(&args);
    }
  }
  return CKR_GENERAL_ERROR;
}

void InitializedLibrary::SetUp() {
  f = functionList();
  ASSERT_NE(nullptr, f);
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
}

void InitializedLibrary::TearDown() {
  if (f != nullptr) {
    EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
  }
}

void LoggedInSession::SetUp() {
  InitializedLibrary::SetUp();
  if (HasFatalFailure()) return;
  ASSERT_CKR(CKR_OK, openUserSession(f, &session));
}

CK_OBJECT_HANDLE LoggedInSession::createDataObject(CK_BBOOL isPrivate) {
  CK_OBJECT_CLASS dataClass = CKO_DATA;
  CK_BBOOL yes = CK_TRUE;
  char label[] = "stand-in test data";
  char application[] = "standin";
  char value[] = "test data";
  CK_BYTE objectId[] = {0xDE, 0xAD, 0xBE, 0xEF};
  // CKA_TOKEN given twice with one value, as the suite's data objects do.
  CK_ATTRIBUTE tmpl[] = {
      {CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &yes, 1},
      {CKA_LABEL, label, sizeof label - 1}, {CKA_APPLICATION, application, sizeof application - 1},
      {CKA_VALUE, value, sizeof value}, {CKA_OBJECT_ID, objectId, sizeof objectId},
      {CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &isPrivate, 1},
      {CKA_MODIFIABLE, &yes, 1}, {CKA_COPYABLE, &yes, 1},
      {CKA_DESTROYABLE, &yes, 1},
  };
  CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_OK, f->C_CreateObject(session, tmpl, sizeof tmpl / sizeof tmpl[0], &object));
  EXPECT_NE(CK_INVALID_HANDLE, object);
  return object;
}

bool LoggedInSession::objectExists(CK_OBJECT_HANDLE object) {
  CK_ATTRIBUTE label = {CKA_LABEL, nullptr, 0};
  return f->C_GetAttributeValue(session, object, &label, 1) == CKR_OK;
}

}  // namespace zorvel::test
