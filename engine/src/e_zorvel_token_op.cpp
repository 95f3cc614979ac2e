// Single-part token operations run as one unit on the shared session.
#include "e_zorvel_rsa.h"

#include <openssl/crypto.h>

namespace {

struct token_op_calls {
    CK_RV (*init)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
    CK_RV (*run)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);
};

token_op_calls calls_for(zorvel_token_op_kind kind, CK_FUNCTION_LIST_PTR f)
{
    switch (kind) {
    case ZORVEL_TOKEN_ENCRYPT:
        return {f->C_EncryptInit, f->C_Encrypt};
    case ZORVEL_TOKEN_DECRYPT:
        return {f->C_DecryptInit, f->C_Decrypt};
    case ZORVEL_TOKEN_SIGN:
        break;
    }
    return {f->C_SignInit, f->C_Sign};
}

} // namespace

CK_RV zorvel_token_op(zorvel_token_op_kind kind, CK_SESSION_HANDLE session, CK_MECHANISM *mechanism,
                      CK_OBJECT_HANDLE key, const unsigned char *in, CK_ULONG inLen, unsigned char *out,
                      CK_ULONG *outLen, zorvel_token_op_step *failedStep)
{
    *failedStep = ZORVEL_STEP_NONE;
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    if (f == nullptr) {
        *failedStep = ZORVEL_STEP_INIT;
        return CKR_GENERAL_ERROR;
    }
    const token_op_calls call = calls_for(kind, f);
    const CK_ULONG capacity = *outLen;

    zorvel_enter_mutex();
    zorvel_token_enter();
    CK_RV rv = call.init(session, mechanism, key);
    if (rv != CKR_OK) {
        zorvel_token_leave();
        zorvel_leave_mutex();
        *failedStep = ZORVEL_STEP_INIT;
        return rv;
    }
    rv = call.run(session, const_cast<CK_BYTE_PTR>(in), inLen, out, outLen);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        // The token keeps the operation active until it has delivered its output.
        const CK_ULONG scratchLen = *outLen > 0 ? *outLen : 1;
        unsigned char *scratch = static_cast<unsigned char *>(OPENSSL_malloc(scratchLen));
        if (scratch != nullptr) {
            CK_ULONG len = scratchLen;
            call.run(session, const_cast<CK_BYTE_PTR>(in), inLen, scratch, &len);
            OPENSSL_clear_free(scratch, scratchLen);
        }
        rv = CKR_BUFFER_TOO_SMALL;
        *outLen = capacity;
    }
    zorvel_token_leave();
    zorvel_leave_mutex();
    if (rv != CKR_OK)
        *failedStep = ZORVEL_STEP_OPERATION;
    return rv;
}
