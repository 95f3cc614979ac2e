// Test bodies of the symmetric cases against the fake token library: more output than
// the room offered, and key sizes of 0.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "CommandLine.h"
#include "FakeTokenFixture.h"

#include "case_body_classes.h"
#include "libC_GTest_AES.h"
#include "libC_GTest_CAMELLIA.h"
#include "libC_GTest_DES3.h"
#include "case_bodies.h"

namespace {

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
