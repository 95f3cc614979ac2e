// googletest's boolean assertions, reporting their condition as it reads in the source.
//
// googletest 1.12 defines ASSERT_TRUE(condition) as GTEST_ASSERT_TRUE(condition), so the
// preprocessor expands the macros inside the condition before it is turned into text:
// ASSERT_TRUE(CKR_OK == rv) would report "(0UL) == rv". As plain aliases the condition
// reaches googletest's stringizing macro unexpanded, and the report reads "CKR_OK == rv".
// A condition that is itself a parameter of another macro is still expanded with it.
// The equality assertions are left alone: they report the expected constant as the
// header spells it, e.g. "(0UL)".
#pragma once

#include <gtest/gtest.h>

#undef ASSERT_TRUE
#undef ASSERT_FALSE
#undef EXPECT_TRUE
#undef EXPECT_FALSE
#define ASSERT_TRUE GTEST_ASSERT_TRUE
#define ASSERT_FALSE GTEST_ASSERT_FALSE
#define EXPECT_TRUE GTEST_EXPECT_TRUE
#define EXPECT_FALSE GTEST_EXPECT_FALSE

// ASSERT_TRUE and EXPECT_TRUE whose report gives `text` as the condition: for checks written once in a
// test-shape macro whose condition takes a macro argument, which the preprocessor would
// otherwise report expanded. Build the text with # on the argument at the outermost macro.
#define ASSERT_TRUE_WITH_TEXT(condition, text)                                                 \
    GTEST_TEST_BOOLEAN_(condition, text, false, true, GTEST_FATAL_FAILURE_)
#define EXPECT_TRUE_WITH_TEXT(condition, text)                                                 \
    GTEST_TEST_BOOLEAN_(condition, text, false, true, GTEST_NONFATAL_FAILURE_)
