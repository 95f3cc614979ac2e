// RSA on the token: the engine's RSA method with its software fallback, the lookup of a
// key's token object, key-pair generation, the single-part token operations they share,
// and the key loaders.
#pragma once

#include "e_zorvel_internal.h"

#include <openssl/engine.h>
#include <openssl/rsa.h>

// Ex-data indices of the RSA object under which the handles of a key's private-key and
// public-key token objects are cached; -1 until the RSA method is bound.
extern int zorvel_rsa_ex;
extern int zorvel_rsa_pub_ex;

// OpenSSL's software operations, saved when the RSA method is bound: the public pair
// serves the software fallback.
typedef int (*zorvel_rsa_op_fn)(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);
extern zorvel_rsa_op_fn rsa_pub_enc;
extern zorvel_rsa_op_fn rsa_pub_dec;
extern zorvel_rsa_op_fn rsa_priv_enc;
extern zorvel_rsa_op_fn rsa_priv_dec;

// Token object handle of the key: op 1 the private-key object, any other value the
// public-key object; 0 when the token holds not exactly one matching object. Found once
// and cached on the key while the RSA method is bound; without it, searched for each time.
extern "C" CK_OBJECT_HANDLE zorvel_rsa_fetch_handle(zorvel_ctx *ctx, RSA *rsa, int op);

// The RSA method's operations: bytes written to `to` (which holds k bytes) or -1.
int zorvel_rsa_pub_enc(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);
int zorvel_rsa_pub_dec(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);
int zorvel_rsa_priv_enc(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);
int zorvel_rsa_priv_dec(int flen, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);

// Generates a key pair on the token and fills `rsa` with its public part; the private
// components are placeholders, so `rsa` is usable only through the engine. 1 or 0.
int zorvel_rsa_key_gen(RSA *rsa, int bits, BIGNUM *e, BN_GENCB *cb);

// Modulus length of the key in bytes; 0 when the key has no modulus.
int zorvel_rsa_modulus_len(const RSA *rsa);

// One single-part token operation: its Init and the call that completes it.
enum zorvel_token_op_kind { ZORVEL_TOKEN_ENCRYPT, ZORVEL_TOKEN_DECRYPT, ZORVEL_TOKEN_SIGN };

// Which call of zorvel_token_op failed.
enum zorvel_token_op_step { ZORVEL_STEP_NONE, ZORVEL_STEP_INIT, ZORVEL_STEP_OPERATION };

// Runs the Init and the call that completes it in one hold of the engine lock, so that no
// other thread's operation meets this one on the shared session. `*outLen` is the capacity
// of `out` on entry and the output length on return. When the token needs more room than
// `out` has, the operation is completed into a scratch buffer, so that nothing stays active
// on the session, and CKR_BUFFER_TOO_SMALL is returned. `*failedStep` tells which call the
// returned value came from.
CK_RV zorvel_token_op(zorvel_token_op_kind kind, CK_SESSION_HANDLE session, CK_MECHANISM *mechanism,
                      CK_OBJECT_HANDLE key, const unsigned char *in, CK_ULONG inLen, unsigned char *out,
                      CK_ULONG *outLen, zorvel_token_op_step *failedStep);

// Where the pass phrase of an encrypted PEM key comes from: the caller's UI method and its
// data. Without a UI method the pass phrase is refused; the engine never prompts by itself.
struct zorvel_pass_source {
    UI_METHOD *ui_method;
    void *callback_data;
    const char *path;
};

// The readers behind the loaders: the key as OpenSSL reads it, or NULL.
EVP_PKEY *zorvel_read_private_key(const char *path, const zorvel_pass_source *pass);
EVP_PKEY *zorvel_read_public_key(const char *path, const zorvel_pass_source *pass);

// ENGINE key loaders: the key id is the path of a PEM, base64 DER or DER key file. RSA keys
// come back as legacy keys bound to the engine.
EVP_PKEY *zorvel_load_private_key(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data);
EVP_PKEY *zorvel_load_public_key(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data);
