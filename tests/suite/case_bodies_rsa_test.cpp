// Test bodies of the RSA case against the fake token library: decryptions shorter than
// their plaintext, and key pairs that were never generated.
#include <algorithm>
#include <string>

#include "FakeTokenFixture.h"

#include "case_body_classes.h"
#include "libC_GTest_RSA.h"
#include "case_bodies.h"

namespace {

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

} // namespace
