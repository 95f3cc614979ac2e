// Unit tests of the suite's fixture code against the fake token library.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "fake/FakeToken.h"
#include "libC_GTest_Fixture.h"

// Starts every test from a reset fake and the base fixture's start state (no refused user
// PIN either), with the fake's function list in place and one slot (id 7) under test.
class FakeTokenTest : public testing::Test {
protected:
    using P11 = libC_GTest_P11;

    void SetUp() override
    {
        ResetFakeToken();
        ResetFixtureState();
        P11::m_pFList = &TheFakeToken().functionList;
        P11::m_pSlotIDs = new CK_SLOT_ID[1]{7};
        P11::m_slotsCount = 1;
    }

    void TearDown() override { ResetFixtureState(); }

    static void ResetFixtureState()
    {
        delete[] P11::m_pSlotIDs;
        P11::m_pSlotIDs = NULL_PTR;
        P11::m_slotsCount = 0;
        P11::m_pFList = NULL_PTR;
        P11::m_hSession = 0;
        P11::m_mechInfos.clear();
        ForgetRefusedUserPin();
    }

    static FakeToken& Fake() { return TheFakeToken(); }
};

// The token has slots with tokens `slots`.
inline void ListSlots(std::vector<CK_SLOT_ID> slots)
{
    TheFakeToken().C_GetSlotList = [slots](CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
        if (list != NULL_PTR)
            std::copy(slots.begin(), slots.end(), list);
        *count = slots.size();
        return CKR_OK;
    };
}

// The failures that a statement records, captured instead of reported.
struct RecordedFailure {
    bool fatal;
    std::string message;
};

inline std::vector<RecordedFailure> RecordFailures(const std::function<void()>& statement)
{
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        statement();
    }
    std::vector<RecordedFailure> failures;
    for (int i = 0; i < results.size(); ++i) {
        const testing::TestPartResult& result = results.GetTestPartResult(i);
        if (result.failed())
            failures.push_back({result.fatally_failed(), result.message()});
    }
    return failures;
}
