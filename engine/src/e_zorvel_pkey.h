// The engine's RSA key method (EVP_PKEY_METHOD), its digests and its random-number
// method: what binding registers and what the operations share.
#pragma once

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

// Binding registers these through the bind functions of e_zorvel_internal.h.

// ENGINE pkey-method selector: the RSA key method for EVP_PKEY_RSA.
int zorvel_pkey_methods(ENGINE *e, EVP_PKEY_METHOD **pmeth, const int **nids, int nid);

// ENGINE digest selector over the six token digests.
int zorvel_digests(ENGINE *e, const EVP_MD **digest, const int **nids, int nid);

// The random-number method drawing from the token.
extern RAND_METHOD zorvel_random;
