// The engine's RSA key method (EVP_PKEY_METHOD), its digests and its random-number
// method: what binding registers and what the operations share.
#pragma once

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

// Creates the key method; binding calls it before registering the selector. 1 or 0.
int zorvel_pkey_methods_create();
// OpenSSL frees the key method with the ENGINE; destroy calls this to forget it.
void zorvel_pkey_methods_forget();
// ENGINE pkey-method selector: the RSA key method for EVP_PKEY_RSA.
int zorvel_pkey_methods(ENGINE *e, EVP_PKEY_METHOD **pmeth, const int **nids, int nid);

// Creates the six token digests; binding calls it when digests are enabled. 1 or 0.
int zorvel_digests_create();
// Releases them; destroy calls it.
void zorvel_digests_free();
// ENGINE digest selector.
int zorvel_digests(ENGINE *e, const EVP_MD **digest, const int **nids, int nid);

// The random-number method drawing from the token.
extern RAND_METHOD zorvel_random;
