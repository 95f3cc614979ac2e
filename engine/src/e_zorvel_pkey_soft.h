// Public-key operations of the RSA key method in software, for keys without a token
// object. They read the running operation's thread-local parameters and never use the
// engine, so that they cannot come back into the key method.
#pragma once

#include <cstddef>

#include <openssl/rsa.h>

// 1 when sig is a valid signature of tbs, else 0. saltLen is the PSS salt length, or
// RSA_PSS_SALTLEN_AUTO to accept any.
int zorvel_rsa_soft_verify(const RSA *rsa, int saltLen, const unsigned char *sig, size_t siglen,
                           const unsigned char *tbs, size_t tbslen);
// Encrypts into out (RSA_size(rsa) bytes); 1 with *outlen set, else 0.
int zorvel_rsa_soft_encrypt(const RSA *rsa, unsigned char *out, size_t *outlen, const unsigned char *in,
                            size_t inlen);
