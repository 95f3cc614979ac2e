#include "hex.h"

#include <cstdio>
#include <cstring>

namespace zorvel::robustness {
namespace {

constexpr std::size_t kShownBytes = 24;

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append(std::string &text, const Bytes &bytes, std::size_t from, std::size_t to) {
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = from; i < to; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
}

}  // namespace

Bytes fromHex(const char *text) {
  Bytes out;
  const std::size_t length = std::strlen(text);
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    out.push_back(static_cast<CK_BYTE>(nibble(text[i]) << 4 | nibble(text[i + 1])));
  }
  return out;
}

std::string toHex(const Bytes &bytes) {
  std::string text;
  if (bytes.size() <= kShownBytes) {
    append(text, bytes, 0, bytes.size());
  } else {
    append(text, bytes, 0, kShownBytes / 2);
    text += "..";
    append(text, bytes, bytes.size() - kShownBytes / 4, bytes.size());
  }
  return text;
}

std::string hexNumber(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lX", value);
  return text;
}

}  // namespace zorvel::robustness
