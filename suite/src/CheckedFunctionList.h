// The suite calls the token library only through checked copies of its function lists: an
// entry the library left NULL, as unfinished libraries do, answers
// CKR_FUNCTION_NOT_SUPPORTED and records a test failure naming the function, instead of
// ending the run with a call through a null pointer.
#pragma once

#include "pkcs11.h"

// The checked copy of `list` (NULL for NULL). The copy lives for the rest of the process
// and is refreshed from `list` at every call, so it follows a library that was reloaded.
CK_FUNCTION_LIST_PTR CheckedFunctionList(CK_FUNCTION_LIST_PTR list);
