#include "ReturnValueAssertions.h"

#include <cstdio>
#include <sstream>

testing::AssertionResult IsCkr(CK_RV expected, CK_RV actual)
{
    if (expected == actual)
        return testing::AssertionSuccess();

    // The stream stays in hexadecimal once switched, for the range offset as well.
    std::ostringstream message;
    message << actual << " 0x" << std::hex << actual;
    if (actual > 0xBFFFFFFFUL)
        message << " SYSTEM" << (actual - 0xC0000000UL);
    else if (actual > 0x7FFFFFFFUL)
        message << " VOLTRAXIN" << (actual - 0x80000000UL);
    return testing::AssertionFailure() << message.str();
}

testing::AssertionResult IsCkrOk(CK_RV rv)
{
    return IsCkr(CKR_OK, rv);
}

std::string hexFromChars(char* data, int length)
{
    std::string hex;
    for (int i = 0; i < length; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof(digits), "%02x", static_cast<unsigned char>(data[i]));
        hex += digits;
    }
    return hex;
}
