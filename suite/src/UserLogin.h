// The user's login, the one routine through which the suite logs in with USER_PIN. A real
// token locks the user PIN after a few wrong tries, so once the token refuses the PIN
// itself, no further login is tried with it in the run: every later login fails at once
// with the first refusal's answer.
#pragma once

#include <string>

#include "pkcs11.h"

// Logs the user in on `session` with USER_PIN and returns the token's answer. Without a
// function list it returns CKR_FUNCTION_REJECTED without a call; after a refusal of the PIN
// (CKR_PIN_INCORRECT, CKR_PIN_INVALID, CKR_PIN_LEN_RANGE, CKR_PIN_EXPIRED,
// CKR_PIN_LOCKED), that refusal's answer without a call.
CK_RV LoginUser(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session);

// The last LoginUser in words, for its failure report: the answer's name and value, and
// whether the PIN was refused just now (no further login is tried) or earlier in the run.
std::string LastLoginInWords();

// Forgets a refusal, so that the next login is tried again: for tests of the suite's code.
void ForgetRefusedUserPin();
