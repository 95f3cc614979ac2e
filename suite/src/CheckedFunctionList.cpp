#include "CheckedFunctionList.h"

#include <map>

#include <gtest/gtest.h>

namespace {

// What stands in for a missing entry: its arguments are never looked at.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define ZORVEL_MISSING_ENTRY(name, parameters)                                                  \
    CK_RV Missing_##name parameters                                                            \
    {                                                                                          \
        ADD_FAILURE() << "the token library's function list has no " #name;                    \
        return CKR_FUNCTION_NOT_SUPPORTED;                                                     \
    }
ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_MISSING_ENTRY)
#undef ZORVEL_MISSING_ENTRY
#pragma GCC diagnostic pop

} // namespace

CK_FUNCTION_LIST_PTR CheckedFunctionList(CK_FUNCTION_LIST_PTR list)
{
    if (list == NULL_PTR)
        return NULL_PTR;
    // One copy per list the library handed out; the suite's lists live as long as it does.
    static std::map<CK_FUNCTION_LIST_PTR, CK_FUNCTION_LIST> copies;
    CK_FUNCTION_LIST& copy = copies[list];
    copy = *list;
#define ZORVEL_CHECK_ENTRY(name, parameters)                                                   \
    if (copy.name == NULL_PTR)                                                                 \
        copy.name = Missing_##name;
    ZORVEL_P11_STANDARD_FUNCTIONS(ZORVEL_CHECK_ENTRY)
#undef ZORVEL_CHECK_ENTRY
    return &copy;
}
