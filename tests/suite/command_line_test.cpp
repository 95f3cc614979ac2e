#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

// Parses a command line (without the program name) and returns what was printed.
class CommandLineTest : public testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }

    static void Clear()
    {
        std::memset(USER_PIN, 0, sizeof(USER_PIN));
        USER_PIN_LEN = 0;
        std::free(g_DataFile);
        g_DataFile = nullptr;
    }

    std::string Parse(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "p11suite");
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        ParseCommandLine(static_cast<int>(arguments.size()), argv.data());
        return testing::internal::GetCapturedStdout();
    }

    static std::string Pin() { return std::string(USER_PIN, USER_PIN_LEN); }

    static bool ZeroBehindPin()
    {
        for (CK_ULONG i = USER_PIN_LEN; i < sizeof(USER_PIN); ++i)
            if (USER_PIN[i] != 0)
                return false;
        return true;
    }
};

TEST_F(CommandLineTest, FourCharacterPinIsEchoedAndZeroFilledBehind)
{
    EXPECT_EQ("PIN option -p with value `1234'\n", Parse({"-p", "1234"}));
    EXPECT_EQ(4u, USER_PIN_LEN);
    EXPECT_EQ("1234", Pin());
    EXPECT_TRUE(ZeroBehindPin());
}

TEST_F(CommandLineTest, EmptyPinLeavesLengthZero)
{
    EXPECT_EQ("PIN option -p with value `'\n", Parse({"--pin="}));
    EXPECT_EQ(0u, USER_PIN_LEN);
    EXPECT_TRUE(ZeroBehindPin());
}

TEST_F(CommandLineTest, PinIsCutAt256CharactersWithoutTerminator)
{
    for (const std::size_t length : {std::size_t{256}, std::size_t{300}}) {
        const std::string pin(length, 'x');
        Parse({"--pin", pin});
        EXPECT_EQ(256u, USER_PIN_LEN) << length;
        EXPECT_EQ(pin.substr(0, 256), Pin()) << length;
    }
}

TEST_F(CommandLineTest, SecondPinStartsFromAZeroedArray)
{
    Parse({"-p", "123456", "-p", "12"});
    EXPECT_EQ(2u, USER_PIN_LEN);
    EXPECT_EQ("12", Pin());
    EXPECT_TRUE(ZeroBehindPin());
}

TEST_F(CommandLineTest, DataFileOptionTakesACopyOfThePath)
{
    EXPECT_EQ("Data file option -f with value `/tmp/msg.bin'\n", Parse({"--datafile=/tmp/msg.bin"}));
    ASSERT_NE(nullptr, g_DataFile);
    EXPECT_STREQ("/tmp/msg.bin", g_DataFile);
}

TEST_F(CommandLineTest, SecondDataFileReplacesTheFirst)
{
    // The first copy is released; the sanitizer and valgrind runs see a leak otherwise.
    Parse({"-f", "first.bin", "--datafile", "second.bin"});
    EXPECT_STREQ("second.bin", g_DataFile);
}

TEST_F(CommandLineTest, LeftOverArgumentsAreEchoedEachWithABlank)
{
    const std::string output = Parse({"-f", "data.bin", "extra1", "extra2"});
    EXPECT_EQ("Data file option -f with value `data.bin'\n"
              "non-option ARGV-elements: extra1 extra2 \n",
              output);
    EXPECT_STREQ("data.bin", g_DataFile);
}

TEST_F(CommandLineTest, UnknownOptionIsIgnoredAndParsingGoesOn)
{
    testing::internal::CaptureStderr();
    const std::string output = Parse({"-x", "-p", "12", "-f"});
    const std::string complaints = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, complaints.find("invalid option")) << complaints;
    EXPECT_NE(std::string::npos, complaints.find("requires an argument")) << complaints;
    EXPECT_EQ("PIN option -p with value `12'\n", output);
    EXPECT_EQ("12", Pin());
    EXPECT_EQ(nullptr, g_DataFile);
}

TEST_F(CommandLineTest, NoOptionsTakeNothing)
{
    EXPECT_EQ("", Parse({}));
    EXPECT_EQ(0u, USER_PIN_LEN);
    EXPECT_EQ(nullptr, g_DataFile);
}

} // namespace
