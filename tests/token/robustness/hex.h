// Hexadecimal text of bytes and numbers, both ways.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_HEX_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_HEX_H

#include "case_model.h"

#include <string>

namespace zorvel::robustness {

Bytes fromHex(const char *text);
// The bytes in hex; longer ones as their first and last bytes around "..".
std::string toHex(const Bytes &bytes);
// 0x... of a number.
std::string hexNumber(unsigned long value);

}  // namespace zorvel::robustness

#endif
