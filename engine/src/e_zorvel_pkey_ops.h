// Slots of the RSA key method and the helpers its operations share.
#pragma once

#include <cstddef>

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <pkcs11.h>

#include "e_zorvel_internal.h"

int zorvel_rsa_pkey_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_copy(EVP_PKEY_CTX *dst, const EVP_PKEY_CTX *src);
void zorvel_rsa_pkey_cleanup(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_paramgen_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_paramgen(EVP_PKEY_CTX *ctx, EVP_PKEY *pkey);
int zorvel_rsa_pkey_keygen_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_keygen(EVP_PKEY_CTX *ctx, EVP_PKEY *pkey);
int zorvel_rsa_pkey_ctrl(EVP_PKEY_CTX *ctx, int type, int p1, void *p2);
int zorvel_rsa_pkey_ctrl_str(EVP_PKEY_CTX *ctx, const char *type, const char *value);

int zorvel_rsa_pkey_sign_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_sign(EVP_PKEY_CTX *ctx, unsigned char *sig, size_t *siglen, const unsigned char *tbs, size_t tbslen);
int zorvel_rsa_pkey_verify_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_verify(EVP_PKEY_CTX *ctx, const unsigned char *sig, size_t siglen, const unsigned char *tbs,
                           size_t tbslen);
int zorvel_rsa_pkey_encrypt_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_encrypt(EVP_PKEY_CTX *ctx, unsigned char *out, size_t *outlen, const unsigned char *in,
                            size_t inlen);
int zorvel_rsa_pkey_decrypt_init(EVP_PKEY_CTX *ctx);
int zorvel_rsa_pkey_decrypt(EVP_PKEY_CTX *ctx, unsigned char *out, size_t *outlen, const unsigned char *in,
                            size_t inlen);

// Signs (op 1: p the signature buffer, plen its capacity and length, q the digest) or
// verifies (op 0: p the digest, plen its length, q the signature) the DigestInfo of a
// digest with CKM_RSA_PKCS, so that the token does not hash the digest again; 1 or 0.
int zorvel_rsa_pkey_op_with_digest_info(zorvel_ctx *ctx, int op, RSA *rsa, unsigned char *p, size_t *plen,
                                        const unsigned char *q, size_t qlen);

// 1 when len suits the running operation's digest; logs the check.
int zorvel_check_data_len_for_hash(int len);
// The mechanism for the running operation's parameters, or nullptr after reporting the
// failure under the caller's function code.
CK_MECHANISM *zorvel_mechanism_from_rsa_pkey(int function);
void zorvel_mechanism_free_rsa_pkey(CK_MECHANISM *m);

// The thread's copy of the input of a direct signing, held while the token signs it.
extern "C" {
extern thread_local unsigned char *zorvel_dsig_data;
extern thread_local int zorvel_dsig_data_len;
}
