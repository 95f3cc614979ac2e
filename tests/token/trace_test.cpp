// The call trace, registered with ZORVEL_P11_TRACE=1: one line on stderr for every call,
// naming the function, with its result; never the PIN or key material.
#include "standin_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace zorvel::test {
namespace {

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

TEST(Trace, OneLinePerCallWithoutPinOrKeyMaterial) {
  CK_FUNCTION_LIST_PTR f = functionList();
  ASSERT_NE(nullptr, f);
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  const std::string pin = userPin();
  const std::string secret = "k3y-m4t3r14l-0f-16";
  std::vector<CK_BYTE> value(secret.begin(), secret.begin() + 16);
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE aes = CKK_AES;
  CK_BBOOL yes = CK_TRUE;
  CK_ATTRIBUTE keyTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes},
                                {CKA_ENCRYPT, &yes, 1}, {CKA_VALUE, value.data(), value.size()}};
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
  std::vector<CK_BYTE> plain(16, 0x41), cipher(16);
  CK_ULONG length = 0;

  const auto utf8 = [](const std::string &text) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char *>(text.data()));
  };
  // C_SetPIN sets the user PIN it had; C_InitPIN and C_InitToken get a PIN that is not the
  // token's SO PIN and may be refused, traced all the same.
  const std::string soPin = "50-p1n-of-7h3-7r4c3";
  CK_UTF8CHAR label[32];
  std::fill(std::begin(label), std::end(label), ' ');

  ::testing::internal::CaptureStderr();
  const std::vector<std::pair<std::string, CK_RV>> calls = {
      {"C_Initialize", f->C_Initialize(&args)},
      {"C_OpenSession", f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session)},
      {"C_Login", f->C_Login(session, CKU_USER, utf8(pin), pin.size())},
      {"C_CreateObject", f->C_CreateObject(session, keyTemplate, 4, &key)},
      {"C_EncryptInit", f->C_EncryptInit(session, &ecb, key)},
      {"C_Encrypt", f->C_Encrypt(session, plain.data(), plain.size(), nullptr, &length)},
      {"C_Encrypt", f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length)},
      {"C_SetPIN", f->C_SetPIN(session, utf8(pin), pin.size(), utf8(pin), pin.size())},
      {"C_InitPIN", f->C_InitPIN(session, utf8(soPin), soPin.size())},
      {"C_InitToken", f->C_InitToken(0, utf8(soPin), soPin.size(), label)},
      {"C_Logout", f->C_Logout(session)},
      {"C_Finalize", f->C_Finalize(nullptr)},
  };
  const std::string trace = ::testing::internal::GetCapturedStderr();
  const std::vector<std::string> lines = linesOf(trace);

  ASSERT_EQ(calls.size(), lines.size()) << trace;
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const bool mayBeRefused =
        calls[i].first == "C_SetPIN" || calls[i].first == "C_InitPIN" || calls[i].first == "C_InitToken";
    if (!mayBeRefused) {
      EXPECT_CKR(CKR_OK, calls[i].second);
    }
    EXPECT_EQ(0u, lines[i].find("libzorvelP11: " + calls[i].first + " "));
    char result[32];
    std::snprintf(result, sizeof result, " -> 0x%lX", static_cast<unsigned long>(calls[i].second));
    EXPECT_EQ(lines[i].size() - std::strlen(result), lines[i].rfind(result));
  }
  EXPECT_NE(std::string::npos, lines[4].find(" mechanism=0x1081 hKey=0x"));
  EXPECT_NE(std::string::npos, lines[5].find(" ulDataLen=16 pEncryptedData=null pulEncryptedDataLen=16 "));
  EXPECT_EQ(std::string::npos, trace.find(pin)) << "the PIN";
  EXPECT_EQ(std::string::npos, trace.find(soPin.substr(0, 6))) << "the SO PIN";
  for (const char *pinLength : {"ulPinLen", "ulOldLen", "ulNewLen"}) {
    EXPECT_EQ(std::string::npos, trace.find(pinLength)) << "a PIN's length";
  }
  EXPECT_EQ(std::string::npos, trace.find(secret.substr(0, 8))) << "the key's value";
  EXPECT_EQ(std::string::npos, trace.find("6B33792D")) << "the key's value in hex";
}

// C_FindObjects fills an array of *pulObjectCount handles: with none found it leaves the
// caller's array as it was, and with ulMaxObjectCount 0 the array may have no element.
TEST(Trace, FindObjectsReadsNoHandleItDidNotReturn) {
  CK_FUNCTION_LIST_PTR f = functionList();
  ASSERT_NE(nullptr, f);
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  ASSERT_CKR(CKR_OK, f->C_Initialize(&args));
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
  char label[] = "no such object";
  CK_ATTRIBUTE search[] = {{CKA_LABEL, label, sizeof label - 1}};
  ASSERT_CKR(CKR_OK, f->C_FindObjectsInit(session, search, 1));
  CK_OBJECT_HANDLE untouched = 0xDEADBEEF;
  CK_ULONG count = 7;

  ::testing::internal::CaptureStderr();
  const CK_RV rv = f->C_FindObjects(session, &untouched, 0, &count);
  const std::string trace = ::testing::internal::GetCapturedStderr();

  EXPECT_CKR(CKR_OK, rv);
  EXPECT_EQ(0u, count);
  EXPECT_NE(std::string::npos, trace.find(" ulMaxObjectCount=0 pulObjectCount=0 -> 0x0")) << trace;
  EXPECT_EQ(std::string::npos, trace.find("DEADBEEF")) << trace;
  EXPECT_CKR(CKR_OK, f->C_FindObjectsFinal(session));
  EXPECT_CKR(CKR_OK, f->C_Finalize(nullptr));
}

// A call that an emulation row, a refusal or a template translation served names it
// before the result; a forwarded call names nothing.
using TraceOfASession = LoggedInSession;

TEST_F(TraceOfASession, NamesWhatServedACallBesidesTheModule) {
  CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
  CK_KEY_TYPE camellia = CKK_CAMELLIA;
  CK_BBOOL yes = CK_TRUE;
  std::vector<CK_BYTE> value(16, 0x43), data(20, 0x44), mac(8);
  CK_ATTRIBUTE keyTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                {CKA_KEY_TYPE, &camellia, sizeof camellia},
                                {CKA_SIGN, &yes, 1},
                                {CKA_EXTRACTABLE, &yes, 1},
                                {CKA_VALUE, value.data(), value.size()}};
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  CK_MECHANISM cbcMac = {CKM_CAMELLIA_MAC, nullptr, 0};
  CK_MECHANISM refused = {CKM_CAMELLIA_CBC_PAD, nullptr, 0};
  CK_KEY_TYPE type = 0;
  CK_ATTRIBUTE keyType = {CKA_KEY_TYPE, &type, sizeof type};
  CK_SESSION_INFO info{};
  CK_ULONG length = mac.size();

  ::testing::internal::CaptureStderr();
  const std::vector<std::pair<std::string, CK_RV>> calls = {
      {"C_CreateObject [Camellia key type]", f->C_CreateObject(session, keyTemplate, 5, &key)},
      {"C_SignInit [AES and Camellia CBC-MAC signature]", f->C_SignInit(session, &cbcMac, key)},
      {"C_Sign [AES and Camellia CBC-MAC signature]",
       f->C_Sign(session, data.data(), data.size(), mac.data(), &length)},
      {"C_EncryptInit [refused by the stand-in]", f->C_EncryptInit(session, &refused, key)},
      {"C_GetAttributeValue [Camellia key type]", f->C_GetAttributeValue(session, key, &keyType, 1)},
      {"C_GetSessionInfo", f->C_GetSessionInfo(session, &info)},
  };
  const std::vector<std::string> lines = linesOf(::testing::internal::GetCapturedStderr());

  ASSERT_EQ(calls.size(), lines.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const std::string function = calls[i].first.substr(0, calls[i].first.find(' '));
    const std::size_t bracket = calls[i].first.find(" [");
    const std::string servedBy = bracket == std::string::npos ? "" : calls[i].first.substr(bracket);
    char result[32];
    std::snprintf(result, sizeof result, " -> 0x%lX", static_cast<unsigned long>(calls[i].second));
    EXPECT_EQ(0u, lines[i].find("libzorvelP11: " + function + " ")) << lines[i];
    EXPECT_EQ(lines[i].size() - servedBy.size() - std::strlen(result), lines[i].rfind(servedBy + result)) << lines[i];
    EXPECT_EQ(servedBy.empty(), lines[i].find('[') == std::string::npos) << lines[i];
  }
  EXPECT_CKR(CKR_MECHANISM_INVALID, calls[3].second);
  EXPECT_EQ(CKK_CAMELLIA, type);
}

}  // namespace
}  // namespace zorvel::test
