// ReadBinaryFile, with read() wrapped at link time so that a test can cut reads short,
// interrupt them or make them fail.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "libC_GTest_Fixture.h"

namespace {

// How the wrapped read() behaves: at most `chunk` bytes a call (0: unlimited), an EINTR
// before every `interruptEvery`-th call, and a failure once `failAfter` bytes are read.
struct ReadBehaviour {
    size_t chunk = 0;
    int interruptEvery = 0;
    size_t failAfter = static_cast<size_t>(-1);
    int calls = 0;
    size_t delivered = 0;
};
ReadBehaviour g_read;

} // namespace

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count)
{
    ++g_read.calls;
    if (g_read.interruptEvery > 0 && g_read.calls % g_read.interruptEvery == 0) {
        errno = EINTR;
        return -1;
    }
    if (g_read.delivered >= g_read.failAfter) {
        errno = EIO;
        return -1;
    }
    if (g_read.chunk > 0)
        count = std::min(count, g_read.chunk);
    const ssize_t result = __real_read(fd, buffer, count);
    if (result > 0)
        g_read.delivered += static_cast<size_t>(result);
    return result;
}

namespace {

class ReadBinaryFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_read = ReadBehaviour();
        char pattern[] = "/tmp/p11suite-read-XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        m_path = pattern;
    }

    void TearDown() override { std::remove(m_path.c_str()); }

    void Write(const std::string& content) { WriteTo(m_path, content); }

    static void WriteTo(const std::string& path, const std::string& content)
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }

    // Reads the file; on success returns the content and releases the buffer.
    CK_RV Read(const char* path, std::string& content)
    {
        CK_BYTE_PTR pData = NULL_PTR;
        CK_ULONG ulDataLength = 0;
        const CK_RV rv = ReadBinaryFile(&pData, &ulDataLength, path);
        if (rv == CKR_OK)
            content.assign(reinterpret_cast<char*>(pData), ulDataLength);
        else
            EXPECT_EQ(NULL_PTR, pData);
        delete[] pData;
        return rv;
    }

    static std::string Data(size_t length)
    {
        std::string data(length, '\0');
        for (size_t i = 0; i < length; ++i)
            data[i] = static_cast<char>(i * 7 + 3);
        return data;
    }

    std::string m_path;
};

TEST_F(ReadBinaryFileTest, ReadsTheWholeFile)
{
    const std::string data = Data(40000);
    Write(data);
    std::string content;
    ASSERT_EQ(CKR_OK, Read(m_path.c_str(), content));
    EXPECT_EQ(data, content);
}

TEST_F(ReadBinaryFileTest, ReadsOnThroughShortAndInterruptedReads)
{
    const std::string data = Data(1000);
    Write(data);
    g_read.chunk = 7;
    g_read.interruptEvery = 5;
    std::string content;
    ASSERT_EQ(CKR_OK, Read(m_path.c_str(), content));
    EXPECT_EQ(data, content);
    EXPECT_GT(g_read.calls, 1000 / 7);
}

TEST_F(ReadBinaryFileTest, FailingReadGivesNoBuffer)
{
    Write(Data(1000));
    g_read.chunk = 100;
    g_read.failAfter = 300;
    std::string content;
    EXPECT_EQ(CKR_DATA_INVALID, Read(m_path.c_str(), content));
}

TEST_F(ReadBinaryFileTest, RefusesWhatIsNoDataFile)
{
    Write("");
    std::string content;
    EXPECT_EQ(CKR_DATA_INVALID, Read(m_path.c_str(), content)) << "empty file";
    EXPECT_EQ(CKR_DATA_INVALID, Read(nullptr, content)) << "no path";
    EXPECT_EQ(CKR_DATA_INVALID, Read("/nonexistent/p11suite.bin", content)) << "missing file";
    EXPECT_EQ(CKR_DATA_INVALID, Read("/tmp", content)) << "directory";
    if (geteuid() != 0) {
        Write("secret");
        chmod(m_path.c_str(), 0);
        EXPECT_EQ(CKR_DATA_INVALID, Read(m_path.c_str(), content)) << "unreadable file";
    }
}

// A data file that cannot be read draws one line naming the path and the reason, however
// often it is read (every test that needs it reads it).
TEST_F(ReadBinaryFileTest, UnreadableFileIsNamedOnceWithTheReason)
{
    char directory[] = "/tmp/p11suite-read-dir-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(directory));
    const std::string missing = std::string(directory) + "/missing.bin";
    const std::string empty = m_path;
    const std::string failing = std::string(directory) + "/failing.bin";
    const std::string locked = std::string(directory) + "/locked.bin";
    WriteTo(failing, Data(1000));
    WriteTo(locked, "secret");
    chmod(locked.c_str(), 0);

    struct Row {
        std::string path;
        const char* reason;
        size_t failAfter;
    };
    std::vector<Row> rows = {
        {missing, "No such file or directory", static_cast<size_t>(-1)},
        {directory, "Is a directory", static_cast<size_t>(-1)},
        {empty, "the file is empty", static_cast<size_t>(-1)},
        {failing, "Input/output error", 0},
    };
    if (geteuid() != 0)
        rows.push_back({locked, "Permission denied", static_cast<size_t>(-1)});
    for (const Row& row : rows) {
        g_read = ReadBehaviour();
        g_read.failAfter = row.failAfter;
        testing::internal::CaptureStderr();
        std::string content;
        EXPECT_EQ(CKR_DATA_INVALID, Read(row.path.c_str(), content)) << row.path;
        EXPECT_EQ(CKR_DATA_INVALID, Read(row.path.c_str(), content)) << row.path;
        EXPECT_EQ("p11suite: cannot read the data file " + row.path + ": " + row.reason + "\n",
                  testing::internal::GetCapturedStderr());
    }
    std::remove(failing.c_str());
    std::remove(locked.c_str());
    rmdir(directory);
}

} // namespace
