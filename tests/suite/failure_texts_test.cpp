// The failure reports of the fixture's checks, character for character: the operator reads
// them to find the failing step, and the expression texts must read as the source does.
#include <cstring>
#include <string>
#include <vector>

#include "DomainParameterKeys.h"
#include "FakeTokenFixture.h"

namespace {

using FailureTexts = FakeTokenTest;

// Every failing token call in these tests answers CKR_DEVICE_ERROR.
constexpr CK_RV kFailure = CKR_DEVICE_ERROR;

// googletest's report of a failed EXPECT_EQ(CKR_OK, expression).
std::string EqualsOk(const std::string& expression)
{
    return "Expected equality of these values:\n  (0UL)\n    Which is: 0\n  " + expression +
           "\n    Which is: " + std::to_string(kFailure);
}

// googletest's report of a failed EXPECT_TRUE(IsCkrOk(...)), with IsCkr's description.
std::string IsOk(const std::string& expression)
{
    return "Value of: " + expression + "\n  Actual: false (48 0x30)\nExpected: true";
}

// googletest's report of a failed EXPECT_TRUE on a plain comparison.
std::string IsTrue(const std::string& expression)
{
    return "Value of: " + expression + "\n  Actual: false\nExpected: true";
}

std::vector<std::string> Messages(const std::vector<RecordedFailure>& failures)
{
    std::vector<std::string> messages;
    for (const RecordedFailure& failure : failures)
        messages.push_back(failure.message);
    return messages;
}

TEST_F(FailureTexts, SuiteSetUpNamesTheFailingStep)
{
    struct Row {
        void (*breakToken)(FakeToken&);
        void (*setUp)();
        const char* text;
        const char* addition = nullptr; // a line of its own after googletest's report
    };
    const Row rows[] = {
        {[](FakeToken& f) { f.C_GetFunctionList = Answer{kFailure}; }, libC_GTest_P11::SetUpTestCase,
         "CKR_OK == C_GetFunctionList(&m_pFList)"},
        {[](FakeToken& f) { f.C_Initialize = Answer{kFailure}; }, libC_GTest_P11::SetUpTestCase,
         "CKR_OK == Initialize(&initArgs)"},
        {[](FakeToken& f) { f.C_GetSlotList = Answer{kFailure}; }, libC_GTest_P11::SetUpTestCase,
         "CKR_OK == GetSlotList(CK_TRUE)"},
        {[](FakeToken& f) { f.C_OpenSession = Answer{kFailure}; }, libC_GTest_P11::SetUpTestCase,
         "CKR_OK == OpenSession()"},
        {[](FakeToken& f) { f.C_Login = Answer{kFailure}; }, libC_GTest_P11::SetUpTestCase,
         "CKR_OK == LogonUser()", "C_Login answered CKR_DEVICE_ERROR (0x30)"},
        {[](FakeToken& f) { f.C_GetMechanismList = Answer{kFailure}; },
         libC_GTest_P11::SetUpTestCase, "CKR_OK == GetMechanismList()"},
        {[](FakeToken& f) { f.C_GetFunctionList = Answer{kFailure}; },
         libC_GTest_Sessions::SetUpTestCase, "IsCkrOk(C_GetFunctionList(&m_pFList))"},
        {[](FakeToken& f) { f.C_Initialize = Answer{kFailure}; },
         libC_GTest_Sessions::SetUpTestCase, "IsCkrOk(Initialize(&initArgs))"},
        {[](FakeToken& f) { f.C_GetSlotList = Answer{kFailure}; },
         libC_GTest_Sessions::SetUpTestCase, "IsCkrOk(GetSlotList(CK_TRUE))"},
        {[](FakeToken& f) { f.C_GetMechanismList = Answer{kFailure}; },
         libC_GTest_Sessions::SetUpTestCase, "IsCkrOk(GetMechanismList())"},
    };
    for (const Row& row : rows) {
        ResetFakeToken();
        ListSlots({3});
        row.breakToken(Fake());
        const auto failures = RecordFailures(row.setUp);
        ASSERT_EQ(1u, failures.size()) << row.text;
        EXPECT_TRUE(failures[0].fatal) << row.text;
        const std::string text = row.text;
        const std::string addition = row.addition == nullptr ? "" : std::string("\n") + row.addition;
        EXPECT_EQ((text.rfind("IsCkrOk", 0) == 0 ? IsOk(text) : IsTrue(text)) + addition, failures[0].message);
    }
}

TEST_F(FailureTexts, SuiteTearDownNamesTheFinalisation)
{
    Fake().C_Finalize = Answer{kFailure};
    const auto failures = RecordFailures(libC_GTest_P11::TearDownTestCase);
    ASSERT_EQ(1u, failures.size());
    EXPECT_TRUE(failures[0].fatal);
    EXPECT_EQ(IsTrue("CKR_OK == Finalize()"), failures[0].message);
}

// One run of a shared routine against a token that fails as `breakToken` says, and the
// reports its checks must make, in order.
struct RoutineRow {
    const char* name;
    void (*breakToken)(FakeToken&);
    void (*run)();
    std::vector<std::string> reports;
};

std::vector<CK_BYTE>& Data()
{
    static std::vector<CK_BYTE> data(2 * 16384 + 1, 0x5A);
    return data;
}

void FailEverything(FakeToken& fake)
{
    fake.defaultResult = kFailure;
}

void FailAllButSignInit(FakeToken& fake)
{
    fake.defaultResult = kFailure;
    fake.C_SignInit = Answer{CKR_OK};
}

// The point's length query succeeds, its read and the derivation fail.
// The point's length comes back, its value does not (nothing is derived then).
void FailPointRead(FakeToken& fake)
{
    fake.defaultResult = kFailure;
    fake.C_GetAttributeValue = [](CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes,
                                  CK_ULONG) {
        attributes[0].ulValueLen = 5;
        return attributes[0].pValue == NULL_PTR ? CKR_OK : kFailure;
    };
}

// The point is read, the derivation fails.
void FailDerivation(FakeToken& fake)
{
    fake.defaultResult = kFailure;
    fake.C_GetAttributeValue = [](CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes,
                                  CK_ULONG) {
        attributes[0].ulValueLen = 1;
        if (attributes[0].pValue != NULL_PTR)
            *static_cast<CK_BYTE*>(attributes[0].pValue) = 0x04;
        return static_cast<CK_RV>(CKR_OK);
    };
}

void RunDeriveEC()
{
    CK_OBJECT_HANDLE newKey = 0;
    libC_GTest_P11::DeriveEC(1, 2, 3, Data().data(), 20, newKey);
}

template <CK_RV (*Routine)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR,
                           CK_ULONG, CK_ULONG_PTR, CK_BYTE_PTR*)>
void RunChunked()
{
    CK_MECHANISM mechanism = {CKM_AES_ECB, NULL_PTR, 0};
    CK_BYTE_PTR pOut = NULL_PTR;
    CK_ULONG ulOut = 0;
    Routine(1, &mechanism, 2, Data().data(), 1, &ulOut, &pOut);
    delete[] pOut;
}

template <CK_RV (*Routine)(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE,
                           CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR*, CK_ULONG&)>
void RunSignVerify()
{
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, NULL_PTR, 0};
    CK_BYTE_PTR pSignature = NULL_PTR;
    CK_ULONG ulSignature = 0;
    Routine(1, &mechanism, 2, 3, Data().data(), 16384 + 1, &pSignature, ulSignature);
    delete[] pSignature;
}

TEST_F(FailureTexts, SharedRoutinesNameEachFailingCall)
{
    const RoutineRow rows[] = {
        {"DigestData", FailEverything,
         [] {
             CK_BYTE_PTR pDigest = NULL_PTR;
             CK_ULONG ulDigest = 0;
             libC_GTest_P11::DigestData(CKM_SHA256, Data().data(), 10, &pDigest, &ulDigest);
             delete[] pDigest;
         },
         {EqualsOk("rv = m_pFList->C_DigestInit(m_hSession, &m_mechanism)"),
          EqualsOk("rv = m_pFList->C_Digest(m_hSession, pInData, pulInSize, nullptr, pulOutSize)"),
          EqualsOk("rv = m_pFList->C_Digest(m_hSession, pInData, pulInSize, *ppOutData, pulOutSize)")}},
        {"ChunkedEncrypt", FailEverything, RunChunked<libC_GTest_P11::ChunkedEncrypt>,
         {EqualsOk("rv = m_pFList->C_EncryptInit(hSession, pMechanism, keyHandle)"),
          EqualsOk("rv = m_pFList->C_EncryptUpdate( hSession, pPlainTextPointer, ulInDataLen, nullptr, &ulOutDataLen)"),
          EqualsOk("rv = m_pFList->C_EncryptUpdate( hSession, pPlainTextPointer, ulInDataLen, pEncryptedData, &ulOutDataLen)"),
          EqualsOk("rv = m_pFList->C_EncryptFinal( hSession, nullptr, &ulOutDataLen)"),
          EqualsOk("rv = m_pFList->C_EncryptFinal( hSession, pEncryptedData, &ulOutDataLen)")}},
        {"ChunkedDecrypt", FailEverything, RunChunked<libC_GTest_P11::ChunkedDecrypt>,
         {EqualsOk("rv = m_pFList->C_DecryptInit(hSession, pMechanism, keyHandle)"),
          EqualsOk("rv = m_pFList->C_DecryptUpdate( hSession, pDataPointer, ulInDataLen, nullptr, &ulOutDataLen)"),
          EqualsOk("rv = m_pFList->C_DecryptUpdate( hSession, pDataPointer, ulInDataLen, pDecryptedData, &ulOutDataLen)"),
          EqualsOk("rv = m_pFList->C_DecryptFinal( hSession, nullptr, &ulOutDataLen)"),
          EqualsOk("rv = m_pFList->C_DecryptFinal( hSession, pDecryptedData, &ulOutDataLen)")}},
        {"SignVerifySinglePart: init", FailEverything,
         RunSignVerify<libC_GTest_P11::SignVerifySinglePart>,
         {EqualsOk("rv = m_pFList->C_SignInit(hSession, pMechanism, privateKeyHandle)")}},
        {"SignVerifySinglePart: length",
         [](FakeToken& f) { f.C_Sign = Answer{kFailure}; },
         RunSignVerify<libC_GTest_P11::SignVerifySinglePart>,
         {EqualsOk("rv = m_pFList->C_Sign(hSession, pData, ulDataLength, nullptr, &ulOutDataLength)")}},
        {"SignVerifySinglePart: sign",
         [](FakeToken& f) {
             f.C_Sign = [](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out, CK_ULONG_PTR) {
                 return out == NULL_PTR ? CKR_OK : kFailure;
             };
         },
         RunSignVerify<libC_GTest_P11::SignVerifySinglePart>,
         {EqualsOk("rv = m_pFList->C_Sign(hSession, pData, ulDataLength, *pOutData, &ulOutDataLength)")}},
        {"SignVerifySinglePart: verify init",
         [](FakeToken& f) { f.C_VerifyInit = Answer{kFailure}; },
         RunSignVerify<libC_GTest_P11::SignVerifySinglePart>,
         {EqualsOk("rv = m_pFList->C_VerifyInit(hSession, pMechanism, publicKeyHandle)")}},
        {"SignVerifySinglePart: verify",
         [](FakeToken& f) { f.C_Verify = Answer{kFailure}; },
         RunSignVerify<libC_GTest_P11::SignVerifySinglePart>,
         {EqualsOk("rv = m_pFList->C_Verify(hSession, pData, ulDataLength, *pOutData, ulOutDataLength)")}},
        {"SignVerifyMultiPart: init", FailEverything,
         RunSignVerify<libC_GTest_P11::SignVerifyMultiPart>,
         {EqualsOk("rv = m_pFList->C_SignInit(hSession, pMechanism, privateKeyHandle)")}},
        {"SignVerifyMultiPart: the rest", FailAllButSignInit,
         RunSignVerify<libC_GTest_P11::SignVerifyMultiPart>,
         {EqualsOk("rv = m_pFList->C_SignUpdate(hSession, &pData[ulOffset], 0x4000)"),
          EqualsOk("rv = m_pFList->C_SignUpdate(hSession, &pData[ulOffset], ulDataLeft)"),
          EqualsOk("rv = m_pFList->C_SignFinal(hSession, nullptr, &ulOutDataLength)"),
          EqualsOk("rv = m_pFList->C_SignFinal(hSession, *pOutData, &ulOutDataLength)"),
          EqualsOk("rv = m_pFList->C_VerifyInit(hSession, pMechanism, publicKeyHandle)"),
          EqualsOk("rv = m_pFList->C_VerifyUpdate(hSession, &pData[ulOffset], 0x4000)"),
          EqualsOk("rv = m_pFList->C_VerifyUpdate(hSession, &pData[ulOffset], ulDataLeft)"),
          EqualsOk("rv = m_pFList->C_VerifyFinal(hSession, *pOutData, ulOutDataLength)")}},
        {"DeriveEC: the point", FailPointRead, RunDeriveEC,
         {EqualsOk("rv = m_pFList->C_GetAttributeValue( sessionHandle, handlePublicKey, attribute, sizeof(attribute) / sizeof(CK_ATTRIBUTE))")}},
        {"DeriveEC: the derivation", FailDerivation, RunDeriveEC,
         {EqualsOk("rv = m_pFList->C_DeriveKey( sessionHandle, &mechanism, handlePrivateKey, keyAttributes, sizeof(keyAttributes) / sizeof(CK_ATTRIBUTE), &newKey)")}},
    };
    for (const RoutineRow& row : rows) {
        ResetFakeToken();
        row.breakToken(Fake());
        const auto failures = RecordFailures(row.run);
        EXPECT_EQ(row.reports, Messages(failures)) << row.name;
        for (const RecordedFailure& failure : failures)
            EXPECT_FALSE(failure.fatal) << row.name;
    }
}

TEST_F(FailureTexts, ReadersNameTheRefusedRead)
{
    const RoutineRow rows[] = {
        {"ReadRSAPublicObject", FailEverything, [] { libC_GTest_P11::ReadRSAPublicObject(1, 2); },
         {IsOk("IsCkrOk(rv)")}},
        {"ReadRSAPrivateObject", FailEverything, [] { libC_GTest_P11::ReadRSAPrivateObject(1, 2); },
         {IsTrue("(CKR_OK == rv) || (CKR_ATTRIBUTE_SENSITIVE == rv)")}},
        {"ReadDSADomainParameterObjects", FailEverything,
         [] { libC_GTest_P11::ReadDSADomainParameterObjects(1, 2); },
         {IsOk("IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handleObject, publicAttribute, sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))")}},
        {"ReadDSAKeyObjects", FailEverything, [] { libC_GTest_P11::ReadDSAKeyObjects(1, 2, 3); },
         {IsOk("IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handlePublicKey, publicAttribute, sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))"),
          EqualsOk("GetAttributeValuesWithAllocation( sessionHandle, handlePrivateKey, privateAttribute, sizeof(privateAttribute) / sizeof(CK_ATTRIBUTE))")}},
        {"ReadDHDomainParameterObjects", FailEverything,
         [] { libC_GTest_P11::ReadDHDomainParameterObjects(1, 2); },
         {IsOk("IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handleObject, publicAttribute, sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))")}},
        {"ReadDHKeyObjects", FailEverything, [] { libC_GTest_P11::ReadDHKeyObjects(1, 2, 3); },
         {IsOk("IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handlePublicKey, publicAttribute, sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))"),
          EqualsOk("GetAttributeValuesWithAllocation( sessionHandle, handlePrivateKey, privateAttribute, sizeof(privateAttribute) / sizeof(CK_ATTRIBUTE))")}},
        {"ReadECObjects", FailEverything, [] { libC_GTest_P11::ReadECObjects(1, 2, 3); },
         {IsOk("IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handlePublicKey, publicAttribute, sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))")}},
    };
    for (const RoutineRow& row : rows) {
        ResetFakeToken();
        row.breakToken(Fake());
        EXPECT_EQ(row.reports, Messages(RecordFailures(row.run))) << row.name;
    }
}

// Every attribute read answers a one-byte value; every other call answers kFailure.
void ReadOneByteValues(FakeToken& fake)
{
    fake.defaultResult = kFailure;
    fake.C_GetAttributeValue = [](CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes,
                                  CK_ULONG count) {
        for (CK_ULONG i = 0; i < count; ++i) {
            attributes[i].ulValueLen = 1;
            if (attributes[i].pValue != NULL_PTR)
                *static_cast<CK_BYTE*>(attributes[i].pValue) = 0x02;
        }
        return static_cast<CK_RV>(CKR_OK);
    };
}

void RunDHKeyPair()
{
    libC_GTest_P11::m_mechInfos[CKM_DH_PKCS_KEY_PAIR_GEN].reset(new CK_MECHANISM_INFO{512, 2048, 0});
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    DomainParameterKeys::GenerateDHKeyPair(5, &CK_MECHANISM_INFO::ulMinKeySize, publicKey, privateKey);
}

void RunDHDerivation()
{
    libC_GTest_P11::m_mechInfos[CKM_AES_KEY_GEN].reset(new CK_MECHANISM_INFO{16, 32, 0});
    DomainParameterKeys::DeriveAESKey(21, 22);
}

// The DH key-pair and derivation routines report a refused call with IsCkr's description of
// the answer; only the derivation's first read is an equality with CKR_OK. Each failure but
// the second read of the public value ends the routine.
TEST_F(FailureTexts, DHRoutinesNameTheRefusedCall)
{
    struct Row {
        RoutineRow routine;
        bool fatal;
    };
    const Row rows[] = {
        {{"GenerateDHKeyPair: the domain values", FailEverything, RunDHKeyPair,
          {IsOk("IsCkrOk(m_pFList->C_GetAttributeValue(m_hSession, domainHandle, m_dhParamTemplate, DH_ATTRIBUTE_CNT))")}},
         true},
        {{"GenerateDHKeyPair: the key pair", ReadOneByteValues, RunDHKeyPair,
          {IsOk("IsCkrOk(m_pFList->C_GenerateKeyPair(m_hSession, &mechanism, m_dhPublicParamTemplate, DH_PUBLIC_KEY_GEN_ATT_CNT, m_dhPrivateParamTemplate, DH_PRIVATE_KEY_GEN_ATT_CNT, &publicKeyHandle, &privateKeyHandle))")}},
         true},
        {{"DeriveAESKey: the length", FailEverything, RunDHDerivation, {EqualsOk("rv")}}, true},
        {{"DeriveAESKey: the value", FailPointRead, RunDHDerivation, {IsOk("IsCkrOk(rv)")}}, false},
        {{"DeriveAESKey: the derivation", ReadOneByteValues, RunDHDerivation,
          {IsOk("IsCkrOk(m_pFList->C_DeriveKey(m_hSession, &mechanism, privateKeyHandle, attributes, 14, &h_newKey))")}},
         true},
    };
    for (const Row& row : rows) {
        ResetFakeToken();
        row.routine.breakToken(Fake());
        const auto failures = RecordFailures(row.routine.run);
        EXPECT_EQ(row.routine.reports, Messages(failures)) << row.routine.name;
        for (const RecordedFailure& failure : failures)
            EXPECT_EQ(row.fatal, failure.fatal) << row.routine.name;
    }
}

} // namespace
