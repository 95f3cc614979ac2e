// The one mechanism of the fake module (fake_module.cpp), and the test-only emulation
// built into the tests' core (test_emulation.cpp), as their tests compute them.
#ifndef ZORVEL_TESTS_TOKEN_FAKE_MECHANISM_H
#define ZORVEL_TESTS_TOKEN_FAKE_MECHANISM_H

#include "pkcs11.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zorvel::test {

// Encrypts, decrypts, signs and verifies in the fake module, with any handle as the key.
constexpr CK_MECHANISM_TYPE kFakeMechanism = CKM_VENDOR_DEFINED + 1;
// The test emulation's signature mechanism: the fake signature of the data with every
// byte inverted. Data holding kTestMacFailingByte makes it fail with CKR_DATA_INVALID.
constexpr CK_MECHANISM_TYPE kTestMacMechanism = CKM_VENDOR_DEFINED + 2;
constexpr CK_BYTE kTestMacFailingByte = 0xEE;
// With this key the test emulation signs in software and keeps nothing in the module.
constexpr CK_OBJECT_HANDLE kTestMacSoftwareKey = 0x50F7;
// The same, with a start that takes 50 ms.
constexpr CK_OBJECT_HANDLE kTestMacSlowSoftwareKey = 0x510F;

inline CK_BYTE fakeCipherByte(CK_BYTE byte, CK_OBJECT_HANDLE key) { return byte ^ static_cast<CK_BYTE>(key); }

using FakeSignature = std::array<CK_BYTE, 4>;

inline FakeSignature fakeSignature(const std::vector<CK_BYTE> &data, CK_OBJECT_HANDLE key) {
  std::uint32_t sum = static_cast<std::uint32_t>(key);
  for (const CK_BYTE byte : data) sum = sum * 31 + byte;
  return {static_cast<CK_BYTE>(sum >> 24), static_cast<CK_BYTE>(sum >> 16), static_cast<CK_BYTE>(sum >> 8),
          static_cast<CK_BYTE>(sum)};
}

inline std::vector<CK_BYTE> inverted(std::vector<CK_BYTE> data) {
  for (CK_BYTE &byte : data) byte = static_cast<CK_BYTE>(~byte);
  return data;
}

}  // namespace zorvel::test

#endif
