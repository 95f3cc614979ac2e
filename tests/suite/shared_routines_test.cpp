// The shared test routines against the fake token: part splitting, return rules, the
// cleanup loop and buffer handling.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FakeTokenFixture.h"

namespace {

using SharedRoutines = FakeTokenTest;

std::vector<CK_BYTE> Data(CK_ULONG length)
{
    std::vector<CK_BYTE> data(length);
    for (CK_ULONG i = 0; i < length; ++i)
        data[i] = static_cast<CK_BYTE>(i % 251);
    return data;
}

struct Split {
    CK_ULONG dataLength;
    std::vector<CK_ULONG> parts;
};

const Split kSplits[] = {
    {0, {}},
    {1, {1}},
    {16384, {16384}},
    {16385, {16384, 1}},
    {2 * 16384 + 1, {16384, 16384, 1}},
};

// Every update echoes its part; the final call adds `finalLength` bytes of 0xEE. Records
// the part lengths of the calls that carry an output buffer.
void EchoingCipher(std::function<CK_RV(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)>& update,
                   std::function<CK_RV(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)>& final,
                   std::vector<CK_ULONG>& parts, CK_ULONG finalLength)
{
    update = [&parts](CK_SESSION_HANDLE, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                      CK_ULONG_PTR outLength) {
        if (out != NULL_PTR) {
            parts.push_back(inLength);
            std::memcpy(out, in, inLength);
        }
        *outLength = inLength;
        return CKR_OK;
    };
    final = [finalLength](CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
        // A "real" call must come with a buffer, also for an empty result.
        EXPECT_TRUE(out != NULL_PTR || *outLength == 0);
        if (out != NULL_PTR)
            std::memset(out, 0xEE, finalLength);
        *outLength = finalLength;
        return CKR_OK;
    };
}

TEST_F(SharedRoutines, ChunkedCipherCutsInputIntoPartsAndJoinsTheOutput)
{
    for (const bool encrypt : {true, false}) {
        for (const Split& split : kSplits) {
            ResetFakeToken();
            std::vector<CK_ULONG> parts;
            int finalCalls = 0;
            if (encrypt)
                EchoingCipher(Fake().C_EncryptUpdate, Fake().C_EncryptFinal, parts, 3);
            else
                EchoingCipher(Fake().C_DecryptUpdate, Fake().C_DecryptFinal, parts, 3);
            auto& final = encrypt ? Fake().C_EncryptFinal : Fake().C_DecryptFinal;
            auto echoFinal = final;
            final = [&](CK_SESSION_HANDLE s, CK_BYTE_PTR out, CK_ULONG_PTR length) {
                if (++finalCalls == 2) {
                    EXPECT_NE(nullptr, out) << "the real final call got no buffer";
                }
                return echoFinal(s, out, length);
            };

            std::vector<CK_BYTE> data = Data(split.dataLength);
            CK_MECHANISM mechanism = {CKM_AES_ECB, NULL_PTR, 0};
            CK_BYTE_PTR pOut = NULL_PTR;
            CK_ULONG ulOut = 0;
            const CK_RV rv =
                encrypt ? P11::ChunkedEncrypt(1, &mechanism, 2, data.data(), split.dataLength, &ulOut, &pOut)
                        : P11::ChunkedDecrypt(1, &mechanism, 2, data.data(), split.dataLength, &ulOut, &pOut);
            NewArrayGuard output(pOut);

            EXPECT_EQ(CKR_OK, rv);
            EXPECT_EQ(split.parts, parts) << split.dataLength;
            ASSERT_EQ(split.dataLength + 3, ulOut);
            ASSERT_NE(nullptr, pOut);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), pOut)) << split.dataLength;
            EXPECT_EQ(std::vector<CK_BYTE>(3, 0xEE), std::vector<CK_BYTE>(pOut + split.dataLength, pOut + ulOut));
        }
    }
}

TEST_F(SharedRoutines, ChunkedEncryptWithNoOutputStillHandsOutABuffer)
{
    std::vector<CK_ULONG> parts;
    EchoingCipher(Fake().C_EncryptUpdate, Fake().C_EncryptFinal, parts, 0);
    CK_MECHANISM mechanism = {CKM_AES_CTR, NULL_PTR, 0};
    CK_BYTE_PTR pOut = NULL_PTR;
    CK_ULONG ulOut = 99;
    EXPECT_EQ(CKR_OK, P11::ChunkedEncrypt(1, &mechanism, 2, NULL_PTR, 0, &ulOut, &pOut));
    NewArrayGuard output(pOut);
    EXPECT_EQ(0u, ulOut);
    EXPECT_NE(nullptr, pOut);
}

TEST_F(SharedRoutines, ChunkedEncryptRecordsFailuresAndReturnsTheFinalAnswer)
{
    Fake().C_EncryptInit = Answer{CKR_KEY_HANDLE_INVALID};
    Fake().C_EncryptFinal = Answer{CKR_OPERATION_NOT_INITIALIZED};
    std::vector<CK_BYTE> data = Data(20000);
    CK_MECHANISM mechanism = {CKM_AES_ECB, NULL_PTR, 0};
    CK_BYTE_PTR pOut = NULL_PTR;
    CK_ULONG ulOut = 0;
    CK_RV rv = CKR_OK;
    const auto failures = RecordFailures([&] {
        rv = P11::ChunkedEncrypt(1, &mechanism, 2, data.data(), 20000, &ulOut, &pOut);
    });
    NewArrayGuard output(pOut);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, rv);
    ASSERT_EQ(3u, failures.size()); // the init and both final calls
    EXPECT_NE(std::string::npos,
              failures[0].message.find("rv = m_pFList->C_EncryptInit(hSession, pMechanism, keyHandle)"))
        << failures[0].message;
    EXPECT_NE(std::string::npos,
              failures[2].message.find("rv = m_pFList->C_EncryptFinal( hSession, pEncryptedData, &ulOutDataLen)"))
        << failures[2].message;
    EXPECT_FALSE(failures[0].fatal);
    EXPECT_EQ(4u, Fake().CallCount("C_EncryptUpdate")); // two parts: the sequence went on
}

TEST_F(SharedRoutines, SignVerifyMultiPartCutsBothPassesAlike)
{
    for (const Split& split : kSplits) {
        ResetFakeToken();
        std::vector<CK_ULONG> signParts;
        std::vector<CK_ULONG> verifyParts;
        Fake().C_SignUpdate = [&](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length) {
            signParts.push_back(length);
            return CKR_OK;
        };
        Fake().C_VerifyUpdate = [&](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length) {
            verifyParts.push_back(length);
            return CKR_OK;
        };
        std::vector<CK_BYTE> data = Data(split.dataLength);
        CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, NULL_PTR, 0};
        CK_BYTE_PTR pSignature = NULL_PTR;
        CK_ULONG ulSignature = 0;
        EXPECT_EQ(CKR_OK, P11::SignVerifyMultiPart(1, &mechanism, 2, 3, data.data(), split.dataLength,
                                                   &pSignature, ulSignature));
        NewArrayGuard signature(pSignature);
        EXPECT_EQ(split.parts, signParts) << split.dataLength;
        EXPECT_EQ(split.parts, verifyParts) << split.dataLength;
    }
}

TEST_F(SharedRoutines, SignVerifyMultiPartReturnsAFailingInitAtOnceElseTheVerifyFinal)
{
    std::vector<CK_BYTE> data = Data(100);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, NULL_PTR, 0};
    CK_BYTE_PTR pSignature = NULL_PTR;
    CK_ULONG ulSignature = 0;

    Fake().C_SignInit = Answer{CKR_KEY_TYPE_INCONSISTENT};
    CK_RV rv = CKR_OK;
    EXPECT_EQ(1u, RecordFailures([&] {
                      rv = P11::SignVerifyMultiPart(1, &mechanism, 2, 3, data.data(), 100, &pSignature,
                                                    ulSignature);
                  }).size());
    EXPECT_EQ(CKR_KEY_TYPE_INCONSISTENT, rv);
    EXPECT_EQ(nullptr, pSignature);
    EXPECT_EQ(std::vector<std::string>{"C_SignInit"}, Fake().calls);

    ResetFakeToken();
    Fake().C_SignUpdate = Answer{CKR_DEVICE_ERROR};
    Fake().C_VerifyFinal = Answer{CKR_SIGNATURE_INVALID};
    EXPECT_EQ(2u, RecordFailures([&] {
                      rv = P11::SignVerifyMultiPart(1, &mechanism, 2, 3, data.data(), 100, &pSignature,
                                                    ulSignature);
                  }).size());
    NewArrayGuard signature(pSignature);
    EXPECT_EQ(CKR_SIGNATURE_INVALID, rv);
    EXPECT_EQ(2u, Fake().CallCount("C_SignFinal"));
    EXPECT_EQ(1u, Fake().CallCount("C_VerifyFinal"));
}

TEST_F(SharedRoutines, SignVerifySinglePartReturnsTheFirstFailure)
{
    const char* steps[] = {"C_SignInit", "C_Sign (length)", "C_Sign", "C_VerifyInit", "C_Verify"};
    for (int failing = 0; failing < 5; ++failing) {
        ResetFakeToken();
        const CK_RV failure = CKR_FUNCTION_FAILED + failing;
        Fake().C_SignInit = [&](CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
            return failing == 0 ? failure : CKR_OK;
        };
        Fake().C_Sign = [&](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out, CK_ULONG_PTR length) {
            if (out == NULL_PTR) {
                *length = 64;
                return failing == 1 ? failure : CKR_OK;
            }
            *length = 60;
            return failing == 2 ? failure : CKR_OK;
        };
        Fake().C_VerifyInit = [&](CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
            return failing == 3 ? failure : CKR_OK;
        };
        CK_ULONG verifiedLength = 0;
        Fake().C_Verify = [&](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG length) {
            verifiedLength = length;
            return failing == 4 ? failure : CKR_OK;
        };

        std::vector<CK_BYTE> data = Data(100);
        CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, NULL_PTR, 0};
        CK_BYTE_PTR pSignature = NULL_PTR;
        CK_ULONG ulSignature = 0;
        CK_RV rv = CKR_OK;
        const auto failures = RecordFailures([&] {
            rv = P11::SignVerifySinglePart(1, &mechanism, 2, 3, data.data(), 100, &pSignature, ulSignature);
        });
        NewArrayGuard signature(pSignature);
        EXPECT_EQ(failure, rv) << steps[failing];
        EXPECT_EQ(1u, failures.size()) << steps[failing];
        // The signature buffer exists once the length is known, and is the caller's.
        EXPECT_EQ(failing >= 2, pSignature != NULL_PTR) << steps[failing];
        EXPECT_EQ(failing >= 4 ? 1u : 0u, Fake().CallCount("C_Verify")) << steps[failing];
        if (failing == 4) {
            EXPECT_EQ(60u, verifiedLength);
        }
    }
}

TEST_F(SharedRoutines, SignatureLengthNeverExceedsTheBuffer)
{
    Fake().C_Sign = [](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out, CK_ULONG_PTR length) {
        *length = out == NULL_PTR ? 16 : 4096; // a token that reports more than it was given
        return CKR_OK;
    };
    CK_ULONG verifiedLength = 0;
    Fake().C_Verify = [&](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG length) {
        verifiedLength = length;
        return CKR_OK;
    };
    std::vector<CK_BYTE> data = Data(10);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, NULL_PTR, 0};
    CK_BYTE_PTR pSignature = NULL_PTR;
    CK_ULONG ulSignature = 0;
    EXPECT_EQ(CKR_OK, P11::SignVerifySinglePart(1, &mechanism, 2, 3, data.data(), 10, &pSignature, ulSignature));
    NewArrayGuard signature(pSignature);
    EXPECT_EQ(16u, ulSignature);
    EXPECT_EQ(16u, verifiedLength);
}

TEST_F(SharedRoutines, ChunkedOutputNeverExceedsThePieceBuffers)
{
    // Each real call reports far more than the length query did.
    Fake().C_EncryptUpdate = [](CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out,
                                CK_ULONG_PTR outLength) {
        *outLength = out == NULL_PTR ? 4 : 4096;
        return CKR_OK;
    };
    Fake().C_EncryptFinal = [](CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
        *outLength = out == NULL_PTR ? 2 : 4096;
        return CKR_OK;
    };
    std::vector<CK_BYTE> data = Data(16385);
    CK_MECHANISM mechanism = {CKM_AES_ECB, NULL_PTR, 0};
    CK_BYTE_PTR pOut = NULL_PTR;
    CK_ULONG ulOut = 0;
    EXPECT_EQ(CKR_OK, P11::ChunkedEncrypt(1, &mechanism, 2, data.data(), 16385, &ulOut, &pOut));
    NewArrayGuard output(pOut);
    EXPECT_EQ(4u + 4u + 2u, ulOut);
}

// A token whose session sees `objects` objects; FindObjects hands them out in batches.
void ObjectsOnToken(CK_ULONG objects, std::vector<CK_ULONG>& batches)
{
    auto left = std::make_shared<CK_ULONG>(objects);
    TheFakeToken().C_FindObjects = [left, &batches](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles,
                                                    CK_ULONG max, CK_ULONG_PTR count) {
        *count = std::min(max, *left);
        for (CK_ULONG i = 0; i < *count; ++i)
            handles[i] = *left - i;
        *left -= *count;
        batches.push_back(*count);
        return CKR_OK;
    };
}

TEST_F(SharedRoutines, CleanupPartitionDestroysInBatchesOfAHundred)
{
    for (const CK_ULONG objects : {250ul, 0ul}) {
        ResetFakeToken();
        std::vector<CK_ULONG> batches;
        ObjectsOnToken(objects, batches);
        std::vector<CK_OBJECT_HANDLE> destroyed;
        Fake().C_DestroyObject = [&destroyed](CK_SESSION_HANDLE, CK_OBJECT_HANDLE handle) {
            destroyed.push_back(handle);
            // A refused destroy is not looked at while others of its batch succeed.
            return handle % 2 == 1 ? static_cast<CK_RV>(CKR_ACTION_PROHIBITED) : CKR_OK;
        };
        Fake().C_FindObjectsFinal = Answer{CKR_DEVICE_ERROR};

        CK_RV rv = CKR_OK;
        EXPECT_TRUE(RecordFailures([&] { rv = P11::CleanupPartition(); }).empty());
        EXPECT_EQ(CKR_DEVICE_ERROR, rv) << "the answer of closing the search";
        if (objects == 250)
            EXPECT_EQ((std::vector<CK_ULONG>{100, 100, 50, 0}), batches);
        else
            EXPECT_EQ((std::vector<CK_ULONG>{0}), batches);
        EXPECT_EQ(objects, destroyed.size());
        EXPECT_EQ(1u, Fake().CallCount("C_FindObjectsFinal"));
    }
}

TEST_F(SharedRoutines, CleanupPartitionStopsOnAFailingSearch)
{
    // The failing search leaves the count untouched: the batch must not be destroyed again.
    int searches = 0;
    Fake().C_FindObjects = [&searches](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG,
                                       CK_ULONG_PTR count) {
        if (++searches > 1)
            return static_cast<CK_RV>(CKR_DEVICE_ERROR);
        for (CK_ULONG i = 0; i < 100; ++i)
            handles[i] = i + 1;
        *count = 100;
        return CKR_OK;
    };
    EXPECT_EQ(CKR_OK, P11::CleanupPartition());
    EXPECT_EQ(2, searches);
    EXPECT_EQ(100u, Fake().CallCount("C_DestroyObject"));

    ResetFakeToken();
    Fake().C_FindObjectsInit = Answer{CKR_SESSION_HANDLE_INVALID};
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, P11::CleanupPartition());
    EXPECT_EQ(std::vector<std::string>{"C_FindObjectsInit"}, Fake().calls);
}

// A token that keeps finding objects within one search: the cleanup ends at the first
// handle it returns a second time, records which, and still closes the search and returns
// that answer. Whether the destroys succeed does not matter.
TEST_F(SharedRoutines, CleanupPartitionEndsWhenTheTokenKeepsFindingWhatItDoesNotDestroy)
{
    const struct {
        const char* token;
        std::vector<std::vector<CK_OBJECT_HANDLE>> batches; // found by the searches in turn, the last again and again
        bool destroys;                                       // C_DestroyObject answers CKR_OK
        std::size_t searches, destroyCalls;
        const char* repeated;
    } rows[] = {
        {"the same handles, destroys refused", {{1, 2, 3}}, false, 2, 3, "0x1"},
        {"new handles each time, destroys refused", {{1, 2}, {3, 4, 5}, {6}}, false, 4, 6, "0x6"},
        {"the same handles, destroys answered CKR_OK", {{1, 2, 3}}, true, 2, 3, "0x1"},
        {"two batches by turns, destroys answered CKR_OK", {{1, 2}, {3, 4}, {1, 2}}, true, 3, 4, "0x1"},
        {"some handles new, destroys answered CKR_OK", {{1, 2}, {2, 3}, {3}}, true, 2, 2, "0x2"},
        {"a handle twice in one batch", {{0xAB, 0xCD, 0xAB, 0xEF}}, true, 1, 2, "0xAB"},
        // The stand-in's undeletable-objects fault: each batch ends in the same handles.
        {"the same handles after a real object", {{5, 0x7FFF0000, 0x7FFF0001}, {0x7FFF0000, 0x7FFF0001}},
         false, 2, 3, "0x7FFF0000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.token);
        ResetFakeToken();
        std::size_t searches = 0;
        Fake().C_FindObjects = [&](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG, CK_ULONG_PTR count) {
            const auto& batch = row.batches[std::min(searches++, row.batches.size() - 1)];
            std::copy(batch.begin(), batch.end(), handles);
            *count = batch.size();
            return CKR_OK;
        };
        Fake().C_DestroyObject = Answer{row.destroys ? CKR_OK : CKR_ACTION_PROHIBITED};
        Fake().C_FindObjectsFinal = Answer{CKR_SESSION_CLOSED};

        CK_RV rv = CKR_OK;
        const auto failures = RecordFailures([&] { rv = P11::CleanupPartition(); });
        EXPECT_EQ(CKR_SESSION_CLOSED, rv);
        ASSERT_EQ(1U, failures.size());
        EXPECT_FALSE(failures[0].fatal);
        const std::string named = std::string("the token keeps returning the same objects: handle ") +
                                  row.repeated + " came twice in one search";
        EXPECT_NE(std::string::npos, failures[0].message.find(named)) << failures[0].message;
        EXPECT_EQ(row.searches, searches);
        EXPECT_EQ(row.destroyCalls, Fake().CallCount("C_DestroyObject"));
        EXPECT_EQ(1U, Fake().CallCount("C_FindObjectsFinal"));
    }
}

// A search that never ends, with a new handle each time: the cleanup gives up far above
// any real partition, records why and closes the search.
TEST_F(SharedRoutines, CleanupPartitionEndsASearchThatDoesNotEnd)
{
    CK_OBJECT_HANDLE next = 1;
    std::size_t searches = 0;
    Fake().C_FindObjects = [&](CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max, CK_ULONG_PTR count) {
        ++searches;
        for (CK_ULONG i = 0; i < max; ++i)
            handles[i] = next++;
        *count = max;
        return CKR_OK;
    };
    std::size_t destroys = 0;
    Fake().C_DestroyObject = [&destroys](CK_SESSION_HANDLE, CK_OBJECT_HANDLE) {
        ++destroys;
        return CKR_OK;
    };
    CK_RV rv = CKR_GENERAL_ERROR;
    const auto failures = RecordFailures([&] { rv = P11::CleanupPartition(); });
    EXPECT_EQ(CKR_OK, rv);
    ASSERT_EQ(1U, failures.size());
    EXPECT_NE(std::string::npos,
              failures[0].message.find("the token keeps returning objects: its search did not end after 1000000 handles"))
        << failures[0].message;
    EXPECT_EQ(10001u, searches);
    EXPECT_EQ(1000100u, destroys);
    EXPECT_EQ(1U, Fake().CallCount("C_FindObjectsFinal"));
}

// Objects that may not be destroyed, found once as a standard token finds them: the
// cleanup tries each, ends at the empty search and records nothing.
TEST_F(SharedRoutines, CleanupPartitionLeavesWhatMayNotBeDestroyedWithoutAFailure)
{
    std::vector<CK_ULONG> batches;
    ObjectsOnToken(3, batches);
    Fake().C_DestroyObject = Answer{CKR_ACTION_PROHIBITED};
    EXPECT_TRUE(RecordFailures([] { EXPECT_EQ(CKR_OK, P11::CleanupPartition()); }).empty());
    EXPECT_EQ((std::vector<CK_ULONG>{3, 0}), batches);
    EXPECT_EQ(3u, Fake().CallCount("C_DestroyObject"));
}

// More objects that may not be destroyed than one batch holds, so that batch after batch
// none is destroyed: still no failure, and the search ends at the empty batch.
TEST_F(SharedRoutines, CleanupPartitionLeavesManyObjectsThatMayNotBeDestroyedWithoutAFailure)
{
    const struct {
        CK_ULONG objects;
        std::vector<CK_ULONG> batches;
    } rows[] = {
        {101, {100, 1, 0}},
        {250, {100, 100, 50, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.objects);
        ResetFakeToken();
        std::vector<CK_ULONG> batches;
        ObjectsOnToken(row.objects, batches);
        Fake().C_DestroyObject = Answer{CKR_ACTION_PROHIBITED};
        EXPECT_TRUE(RecordFailures([] { EXPECT_EQ(CKR_OK, P11::CleanupPartition()); }).empty());
        EXPECT_EQ(row.batches, batches);
        EXPECT_EQ(row.objects, Fake().CallCount("C_DestroyObject"));
    }
}

TEST_F(SharedRoutines, DigestDataReturnsOkAndRecordsARefusedMechanism)
{
    Fake().C_DigestInit = Answer{CKR_MECHANISM_INVALID};
    // Both digest calls fail without writing the length.
    Fake().C_Digest = Answer{CKR_OPERATION_NOT_INITIALIZED};
    std::vector<CK_BYTE> data = Data(10);
    CK_BYTE_PTR pDigest = NULL_PTR;
    CK_ULONG ulDigest = 5;
    CK_RV rv = CKR_GENERAL_ERROR;
    const auto failures =
        RecordFailures([&] { rv = P11::DigestData(CKM_SHA224, data.data(), 10, &pDigest, &ulDigest); });
    NewArrayGuard digest(pDigest);
    EXPECT_EQ(CKR_OK, rv);
    ASSERT_EQ(3u, failures.size());
    EXPECT_NE(std::string::npos,
              failures[1].message.find("rv = m_pFList->C_Digest(m_hSession, pInData, pulInSize, nullptr, pulOutSize)"))
        << failures[1].message;
    EXPECT_EQ(static_cast<CK_MECHANISM_TYPE>(CKM_SHA224), P11::m_mechanism.mechanism);
    EXPECT_EQ(0u, ulDigest);
    EXPECT_NE(nullptr, pDigest) << "the real call gets a buffer, even of length 0";
}

TEST_F(SharedRoutines, DeriveECOffersThePointOfThePublicKey)
{
    const CK_BYTE point[] = {0x04, 0x01, 0x02, 0x03};
    Fake().C_GetAttributeValue = [&point](CK_SESSION_HANDLE, CK_OBJECT_HANDLE object,
                                          CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        EXPECT_EQ(21u, object);
        EXPECT_EQ(1u, count);
        EXPECT_EQ(static_cast<CK_ATTRIBUTE_TYPE>(CKA_EC_POINT), attributes[0].type);
        if (attributes[0].pValue != NULL_PTR)
            std::memcpy(attributes[0].pValue, point, sizeof(point));
        attributes[0].ulValueLen = sizeof(point);
        return CKR_OK;
    };
    Fake().C_DeriveKey = [&point](CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE base,
                                  CK_ATTRIBUTE_PTR, CK_ULONG count, CK_OBJECT_HANDLE_PTR key) {
        EXPECT_EQ(22u, base);
        EXPECT_EQ(14u, count);
        EXPECT_EQ(static_cast<CK_MECHANISM_TYPE>(CKM_ECDH1_DERIVE), mechanism->mechanism);
        const auto* parameters = static_cast<CK_ECDH1_DERIVE_PARAMS*>(mechanism->pParameter);
        EXPECT_EQ(static_cast<CK_EC_KDF_TYPE>(CKD_SHA256_KDF), parameters->kdf);
        EXPECT_EQ(3u, parameters->ulSharedDataLen);
        EXPECT_EQ(sizeof(point), parameters->ulPublicDataLen);
        EXPECT_EQ(0, std::memcmp(point, parameters->pPublicData, sizeof(point)));
        *key = 77;
        return CKR_OK;
    };
    CK_BYTE shared[] = {1, 2, 3};
    CK_OBJECT_HANDLE newKey = 0;
    EXPECT_EQ(CKR_OK, P11::DeriveEC(1, 21, 22, shared, sizeof(shared), newKey));
    EXPECT_EQ(77u, newKey);

    ResetFakeToken();
    Fake().C_GetAttributeValue = Answer{CKR_ATTRIBUTE_TYPE_INVALID};
    CK_RV rv = CKR_OK;
    EXPECT_EQ(1u, RecordFailures([&] { rv = P11::DeriveEC(1, 21, 22, shared, sizeof(shared), newKey); }).size());
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, rv);
    EXPECT_EQ(0u, Fake().CallCount("C_DeriveKey"));

    // A length that came back but a value that did not: nothing is derived from the
    // unfilled buffer.
    ResetFakeToken();
    Fake().C_GetAttributeValue = [](CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG) {
        if (attributes[0].pValue != NULL_PTR)
            return static_cast<CK_RV>(CKR_DEVICE_ERROR);
        attributes[0].ulValueLen = 65;
        return static_cast<CK_RV>(CKR_OK);
    };
    EXPECT_EQ(1u, RecordFailures([&] { rv = P11::DeriveEC(1, 21, 22, shared, sizeof(shared), newKey); }).size());
    EXPECT_EQ(CKR_DEVICE_ERROR, rv);
    EXPECT_EQ(0u, Fake().CallCount("C_DeriveKey"));
}

TEST_F(SharedRoutines, RoutinesWithoutAFunctionListCallNothing)
{
    P11::m_pFList = NULL_PTR;
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, NULL_PTR, 0};
    CK_BYTE data[4] = {};
    CK_BYTE_PTR pOut = NULL_PTR;
    CK_ULONG ulOut = 0;
    CK_OBJECT_HANDLE key = 0;
    CK_ATTRIBUTE attribute = {CKA_VALUE, NULL_PTR, 0};
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::CleanupPartition());
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::DigestData(CKM_SHA_1, data, 4, &pOut, &ulOut));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::ChunkedEncrypt(1, &mechanism, 2, data, 4, &ulOut, &pOut));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::ChunkedDecrypt(1, &mechanism, 2, data, 4, &ulOut, &pOut));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::SignVerifySinglePart(1, &mechanism, 2, 3, data, 4, &pOut, ulOut));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::SignVerifyMultiPart(1, &mechanism, 2, 3, data, 4, &pOut, ulOut));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::DeriveEC(1, 2, 3, data, 4, key));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, P11::GetAttributeValuesWithAllocation(1, 2, &attribute, 1));
    EXPECT_EQ(nullptr, pOut);
    EXPECT_TRUE(Fake().calls.empty());
}

} // namespace
