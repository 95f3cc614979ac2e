// A token library under the stand-in's name whose function list is empty but for
// C_GetFunctionList, as an unfinished library's may be: the suite must fail every test
// that needs a missing function, cleanly, and end its run normally.
#include "pkcs11.h"
#include "zorvel_p11.h"

namespace {

CK_FUNCTION_LIST nullEntriesList = {};

} // namespace

extern "C" {

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    if (ppFunctionList == NULL_PTR)
        return CKR_ARGUMENTS_BAD;
    nullEntriesList.version = {2, 40};
    nullEntriesList.C_GetFunctionList = C_GetFunctionList;
    *ppFunctionList = &nullEntriesList;
    return CKR_OK;
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

void setHSM(unsigned int) {}

void provokeCommunicationFail(bool) {}

} // extern "C"
