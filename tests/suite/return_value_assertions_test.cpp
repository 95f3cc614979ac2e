#include <gtest/gtest.h>

#include "ReturnValueAssertions.h"

TEST(IsCkr, SucceedsWithAnEmptyMessageWhenTheValuesAgree)
{
    const testing::AssertionResult ok = IsCkrOk(CKR_OK);
    EXPECT_TRUE(ok);
    EXPECT_STREQ("", ok.message());

    const testing::AssertionResult same =
        IsCkr(CKR_SESSION_HANDLE_INVALID, CKR_SESSION_HANDLE_INVALID);
    EXPECT_TRUE(same);
    EXPECT_STREQ("", same.message());
}

TEST(IsCkr, FailureMessageDescribesTheActualValueAndItsRange)
{
    struct Row {
        CK_RV actual;
        const char* message;
    };
    const Row rows[] = {
        {0x0, "0 0x0"},
        {0x190, "400 0x190"},
        {0x7FFFFFFF, "2147483647 0x7fffffff"},
        {0x80000000, "2147483648 0x80000000 VOLTRAXIN0"},
        {0xBFFFFFFF, "3221225471 0xbfffffff VOLTRAXIN3fffffff"},
        {0xC0000000, "3221225472 0xc0000000 SYSTEM0"},
        {0x1C0000010, "7516192784 0x1c0000010 SYSTEM100000010"}, // beyond 32 bits
    };
    for (const Row& row : rows) {
        // The expected value plays no part in the message.
        const testing::AssertionResult result = IsCkr(0x100, row.actual);
        EXPECT_FALSE(result) << row.message;
        EXPECT_STREQ(row.message, result.message());
    }
    EXPECT_STREQ("7 0x7", IsCkrOk(CKR_ARGUMENTS_BAD).message());
}

TEST(hexFromChars, GivesTwoLowerCaseDigitsPerByte)
{
    char bytes[] = {0x00, static_cast<char>(0xAB), 0x7F};
    EXPECT_EQ("00ab7f", hexFromChars(bytes, 3));
    EXPECT_EQ("00ab", hexFromChars(bytes, 2));
    EXPECT_EQ("", hexFromChars(bytes, 0));
    EXPECT_EQ("", hexFromChars(bytes, -1));
}
