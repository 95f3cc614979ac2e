// The routines that run a whole PKCS#11 operation sequence for the test bodies. Each token
// step is a non-fatal check, so a failing step is recorded against the running test.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "DerivedKeyTemplate.h"
#include "libC_GTest_Fixture.h"

namespace {

// A zeroed new[] buffer. Never null, also for length 0, so that a "real" call with a
// zero-length result is not taken for a length query.
CK_BYTE_PTR NewZeroedBuffer(CK_ULONG length)
{
    return new CK_BYTE[length]();
}

// Collects the output pieces of a multi-part operation and hands them out as one buffer.
class PieceCollector {
public:
    // A fresh zeroed buffer for the next piece; it stays owned here.
    CK_BYTE_PTR NewPiece(CK_ULONG length)
    {
        m_piece.reset(NewZeroedBuffer(length));
        m_pieceSize = length;
        return m_piece.get();
    }

    // Appends what the call reported of the current piece, never more than its buffer.
    void Keep(CK_ULONG reported)
    {
        const CK_ULONG length = std::min(reported, m_pieceSize);
        m_output.insert(m_output.end(), m_piece.get(), m_piece.get() + length);
        m_piece.reset();
        m_pieceSize = 0;
    }

    void HandOut(CK_ULONG_PTR pulLength, CK_BYTE_PTR* ppData)
    {
        *pulLength = m_output.size();
        *ppData = NewZeroedBuffer(m_output.size());
        std::copy(m_output.begin(), m_output.end(), *ppData);
    }

private:
    std::vector<CK_BYTE> m_output;
    std::unique_ptr<CK_BYTE[]> m_piece;
    CK_ULONG m_pieceSize = 0;
};

struct MallocFree {
    void operator()(void* p) const { std::free(p); }
};

// One line on standard error for a data file that cannot be read, once per path: many
// tests read the file, and each fails at its own check.
void ReportUnreadableDataFile(const char* path, const std::string& reason)
{
    static std::set<std::string> reported;
    if (reported.insert(path).second)
        std::fprintf(stderr, "p11suite: cannot read the data file %s: %s\n", path, reason.c_str());
}

} // namespace

CK_RV ReadBinaryFile(CK_BYTE_PTR* ppData, CK_ULONG* pulDataLength, const char* path)
{
    if (path == nullptr)
        return CKR_DATA_INVALID;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ReportUnreadableDataFile(path, std::strerror(errno));
        return CKR_DATA_INVALID;
    }

    CK_RV rv = CKR_DATA_INVALID;
    std::string reason;
    struct stat status;
    if (fstat(fd, &status) != 0)
        reason = std::strerror(errno);
    else if (S_ISDIR(status.st_mode))
        reason = std::strerror(EISDIR);
    else if (!S_ISREG(status.st_mode))
        reason = "not a regular file";
    else if (status.st_size == 0)
        reason = "the file is empty";
    else {
        const size_t size = static_cast<size_t>(status.st_size);
        std::unique_ptr<CK_BYTE[]> data(new (std::nothrow) CK_BYTE[size]);
        if (!data)
            reason = std::strerror(ENOMEM);
        // Read until the size is filled or the file ends; a file that shrank reports what
        // was actually read.
        size_t filled = 0;
        while (reason.empty() && filled < size) {
            const ssize_t count = read(fd, data.get() + filled, size - filled);
            if (count > 0)
                filled += static_cast<size_t>(count);
            else if (count == 0)
                break;
            else if (errno != EINTR)
                reason = std::strerror(errno);
        }
        if (reason.empty() && filled == 0)
            reason = "the file is empty";
        if (reason.empty()) {
            *ppData = data.release();
            *pulDataLength = filled;
            rv = CKR_OK;
        }
    }
    close(fd);
    if (rv != CKR_OK)
        ReportUnreadableDataFile(path, reason);
    return rv;
}

CK_RV libC_GTest_P11::CleanupPartition()
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;

    CK_ULONG count = 0;
    CK_RV rv = m_pFList->C_FindObjectsInit(m_hSession, NULL_PTR, 0);
    if (rv != CKR_OK)
        return rv;

    CK_OBJECT_HANDLE handles[100];
    const CK_ULONG capacity = sizeof(handles) / sizeof(handles[0]);
    // The count is reset before each search so that a failing search cannot repeat the
    // previous batch. In one search a standard token returns each object once, also one
    // that may not be destroyed (CKA_DESTROYABLE false), so any number of those ends at
    // the empty batch. Only a token that misbehaves keeps the search going: one that
    // returns a handle twice, or one whose search does not end, far above any real
    // partition. Either ends the search, and the test fails.
    const std::size_t handleBound = 1000000;
    std::unordered_set<CK_OBJECT_HANDLE> found;
    for (;;) {
        count = 0;
        if (m_pFList->C_FindObjects(m_hSession, handles, capacity, &count) != CKR_OK || count == 0)
            break;
        count = std::min(count, capacity);
        CK_ULONG i = 0;
        while (i < count && found.insert(handles[i]).second)
            m_pFList->C_DestroyObject(m_hSession, handles[i++]);
        if (i < count) {
            ADD_FAILURE() << "the token keeps returning the same objects: handle 0x" << std::hex
                          << std::uppercase << handles[i] << " came twice in one search";
            break;
        }
        if (found.size() > handleBound) {
            ADD_FAILURE() << "the token keeps returning objects: its search did not end after "
                          << handleBound << " handles";
            break;
        }
    }
    return m_pFList->C_FindObjectsFinal(m_hSession);
}

CK_RV libC_GTest_P11::DigestData(CK_MECHANISM_TYPE mechanism, CK_BYTE_PTR pInData,
                                 CK_ULONG pulInSize, CK_BYTE_PTR* ppOutData,
                                 CK_ULONG* pulOutSize)
{
    *ppOutData = NULL_PTR;
    *pulOutSize = 0;
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;
    m_mechanism = {mechanism, NULL_PTR, 0};

    CK_RV rv;
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_DigestInit(m_hSession, &m_mechanism));
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_Digest(m_hSession, pInData, pulInSize, nullptr, pulOutSize));
    const CK_ULONG allocated = *pulOutSize;
    *ppOutData = NewZeroedBuffer(allocated);
    EXPECT_EQ(CKR_OK,
              rv = m_pFList->C_Digest(m_hSession, pInData, pulInSize, *ppOutData, pulOutSize));
    *pulOutSize = std::min(*pulOutSize, allocated);
    return CKR_OK;
}

// Multi-part encryption and decryption in parts of CHUNK_SIZE bytes into one new buffer;
// never returns early, returns the answer of the real final call.
#define ZORVEL_CHUNKED_CIPHER(Routine, Init, Update, Final, pInPointer, pOutPiece)              \
    CK_RV libC_GTest_P11::Routine(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,      \
                                  CK_OBJECT_HANDLE keyHandle, CK_BYTE_PTR pInData,              \
                                  CK_ULONG ulInDataLength, CK_ULONG_PTR pulOutDataLength,       \
                                  CK_BYTE_PTR* ppOutData)                                       \
    {                                                                                          \
        if (m_pFList == NULL_PTR)                                                              \
            return CKR_FUNCTION_REJECTED;                                                      \
        CK_RV rv;                                                                              \
        PieceCollector output;                                                                 \
        EXPECT_EQ(CKR_OK, rv = m_pFList->Init(hSession, pMechanism, keyHandle));               \
        CK_ULONG ulOutDataLen = 0;                                                             \
        CK_BYTE_PTR pOutPiece = NULL_PTR;                                                      \
        for (CK_ULONG ulOffset = 0; ulOffset < ulInDataLength;) {                              \
            CK_BYTE_PTR pInPointer = pInData + ulOffset;                                       \
            const CK_ULONG ulInDataLen = std::min(ulInDataLength - ulOffset, CHUNK_SIZE);      \
            ulOutDataLen = 0;                                                                  \
            EXPECT_EQ(CKR_OK,                                                                  \
                      rv = m_pFList->Update( hSession, pInPointer, ulInDataLen, nullptr, &ulOutDataLen)); \
            pOutPiece = output.NewPiece(ulOutDataLen);                                         \
            EXPECT_EQ(CKR_OK,                                                                  \
                      rv = m_pFList->Update( hSession, pInPointer, ulInDataLen, pOutPiece, &ulOutDataLen)); \
            output.Keep(ulOutDataLen);                                                         \
            ulOffset += ulInDataLen;                                                           \
        }                                                                                      \
        ulOutDataLen = 0;                                                                      \
        EXPECT_EQ(CKR_OK, rv = m_pFList->Final( hSession, nullptr, &ulOutDataLen));            \
        pOutPiece = output.NewPiece(ulOutDataLen);                                             \
        EXPECT_EQ(CKR_OK, rv = m_pFList->Final( hSession, pOutPiece, &ulOutDataLen));          \
        output.Keep(ulOutDataLen);                                                             \
        output.HandOut(pulOutDataLength, ppOutData);                                           \
        return rv;                                                                             \
    }

ZORVEL_CHUNKED_CIPHER(ChunkedEncrypt, C_EncryptInit, C_EncryptUpdate, C_EncryptFinal,
                      pPlainTextPointer, pEncryptedData)
ZORVEL_CHUNKED_CIPHER(ChunkedDecrypt, C_DecryptInit, C_DecryptUpdate, C_DecryptFinal,
                      pDataPointer, pDecryptedData)
#undef ZORVEL_CHUNKED_CIPHER

CK_RV libC_GTest_P11::SignVerifySinglePart(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism,
                                           CK_OBJECT_HANDLE privateKeyHandle,
                                           CK_OBJECT_HANDLE publicKeyHandle, CK_BYTE_PTR pData,
                                           CK_ULONG ulDataLength, CK_BYTE_PTR* pOutData,
                                           CK_ULONG& ulOutDataLength)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;

    // Returns the first answer other than CKR_OK.
    CK_RV rv;
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_SignInit(hSession, pMechanism, privateKeyHandle));
    if (rv != CKR_OK)
        return rv;
    EXPECT_EQ(CKR_OK,
              rv = m_pFList->C_Sign(hSession, pData, ulDataLength, nullptr, &ulOutDataLength));
    if (rv != CKR_OK)
        return rv;
    const CK_ULONG allocated = ulOutDataLength;
    *pOutData = NewZeroedBuffer(allocated); // the caller's from here on
    EXPECT_EQ(CKR_OK,
              rv = m_pFList->C_Sign(hSession, pData, ulDataLength, *pOutData, &ulOutDataLength));
    if (rv != CKR_OK)
        return rv;
    ulOutDataLength = std::min(ulOutDataLength, allocated);
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_VerifyInit(hSession, pMechanism, publicKeyHandle));
    if (rv != CKR_OK)
        return rv;
    EXPECT_EQ(CKR_OK,
              rv = m_pFList->C_Verify(hSession, pData, ulDataLength, *pOutData, ulOutDataLength));
    return rv;
}

CK_RV libC_GTest_P11::SignVerifyMultiPart(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism,
                                          CK_OBJECT_HANDLE privateKeyHandle,
                                          CK_OBJECT_HANDLE publicKeyHandle, CK_BYTE_PTR pData,
                                          CK_ULONG ulDataLength, CK_BYTE_PTR* pOutData,
                                          CK_ULONG& ulOutDataLength)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;

    // Only a failing C_SignInit returns early; the answer is that of C_VerifyFinal.
    CK_RV rv;
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_SignInit(hSession, pMechanism, privateKeyHandle));
    if (rv != CKR_OK)
        return rv;

    CK_ULONG ulOffset = 0;
    CK_ULONG ulDataLeft = ulDataLength;
    for (; ulDataLeft > CHUNK_SIZE; ulDataLeft -= CHUNK_SIZE, ulOffset += CHUNK_SIZE)
        EXPECT_EQ(CKR_OK, rv = m_pFList->C_SignUpdate(hSession, &pData[ulOffset], 0x4000));
    if (ulDataLeft > 0) {
        EXPECT_EQ(CKR_OK, rv = m_pFList->C_SignUpdate(hSession, &pData[ulOffset], ulDataLeft));
    }

    EXPECT_EQ(CKR_OK, rv = m_pFList->C_SignFinal(hSession, nullptr, &ulOutDataLength));
    const CK_ULONG allocated = ulOutDataLength;
    *pOutData = NewZeroedBuffer(allocated);
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_SignFinal(hSession, *pOutData, &ulOutDataLength));
    ulOutDataLength = std::min(ulOutDataLength, allocated);

    EXPECT_EQ(CKR_OK, rv = m_pFList->C_VerifyInit(hSession, pMechanism, publicKeyHandle));
    ulOffset = 0;
    ulDataLeft = ulDataLength;
    for (; ulDataLeft > CHUNK_SIZE; ulDataLeft -= CHUNK_SIZE, ulOffset += CHUNK_SIZE)
        EXPECT_EQ(CKR_OK, rv = m_pFList->C_VerifyUpdate(hSession, &pData[ulOffset], 0x4000));
    if (ulDataLeft > 0) {
        EXPECT_EQ(CKR_OK, rv = m_pFList->C_VerifyUpdate(hSession, &pData[ulOffset], ulDataLeft));
    }

    EXPECT_EQ(CKR_OK, rv = m_pFList->C_VerifyFinal(hSession, *pOutData, ulOutDataLength));
    return rv;
}

CK_RV libC_GTest_P11::DeriveEC(CK_SESSION_HANDLE sessionHandle, CK_OBJECT_HANDLE handlePublicKey,
                               CK_OBJECT_HANDLE handlePrivateKey, CK_BYTE_PTR pSharedData,
                               CK_ULONG ulSharedDataLength, CK_OBJECT_HANDLE& newKey)
{
    if (m_pFList == NULL_PTR)
        return CKR_FUNCTION_REJECTED;

    // The public key's point, read with the two-call pattern.
    CK_ATTRIBUTE attribute[] = {{CKA_EC_POINT, NULL_PTR, 0}};
    CK_RV rv;
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_GetAttributeValue( sessionHandle, handlePublicKey, attribute, sizeof(attribute) / sizeof(CK_ATTRIBUTE)));
    if (rv != CKR_OK)
        return rv;
    const CK_ULONG allocated = attribute[0].ulValueLen;
    std::unique_ptr<void, MallocFree> point(std::malloc(std::max<CK_ULONG>(allocated, 1)));
    attribute[0].pValue = point.get();
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_GetAttributeValue( sessionHandle, handlePublicKey, attribute, sizeof(attribute) / sizeof(CK_ATTRIBUTE)));
    if (rv != CKR_OK)
        return rv; // never derive from a point buffer the token did not fill
    attribute[0].ulValueLen = std::min(attribute[0].ulValueLen, allocated);

    CK_ECDH1_DERIVE_PARAMS parameters;
    parameters.kdf = CKD_SHA256_KDF;
    parameters.ulSharedDataLen = ulSharedDataLength;
    parameters.pSharedData = pSharedData;
    parameters.ulPublicDataLen = attribute[0].ulValueLen;
    parameters.pPublicData = static_cast<CK_BYTE_PTR>(attribute[0].pValue);
    CK_MECHANISM mechanism = {CKM_ECDH1_DERIVE, &parameters, sizeof(parameters)};

    CK_ULONG keyLength = 16;
    CK_ATTRIBUTE keyAttributes[] = DERIVED_AES_KEY_TEMPLATE(keyLength);
    EXPECT_EQ(CKR_OK, rv = m_pFList->C_DeriveKey( sessionHandle, &mechanism, handlePrivateKey, keyAttributes, sizeof(keyAttributes) / sizeof(CK_ATTRIBUTE), &newKey));
    return rv;
}
