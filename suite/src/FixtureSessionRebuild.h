// For tests that close every session of the slot, the fixture session among them.
#pragma once

#include "libC_GTest_Fixture.h"

// Opens the fixture session again and logs the user in when it goes out of scope, so that
// the later tests of the case find a logged-in session however the test ends. Results
// are ignored: a failed rebuild shows at the next test's first call on m_hSession.
class FixtureSessionRebuild {
public:
    FixtureSessionRebuild() = default;
    ~FixtureSessionRebuild()
    {
        libC_GTest_P11::OpenSession(); // also closes the old, already closed handle
        libC_GTest_P11::LogonUser();
    }
    FixtureSessionRebuild(const FixtureSessionRebuild&) = delete;
    FixtureSessionRebuild& operator=(const FixtureSessionRebuild&) = delete;
};
