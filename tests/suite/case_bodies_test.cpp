// Test bodies of the session, object, EC, RSA and symmetric cases against the fake token
// library, where the token answers what the stand-in never does: searches that find
// nothing or another object, closes that fail after every session of the slot was closed,
// and attribute values refused after their lengths were given, decryptions shorter than
// their plaintext, key pairs that were never generated, more output than the room offered
// and key sizes of 0. The case
// headers are included with TEST_F redefined, so that each suite test becomes a plain
// class whose body a unit test calls and whose failures it records.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "CommandLine.h"
#include "FakeTokenFixture.h"

#undef TEST_F
#define TEST_F(Fixture, TestName)                                                              \
    struct Fixture##_##TestName##_Body : Fixture {                                             \
        void TestBody() override;                                                              \
    };                                                                                         \
    void Fixture##_##TestName##_Body::TestBody()

#include "libC_GTest_AES.h"
#include "libC_GTest_CAMELLIA.h"
#include "libC_GTest_DES3.h"
#include "libC_GTest_EC.h"
#include "libC_GTest_ObjectManagement.h"
#include "libC_GTest_P11_Multi.h"
#include "libC_GTest_RSA.h"

#undef TEST_F
#define TEST_F(Fixture, TestName) GTEST_TEST_F(Fixture, TestName)

namespace {

using CaseBodies = FakeTokenTest;
using Destroyed = std::vector<std::pair<CK_SESSION_HANDLE, CK_OBJECT_HANDLE>>;

// Runs a suite test's body and returns the failures it recorded.
template <typename Body>
std::vector<RecordedFailure> RunBody()
{
    return RecordFailures([] { Body().TestBody(); });
}

// Every object the token creates or generates gets handle `created`; every destroy, by
// the function list or the exported function, is logged in `destroyed`.
void CreateAndLogDestroys(CK_OBJECT_HANDLE created, Destroyed& destroyed)
{
    FakeToken& fake = TheFakeToken();
    fake.C_CreateObject = [created](CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR object) {
        *object = created;
        return CKR_OK;
    };
    fake.C_GenerateKey = [created](CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG,
                                   CK_OBJECT_HANDLE_PTR key) {
        *key = created;
        return CKR_OK;
    };
    fake.C_DestroyObject = [&destroyed](CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
        destroyed.emplace_back(session, object);
        return CKR_OK;
    };
}

// Every search finds the handles `found`.
void FindHandles(std::vector<CK_OBJECT_HANDLE> found)
{
    TheFakeToken().C_FindObjects = [found](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles,
                                           CK_ULONG max, CK_ULONG_PTR count) {
        *count = std::min<CK_ULONG>(found.size(), max);
        std::copy(found.begin(), found.begin() + *count, handles);
        return CKR_OK;
    };
}

// Search results and what the test may then read and destroy, for a created object 42.
struct SearchCase {
    std::vector<CK_OBJECT_HANDLE> found;
    bool reads;              // an attribute read of the handle found
    CK_OBJECT_HANDLE destroy; // the one handle destroyed
    bool passes;
};

TEST_F(CaseBodies, FindObjectsByIDTouchesOnlyTheKeyItGenerated)
{
    const SearchCase cases[] = {
        {{42}, true, 42, true},
        {{}, false, 42, false},  // nothing found: no handle from the search is used
        {{7}, false, 42, false}, // another object found: it is left alone
    };
    for (const SearchCase& c : cases) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_mechInfos[CKM_AES_KEY_GEN].reset(new CK_MECHANISM_INFO{16, 32, 0});
        Destroyed destroyed;
        CreateAndLogDestroys(42, destroyed);
        FindHandles(c.found);

        const auto failures = RunBody<libC_GTest_P11_Multi_FindObjectsByID_Body>();
        EXPECT_EQ(c.passes, failures.empty()) << c.found.size() << " found";
        EXPECT_EQ(c.reads ? 1U : 0U, Fake().CallCount("C_GetAttributeValue"));
        EXPECT_EQ((Destroyed{{P11::m_hSession, c.destroy}}), destroyed);
    }
}

TEST_F(CaseBodies, RetrieveCertificateReadsOnlyWhatItFound)
{
    for (const SearchCase& c : {SearchCase{{42}, true, 42, true}, SearchCase{{}, false, 42, false}}) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        Destroyed destroyed;
        CreateAndLogDestroys(42, destroyed);
        FindHandles(c.found);

        const auto failures = RunBody<libC_GTest_ObjectManagement_RetrieveCertificate_Body>();
        EXPECT_EQ(c.passes, failures.empty()) << c.found.size() << " found";
        // The read is the two-call read of GetAttributeValuesWithAllocation.
        EXPECT_EQ(c.reads ? 2U : 0U, Fake().CallCount("C_GetAttributeValue"));
        EXPECT_EQ((Destroyed{{P11::m_hSession, 42}}), destroyed);
    }
}

TEST_F(CaseBodies, CheckROSessionDestroysItsKeyWhateverTheSearchesFind)
{
    constexpr CK_SESSION_HANDLE kReadOnly = 5;
    constexpr CK_SESSION_HANDLE kRebuilt = 6;
    struct Row {
        std::vector<CK_OBJECT_HANDLE> foundReadOnly, foundRebuilt;
        Destroyed destroyed;
    };
    const Row rows[] = {
        // The read-only session's destroy is refused: the key goes through the handle found.
        {{42}, {42}, {{kReadOnly, 42}, {kRebuilt, 42}}},
        // Nothing found at all: no destroy in the read-only session, the key goes by its
        // own handle.
        {{}, {}, {{kRebuilt, 42}}},
    };
    for (const Row& row : rows) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_hSession = 1;
        Destroyed destroyed;
        CreateAndLogDestroys(42, destroyed);
        Fake().C_OpenSession = [](CK_SLOT_ID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
            *session = (flags & CKF_RW_SESSION) ? kRebuilt : kReadOnly;
            return CKR_OK;
        };
        int searches = 0;
        Fake().C_FindObjects = [&](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG,
                                   CK_ULONG_PTR count) {
            const auto& found = ++searches == 1 ? row.foundReadOnly : row.foundRebuilt;
            *count = found.size();
            if (!found.empty())
                handles[0] = found[0];
            return CKR_OK;
        };

        RunBody<libC_GTest_ObjectManagement_CheckROSession_Body>();
        EXPECT_EQ(row.destroyed, destroyed);
        EXPECT_EQ(kRebuilt, P11::m_hSession);
    }
}

// The token closes every session of the slot, but refuses none of the closes after it:
// the test fails, and the fixture session is opened and logged in again all the same.
TEST_F(CaseBodies, ClosingAllSessionsRebuildsTheFixtureSessionAlsoOnFailure)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const Runner runners[] = {
        RunBody<libC_GTest_P11_Multi_One_Slot_Multiple_Open_CloseAll_Body>,
        RunBody<libC_GTest_P11_Multi_Multiple_Slots_Open_Close_Body>,
    };
    for (const Runner run : runners) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_hSession = 1;
        CK_SESSION_HANDLE next = 100;
        Fake().C_OpenSession = [&next](CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
            *session = next++;
            return CKR_OK;
        };

        const auto failures = run();
        ASSERT_EQ(1U, failures.size());
        EXPECT_TRUE(failures[0].fatal);
        const std::vector<std::string>& calls = Fake().calls;
        const auto closeAll = std::find(calls.begin(), calls.end(), "C_CloseAllSessions");
        ASSERT_NE(calls.end(), closeAll);
        EXPECT_EQ((std::vector<std::string>{"C_CloseSession", "C_CloseSession", "C_OpenSession", "C_Login"}),
                  std::vector<std::string>(calls.end() - 4, calls.end()))
            << "the rebuild closes the old handle, opens and logs in";
        EXPECT_EQ(next - 1, P11::m_hSession);
    }
}

// The export tests' value read fails after the lengths were given: each reports it once,
// non-fatally, with the call as that test writes it, and both keys are still destroyed.
TEST_F(CaseBodies, ExportReportsARefusedValueReadAsItsTestWritesIt)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const struct {
        Runner run;
        const char* read;
    } rows[] = {
        {RunBody<libC_GTest_EC_ExportPublic_Body>,
         "m_pFList->C_GetAttributeValue( m_hSession, hPublic, attribute, cAttrs)"},
        {RunBody<libC_GTest_EC_ExportPrivate_Body>,
         "m_pFList->C_GetAttributeValue(m_hSession, hPrivate, attribute, cAttrs)"},
    };
    for (const auto& row : rows) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        Fake().C_GetAttributeValue = [](CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes,
                                        CK_ULONG count) {
            if (attributes[0].pValue != NULL_PTR)
                return CKR_DEVICE_ERROR;
            for (CK_ULONG i = 0; i < count; ++i)
                attributes[i].ulValueLen = 4;
            return CKR_OK;
        };

        const auto failures = row.run();
        ASSERT_EQ(1U, failures.size()) << row.read;
        EXPECT_FALSE(failures[0].fatal);
        EXPECT_EQ(std::string("Expected equality of these values:\n  (0UL)\n    Which is: 0\n  rv = ") + row.read +
                      "\n    Which is: 48",
                  failures[0].message);
        EXPECT_EQ(2U, Fake().CallCount("C_DestroyObject"));
    }
}

// The RSA round trips' decryption answers fewer bytes than the plaintext (or, in the
// raw tests' second cycle, the block) they compare: the test fails with a message and
// compares nothing beyond the decrypted output.
TEST_F(CaseBodies, RSADecryptionShorterThanThePlaintextFailsWithoutReadingPastIt)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const struct {
        Runner run;
        CK_ULONG decryptedLength;
        const char* compared; // the length the failure names
    } rows[] = {
        {RunBody<libC_GTest_RSA_EncryptPKCS_MinSize_Body>, 8, "ulPlainDataLength"},
        {RunBody<libC_GTest_RSA_EncryptPKCS_OAEP_SHA256_MaxSize_Body>, 8, "ulPlainDataLength"},
        {RunBody<libC_GTest_RSA_EncryptX509_MinSize_Body>, 8, "ulPlainDataIncompleteLength"},
        {RunBody<libC_GTest_RSA_EncryptX509_MinSize_Body>, 64, "ulPlainDataCompleteLength"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.compared);
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_mechInfos[CKM_RSA_X_509].reset(new CK_MECHANISM_INFO{1024, 4096, 0});
        Fake().C_Encrypt = [](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR length) {
            *length = 128;
            return CKR_OK;
        };
        // Zeros, reported and written: unlike every plaintext of the tests.
        Fake().C_Decrypt = [&row](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR output,
                                  CK_ULONG_PTR length) {
            if (output != NULL_PTR)
                std::fill_n(output, row.decryptedLength, 0);
            *length = row.decryptedLength;
            return CKR_OK;
        };

        const auto failures = row.run();
        ASSERT_EQ(1U, failures.size());
        EXPECT_TRUE(failures[0].fatal);
        EXPECT_NE(std::string::npos, failures[0].message.find(std::string("(ulOutAllocated) >= (") + row.compared))
            << failures[0].message;
        EXPECT_NE(std::string::npos, failures[0].message.find("the decrypted output is shorter than the plaintext"))
            << failures[0].message;
    }
}

// The RSA case's cleanup destroys the case's own key handles, private before public and
// the smallest pair first, and makes no call for a handle that is 0.
TEST_F(CaseBodies, RSACleanupDestroysOnlyTheGeneratedPairs)
{
    struct Row {
        CK_OBJECT_HANDLE privateMin, publicMin, privateMax, publicMax;
        Destroyed destroyed;
    };
    const Row rows[] = {
        {3, 2, 5, 4, {{1, 3}, {1, 2}, {1, 5}, {1, 4}}},
        {3, 2, 0, 0, {{1, 3}, {1, 2}}}, // the largest pair was never generated
        {0, 0, 0, 0, {}},
    };
    for (const Row& row : rows) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        P11::m_hSession = 1;
        P11::m_rsaPrivateKeyMinSizeObjectHandle = row.privateMin;
        P11::m_rsaPublicKeyMinSizeObjectHandle = row.publicMin;
        P11::m_rsaPrivateKeyMaxSizeObjectHandle = row.privateMax;
        P11::m_rsaPublicKeyMaxSizeObjectHandle = row.publicMax;
        Destroyed destroyed;
        CreateAndLogDestroys(0, destroyed);

        const auto failures = RunBody<libC_GTest_RSA_CleanupPartition_Body>();
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(row.destroyed, destroyed);
        EXPECT_EQ(row.destroyed.size(), Fake().calls.size()) << "no call but the destroys";
    }
    P11::m_rsaPrivateKeyMinSizeObjectHandle = P11::m_rsaPublicKeyMinSizeObjectHandle = 0;
    P11::m_rsaPrivateKeyMaxSizeObjectHandle = P11::m_rsaPublicKeyMaxSizeObjectHandle = 0;
}

// A data file of `length` bytes, named by g_DataFile while it lives; of this process's
// own, since the plain and the valgrind run of these tests may run at once.
class DataFile {
public:
    explicit DataFile(std::size_t length)
        : m_path(testing::TempDir() + "case-bodies-data-" + std::to_string(getpid()) + ".bin")
    {
        std::FILE* file = std::fopen(m_path.c_str(), "wb");
        for (std::size_t i = 0; file != nullptr && i < length; ++i)
            std::fputc(static_cast<int>(i * 7 + 3) & 0xff, file);
        if (file != nullptr)
            std::fclose(file);
        std::free(g_DataFile);
        g_DataFile = strdup(m_path.c_str());
    }
    ~DataFile()
    {
        std::free(g_DataFile);
        g_DataFile = nullptr;
        std::remove(m_path.c_str());
    }

private:
    std::string m_path;
};

// The written-out part loops of the CAMELLIA and DES3 cases against a token that copies
// its input, and that fills the whole room it is offered first, so that an offer beyond
// the buffer shows under the sanitizers and valgrind. Where one entry reports one byte
// more than it was offered, the test ends there, before any further call.
TEST_F(CaseBodies, WrittenOutPartLoopsEndAtOutputBeyondTheRoomOffered)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const Runner bodies[] = {
        RunBody<libC_GTest_CAMELLIA_EncryptCBC_Chunked_MinSize_Body>,
        RunBody<libC_GTest_CAMELLIA_EncryptECB_Chunked_MinSize_Body>,
        RunBody<libC_GTest_DES3_EncryptECB_Chunked_MaxSize_Body>,
    };
    const char* const overReporting[] = {"", "C_EncryptUpdate", "C_EncryptFinal", "C_DecryptUpdate", "C_DecryptFinal"};
    const DataFile data(40000); // three parts of CHUNK_SIZE
    for (const Runner run : bodies) {
        for (const std::string entry : overReporting) {
            SCOPED_TRACE(entry.empty() ? std::string("no entry reports more") : entry);
            ResetFakeToken();
            P11::m_pFList = &Fake().functionList;
            P11::m_mechInfos[CKM_CAMELLIA_KEY_GEN].reset(new CK_MECHANISM_INFO{16, 32, 0});
            const auto copying = [&entry](const char* name) {
                return [&entry, name](CK_SESSION_HANDLE, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                                      CK_ULONG_PTR outLength) {
                    std::memset(out, 0x5a, *outLength);
                    if (entry == name) {
                        *outLength += 1;
                        return CKR_OK;
                    }
                    if (*outLength < inLength)
                        return CKR_BUFFER_TOO_SMALL;
                    std::copy(in, in + inLength, out);
                    *outLength = inLength;
                    return CKR_OK;
                };
            };
            const auto finishing = [&entry](const char* name) {
                return [&entry, name](CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
                    std::memset(out, 0x5a, *outLength);
                    *outLength = entry == name ? *outLength + 1 : 0;
                    return CKR_OK;
                };
            };
            Fake().C_EncryptUpdate = copying("C_EncryptUpdate");
            Fake().C_DecryptUpdate = copying("C_DecryptUpdate");
            Fake().C_EncryptFinal = finishing("C_EncryptFinal");
            Fake().C_DecryptFinal = finishing("C_DecryptFinal");

            const auto failures = run();
            if (entry.empty()) {
                EXPECT_TRUE(failures.empty()) << failures.front().message;
                continue;
            }
            ASSERT_EQ(1U, failures.size());
            EXPECT_TRUE(failures[0].fatal);
            EXPECT_NE(std::string::npos, failures[0].message.find("the token reported more output than the room offered"))
                << failures[0].message;
            ASSERT_FALSE(Fake().calls.empty());
            EXPECT_EQ(entry, Fake().calls.back()) << "a call after the one that reported too much";
            EXPECT_EQ(1U, Fake().CallCount(entry));
        }
    }
}

// A missing record or a key size of 0 of the mechanism whose key size cuts the CBC data
// down ends the test before any token call.
TEST_F(CaseBodies, CbcCutDownWithoutAKeySizeEndsBeforeAnyTokenCall)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const struct {
        Runner run;
        CK_MECHANISM_TYPE unitMechanism;
        CK_MECHANISM_INFO sizeOfZero; // the size field the test reads is 0
    } rows[] = {
        {RunBody<libC_GTest_AES_EncryptCBC_MinSize_Body>, CKM_AES_CBC, {0, 32, 0}},
        {RunBody<libC_GTest_AES_EncryptCBC_Chunked_MaxSize_Body>, CKM_AES_CBC, {16, 0, 0}},
        {RunBody<libC_GTest_CAMELLIA_EncryptCBC_MaxSize_Body>, CKM_CAMELLIA_KEY_GEN, {16, 0, 0}},
        {RunBody<libC_GTest_CAMELLIA_EncryptCBC_Chunked_MinSize_Body>, CKM_CAMELLIA_KEY_GEN, {0, 32, 0}},
    };
    const DataFile data(1000);
    for (const auto& row : rows) {
        for (const bool recorded : {false, true}) {
            SCOPED_TRACE(recorded ? "a key size of 0" : "no record");
            ResetFakeToken();
            P11::m_pFList = &Fake().functionList;
            P11::m_mechInfos.clear();
            if (recorded)
                P11::m_mechInfos[row.unitMechanism].reset(new CK_MECHANISM_INFO(row.sizeOfZero));

            const auto failures = row.run();
            ASSERT_EQ(1U, failures.size());
            EXPECT_TRUE(failures[0].fatal);
            const char* named = recorded ? "the token advertises a key size of 0" : "the token reported no mechanism 0x";
            EXPECT_NE(std::string::npos, failures[0].message.find(named)) << failures[0].message;
            EXPECT_TRUE(Fake().calls.empty()) << Fake().calls.front();
        }
    }
}

} // namespace
