#include "UserLogin.h"

#include <cstdio>

#include "CommandLine.h"

namespace {

enum class LoginOutcome {
    NotCalled,    // no function list
    Answered,     // the token answered, without refusing the PIN
    RefusedNow,   // the token refused the PIN at this call
    RefusedBefore // no call: the PIN was refused earlier in the run
};

LoginOutcome g_lastOutcome = LoginOutcome::NotCalled;
CK_RV g_lastAnswer = CKR_OK;
bool g_pinRefused = false;
CK_RV g_refusal = CKR_OK;

bool RefusesThePin(CK_RV rv)
{
    return rv == CKR_PIN_INCORRECT || rv == CKR_PIN_INVALID || rv == CKR_PIN_LEN_RANGE ||
           rv == CKR_PIN_EXPIRED || rv == CKR_PIN_LOCKED;
}

// The names of the answers a login may give.
const char* AnswerName(CK_RV rv)
{
#define ZORVEL_ANSWER_NAME(name)                                                               \
    case name:                                                                                 \
        return #name;
    switch (rv) {
        ZORVEL_ANSWER_NAME(CKR_OK)
        ZORVEL_ANSWER_NAME(CKR_HOST_MEMORY)
        ZORVEL_ANSWER_NAME(CKR_GENERAL_ERROR)
        ZORVEL_ANSWER_NAME(CKR_FUNCTION_FAILED)
        ZORVEL_ANSWER_NAME(CKR_ARGUMENTS_BAD)
        ZORVEL_ANSWER_NAME(CKR_DEVICE_ERROR)
        ZORVEL_ANSWER_NAME(CKR_DEVICE_MEMORY)
        ZORVEL_ANSWER_NAME(CKR_DEVICE_REMOVED)
        ZORVEL_ANSWER_NAME(CKR_FUNCTION_CANCELED)
        ZORVEL_ANSWER_NAME(CKR_FUNCTION_NOT_SUPPORTED)
        ZORVEL_ANSWER_NAME(CKR_OPERATION_NOT_INITIALIZED)
        ZORVEL_ANSWER_NAME(CKR_PIN_INCORRECT)
        ZORVEL_ANSWER_NAME(CKR_PIN_INVALID)
        ZORVEL_ANSWER_NAME(CKR_PIN_LEN_RANGE)
        ZORVEL_ANSWER_NAME(CKR_PIN_EXPIRED)
        ZORVEL_ANSWER_NAME(CKR_PIN_LOCKED)
        ZORVEL_ANSWER_NAME(CKR_SESSION_CLOSED)
        ZORVEL_ANSWER_NAME(CKR_SESSION_HANDLE_INVALID)
        ZORVEL_ANSWER_NAME(CKR_SESSION_READ_ONLY_EXISTS)
        ZORVEL_ANSWER_NAME(CKR_TOKEN_NOT_PRESENT)
        ZORVEL_ANSWER_NAME(CKR_TOKEN_NOT_RECOGNIZED)
        ZORVEL_ANSWER_NAME(CKR_USER_ALREADY_LOGGED_IN)
        ZORVEL_ANSWER_NAME(CKR_USER_PIN_NOT_INITIALIZED)
        ZORVEL_ANSWER_NAME(CKR_USER_TYPE_INVALID)
        ZORVEL_ANSWER_NAME(CKR_USER_ANOTHER_ALREADY_LOGGED_IN)
        ZORVEL_ANSWER_NAME(CKR_USER_TOO_MANY_TYPES)
        ZORVEL_ANSWER_NAME(CKR_CRYPTOKI_NOT_INITIALIZED)
        ZORVEL_ANSWER_NAME(CKR_FUNCTION_REJECTED)
    default:
        return nullptr;
    }
#undef ZORVEL_ANSWER_NAME
}

// "CKR_PIN_INCORRECT (0xA0)"; an answer without a name in the table reads "0x...".
std::string AnswerInWords(CK_RV rv)
{
    char value[32];
    std::snprintf(value, sizeof(value), "0x%lX", static_cast<unsigned long>(rv));
    const char* name = AnswerName(rv);
    return name == nullptr ? std::string(value) : std::string(name) + " (" + value + ")";
}

} // namespace

CK_RV LoginUser(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session)
{
    if (functions == NULL_PTR) {
        g_lastOutcome = LoginOutcome::NotCalled;
        return g_lastAnswer = CKR_FUNCTION_REJECTED;
    }
    if (g_pinRefused) {
        g_lastOutcome = LoginOutcome::RefusedBefore;
        return g_lastAnswer = g_refusal;
    }
    g_lastAnswer = functions->C_Login(session, CKU_USER, UserPin(), USER_PIN_LEN);
    g_lastOutcome = LoginOutcome::Answered;
    if (RefusesThePin(g_lastAnswer)) {
        g_pinRefused = true;
        g_refusal = g_lastAnswer;
        g_lastOutcome = LoginOutcome::RefusedNow;
    }
    return g_lastAnswer;
}

std::string LastLoginInWords()
{
    switch (g_lastOutcome) {
    case LoginOutcome::NotCalled:
        return "no login tried: no function list";
    case LoginOutcome::Answered:
        return "C_Login answered " + AnswerInWords(g_lastAnswer);
    case LoginOutcome::RefusedNow:
        return "the token refused the user PIN: C_Login answered " + AnswerInWords(g_lastAnswer) +
               "; no further login is tried with this PIN in this run, so that the token does "
               "not lock it";
    case LoginOutcome::RefusedBefore:
        return "no login tried: the token refused the user PIN earlier in this run with " +
               AnswerInWords(g_lastAnswer);
    }
    return std::string();
}

void ForgetRefusedUserPin()
{
    g_pinRefused = false;
    g_refusal = CKR_OK;
    g_lastOutcome = LoginOutcome::NotCalled;
    g_lastAnswer = CKR_OK;
}
