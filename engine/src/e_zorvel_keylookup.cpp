// Finding the token object of an OpenSSL RSA key by its modulus and public exponent.
#include "e_zorvel_rsa.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstdint>

int zorvel_rsa_ex = -1;
int zorvel_rsa_pub_ex = -1;

namespace {

const CK_ULONG kFindBatch = 100;

// The big-endian bytes of a BIGNUM, as the token stores CKA_MODULUS and CKA_PUBLIC_EXPONENT.
struct bn_bytes {
    unsigned char *data = nullptr;
    CK_ULONG len = 0;
    ~bn_bytes() { OPENSSL_free(data); }
    bool set(const BIGNUM *bn)
    {
        len = static_cast<CK_ULONG>(BN_num_bytes(bn));
        data = static_cast<unsigned char *>(OPENSSL_malloc(len > 0 ? len : 1));
        if (data == nullptr)
            return false;
        BN_bn2bin(bn, data);
        return true;
    }
};

// The private-key and the public-key object are cached apart: a public-key operation
// must never run on the private-key object that an earlier private operation found.
int cache_index(int op)
{
    return op == 1 ? zorvel_rsa_ex : zorvel_rsa_pub_ex;
}

CK_OBJECT_HANDLE cached_handle(RSA *rsa, int op)
{
    const int index = cache_index(op);
    if (index == -1)
        return 0;
    return static_cast<CK_OBJECT_HANDLE>(reinterpret_cast<uintptr_t>(RSA_get_ex_data(rsa, index)));
}

// Counts the objects matching the template; `*first` gets the first handle of the last
// batch. An opened search is always closed, also after a failing C_FindObjects, because an
// open search blocks every later Init on the shared session. Caller holds the engine lock.
bool find_objects(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ATTRIBUTE *tmpl, CK_ULONG count,
                  CK_ULONG *total, CK_OBJECT_HANDLE *first)
{
    zorvel_log(LOG_DEBUG, "findObjects");
    zorvel_token_enter();
    CK_RV rv = f->C_FindObjectsInit(session, tmpl, count);
    zorvel_token_leave();
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_F_FIND_OBJECT, ZORVEL_R_PKCS11_ERROR, "C_FindObjectsInit=0x", rv);
        zorvel_log(LOG_ERR, "findObjects, init error 0x%08X", static_cast<unsigned>(rv));
        return false;
    }
    CK_OBJECT_HANDLE handles[kFindBatch] = {};
    bool ok = true;
    *total = 0;
    for (;;) {
        CK_ULONG found = 0;
        zorvel_token_enter();
        rv = f->C_FindObjects(session, handles, kFindBatch, &found);
        zorvel_token_leave();
        if (rv != CKR_OK) {
            ZORVEL_REPORT_VALUE(ZORVEL_F_FIND_OBJECT, ZORVEL_R_PKCS11_ERROR, "C_FindObjects=0x", rv);
            zorvel_log(LOG_ERR, "findObjects error 0x%08X", static_cast<unsigned>(rv));
            ok = false;
            break;
        }
        if (found == 0)
            break;
        *total += found;
    }
    zorvel_token_enter();
    rv = f->C_FindObjectsFinal(session);
    zorvel_token_leave();
    if (rv != CKR_OK && ok) {
        ZORVEL_REPORT_VALUE(ZORVEL_F_FIND_OBJECT, ZORVEL_R_PKCS11_ERROR, "C_FindObjectsFinal=0x", rv);
        zorvel_log(LOG_ERR, "findObjects, final error 0x%08X", static_cast<unsigned>(rv));
        ok = false;
    }
    *first = handles[0];
    return ok;
}

} // namespace

CK_OBJECT_HANDLE zorvel_rsa_fetch_handle(zorvel_ctx *ctx, RSA *rsa, int op)
{
    zorvel_log(LOG_DEBUG, "fetch RSA handle");
    CK_FUNCTION_LIST_PTR f = zorvel_p11.pFunctionList;
    const BIGNUM *n = nullptr;
    const BIGNUM *e = nullptr;
    RSA_get0_key(rsa, &n, &e, nullptr);

    // The cache is read under the lock too: another thread may be storing into the key's
    // ex-data, which can move its storage.
    zorvel_enter_mutex();
    CK_OBJECT_HANDLE handle = cached_handle(rsa, op);
    if (handle != 0) {
        zorvel_leave_mutex();
        return handle;
    }

    zorvel_log(LOG_DEBUG, "fetch RSA handle from attributes");
    bn_bytes modulus;
    bn_bytes exponent;
    if (f == nullptr || n == nullptr || e == nullptr) {
        ZORVEL_REPORT_TEXT(ZORVEL_F_FIND_OBJECT, ZORVEL_R_INVALID_VALUE,
                           f == nullptr ? "C_FindObjectsInit, no function pointers loaded"
                                        : "RSA key without modulus or public exponent");
    } else if (!modulus.set(n) || !exponent.set(e)) {
        ZORVEL_REPORT(ZORVEL_F_FIND_OBJECT, ZORVEL_R_OUT_OF_MEMORY);
    } else {
        CK_OBJECT_CLASS keyClass = op == 1 ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        CK_ATTRIBUTE tmpl[] = {
            {CKA_CLASS, &keyClass, sizeof keyClass},
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_MODULUS, modulus.data, modulus.len},
            {CKA_PUBLIC_EXPONENT, exponent.data, exponent.len},
        };
        CK_ULONG total = 0;
        CK_OBJECT_HANDLE first = 0;
        if (find_objects(f, ctx->session, tmpl, 4, &total, &first)) {
            if (total != 1) {
                ZORVEL_REPORT_VALUE(ZORVEL_F_FIND_OBJECT, ZORVEL_R_PKCS11_ERROR,
                                    "Expected one object, but got: ", total);
                zorvel_log(LOG_ERR, "findObjects, expected '1' but got '%i", static_cast<int>(total));
            } else {
                handle = first;
                // Without the RSA method there is no cache: the handle found is still the
                // answer.
                if (handle != 0 && cache_index(op) != -1)
                    RSA_set_ex_data(rsa, cache_index(op), reinterpret_cast<void *>(static_cast<uintptr_t>(handle)));
            }
        }
    }
    zorvel_leave_mutex();
    return handle;
}
