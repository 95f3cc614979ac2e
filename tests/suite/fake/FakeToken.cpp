#include "FakeToken.h"

#include <algorithm>

#include "zorvel_p11.h"

namespace {

// The list entry for a function of type CK_RV (*)(Args...): logs the call and answers
// through the hook, or with the default answer when the test set none.
template <typename Function>
struct FakeEntry;

template <typename... Args>
struct FakeEntry<CK_RV (*)(Args...)> {
    template <std::function<CK_RV(Args...)> FakeToken::*hook, const char* name>
    static CK_RV Call(Args... args)
    {
        FakeToken& fake = TheFakeToken();
        fake.calls.push_back(name);
        const std::function<CK_RV(Args...)>& answer = fake.*hook;
        return answer ? answer(args...) : fake.defaultResult;
    }
};

#define ZORVEL_FAKE_ENTRY_NAME(name, parameters) constexpr char kEntryName_##name[] = #name;
ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_FAKE_ENTRY_NAME)
#undef ZORVEL_FAKE_ENTRY_NAME

#define ZORVEL_FAKE_ENTRY(name) FakeEntry<CK_##name>::Call<&FakeToken::name, kEntryName_##name>

void Reset(FakeToken& fake)
{
    fake = FakeToken();
    fake.functionList.version = {2, 40};
#define ZORVEL_FAKE_LIST_ENTRY(name, parameters) fake.functionList.name = ZORVEL_FAKE_ENTRY(name);
    ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_FAKE_LIST_ENTRY)
#undef ZORVEL_FAKE_LIST_ENTRY
    fake.C_GetFunctionList = [&fake](CK_FUNCTION_LIST_PTR_PTR ppFunctionList) -> CK_RV {
        if (ppFunctionList == NULL_PTR)
            return CKR_ARGUMENTS_BAD;
        *ppFunctionList = &fake.functionList;
        return CKR_OK;
    };
}

} // namespace

std::size_t FakeToken::CallCount(const std::string& name) const
{
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), name));
}

FakeToken& TheFakeToken()
{
    static FakeToken instance;
    static const bool initialised = (Reset(instance), true);
    (void)initialised;
    return instance;
}

void ResetFakeToken()
{
    Reset(TheFakeToken());
}

// What the suite imports from the token library.
extern "C" {

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    return ZORVEL_FAKE_ENTRY(C_GetFunctionList)(ppFunctionList);
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return ZORVEL_FAKE_ENTRY(C_DestroyObject)(hSession, hObject);
}

void setHSM(unsigned int hsm)
{
    TheFakeToken().calls.push_back("setHSM");
    TheFakeToken().selectedHsms.push_back(hsm);
}

void provokeCommunicationFail(bool fail)
{
    if (fail)
        ++TheFakeToken().provokedFailures;
}

} // extern "C"
