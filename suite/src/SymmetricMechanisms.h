// The mechanism records of the symmetric test cases with the suite's fixed parameters,
// and the data preparations their round trips share.
#pragma once

#include "pkcs11.h"

// The parameter records a symmetric test points libC_GTest_P11::m_mechanism at; they belong
// to the test and must live as long as it uses the mechanism.
struct SymmetricParameters {
    CK_AES_CTR_PARAMS ctr;
    CK_GCM_PARAMS gcm;
    CK_BYTE iv[12];
    CK_BYTE aad[20];
};

// Sets all three fields of libC_GTest_P11::m_mechanism for `type`: the CBC modes point at
// m_iv16 (16 bytes, also for DES3), CKM_AES_CTR at a 128-bit counter block, CKM_AES_GCM at
// a 12-byte IV, 20 bytes of AAD and a 64-bit tag, CKM_AES_GMAC at the same IV with no AAD
// and tag bits 0; every other mechanism has no parameter. The counter block, IV and AAD
// are the same bytes in every test.
void SetSymmetricMechanism(CK_MECHANISM_TYPE type, SymmetricParameters& storage);

// ECB zero padding: the smallest multiple of `unit` above `length`, so 1 to `unit` zero
// bytes are added (a length that is already a multiple gets a whole unit).
CK_ULONG ZeroPaddedLength(CK_ULONG length, CK_ULONG unit);

// A new[] buffer of ZeroPaddedLength(length, unit) bytes: the data, then zeros.
CK_BYTE_PTR NewZeroPaddedCopy(const CK_BYTE* data, CK_ULONG length, CK_ULONG unit);

// CBC cut-down: the largest multiple of `unit` that does not exceed `length` (0 for a shorter
// length; `unit` must not be 0).
CK_ULONG CutDownToUnit(CK_ULONG length, CK_ULONG unit);

// Padding units of the ECB tests.
constexpr CK_ULONG AES_ECB_PADDING_UNIT = 4096;
constexpr CK_ULONG CAMELLIA_DES3_ECB_PADDING_UNIT = 256;
