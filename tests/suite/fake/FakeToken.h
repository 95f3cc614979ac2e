// A fake token library for the suite's own tests: a CK_FUNCTION_LIST whose every entry
// logs its call and answers through the test's hook for it, or with a default answer.
// It also exports what the suite imports from the token library.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "pkcs11.h"

struct FakeToken {
    // One hook per entry, named after it; an empty hook answers defaultResult.
#define ZORVEL_FAKE_HOOK(name, parameters) std::function<CK_RV parameters> name;
    ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_FAKE_HOOK)
#undef ZORVEL_FAKE_HOOK

    CK_RV defaultResult = CKR_OK;
    std::vector<std::string> calls; // entry names, in call order
    std::vector<unsigned int> selectedHsms; // arguments of setHSM
    int provokedFailures = 0; // calls of provokeCommunicationFail(true)
    CK_FUNCTION_LIST functionList = {};

    std::size_t CallCount(const std::string& name) const;
};

// A hook that answers `rv` whatever it is given: fake.C_Login = Answer{CKR_PIN_INCORRECT}.
struct Answer {
    CK_RV rv;
    template <typename... Arguments>
    CK_RV operator()(Arguments...) const
    {
        return rv;
    }
};

// The process's fake; created on first use in its reset state.
FakeToken& TheFakeToken();

// Back to the start: no hooks, default answer CKR_OK, empty logs. C_GetFunctionList then
// hands out the fake's list and refuses a null pointer with CKR_ARGUMENTS_BAD.
void ResetFakeToken();
