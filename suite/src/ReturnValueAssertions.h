// Predicates for checking token return values inside googletest's boolean assertions,
// e.g. ASSERT_TRUE(IsCkrOk(m_pFList->C_DigestInit(m_hSession, &m_mechanism))).
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "BooleanAssertions.h"
#include "pkcs11.h"

// Succeeds when `actual` equals `expected`. The failure message describes `actual` alone:
// its decimal and hexadecimal value, and the offset into the system range (from
// 0xC0000000) or the vendor range (from 0x80000000) when it lies in one.
testing::AssertionResult IsCkr(CK_RV expected, CK_RV actual);

// IsCkr(CKR_OK, rv).
testing::AssertionResult IsCkrOk(CK_RV rv);

// Two lower-case hexadecimal digits for each of the first `length` bytes of `data`;
// empty for a length below 1.
std::string hexFromChars(char* data, int length);
