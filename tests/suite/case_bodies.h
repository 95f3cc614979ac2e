// What the case-body tests share (case_bodies_*_test.cpp): each runs test bodies of
// p11suite's cases against the fake token library, where the token answers what the
// stand-in never does. Included after the case headers and case_body_classes.h; gives
// TEST_F back its googletest meaning.
#pragma once

#include <utility>
#include <vector>

#include "FakeTokenFixture.h"

#undef TEST_F
#define TEST_F(Fixture, TestName) GTEST_TEST_F(Fixture, TestName)

using CaseBodies = FakeTokenTest;
using Destroyed = std::vector<std::pair<CK_SESSION_HANDLE, CK_OBJECT_HANDLE>>;

// Runs a suite test's body and returns the failures it recorded.
template <typename Body>
std::vector<RecordedFailure> RunBody()
{
    return RecordFailures([] { Body().TestBody(); });
}

// Every object the token creates or generates gets handle `created`; every destroy, by
// the function list or the exported function, is logged in `destroyed`.
inline void CreateAndLogDestroys(CK_OBJECT_HANDLE created, Destroyed& destroyed)
{
    FakeToken& fake = TheFakeToken();
    fake.C_CreateObject = [created](CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR object) {
        *object = created;
        return CKR_OK;
    };
    fake.C_GenerateKey = [created](CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG,
                                   CK_OBJECT_HANDLE_PTR key) {
        *key = created;
        return CKR_OK;
    };
    fake.C_DestroyObject = [&destroyed](CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
        destroyed.emplace_back(session, object);
        return CKR_OK;
    };
}
