// Operation parameters of the RSA key method: one record per EVP_PKEY_CTX, set through
// numeric controls and control strings, and mirrored into the thread-local variables
// that the mechanism builder reads when an operation runs.
#pragma once

#include <cstddef>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <pkcs11.h>

struct zorvel_rsa_pkey_params {
    int mechanismType;        // padding mode: RSA_PKCS1_PADDING, _NO_, _PKCS1_OAEP_, _PKCS1_PSS_
    int hashType;             // NID of the digest signed or verified; 0 none
    CK_MECHANISM_TYPE hMAC;   // OAEP hashAlg (HMAC code); PSS hashAlg when no digest is set
    CK_RSA_PKCS_MGF_TYPE mFG; // mask generator, used as given when mFGExplicit is set
    int mFGExplicit;          // 0: MGF1 follows the digest in use
    int sLen;                 // PSS salt length or RSA_PSS_SALTLEN_DIGEST / _AUTO / _MAX
    unsigned char *seed;      // OAEP label, owned
    size_t seedLen;
    int keyLenBits;           // modulus size for key generation
    BIGNUM *pubExp;           // public exponent for key generation, owned
};

// A record with the initial values; nullptr when out of memory.
zorvel_rsa_pkey_params *zorvel_rsa_pkey_params_new();
// A deep copy (label and exponent included); nullptr when out of memory.
zorvel_rsa_pkey_params *zorvel_rsa_pkey_params_dup(const zorvel_rsa_pkey_params *src);
void zorvel_rsa_pkey_params_free(zorvel_rsa_pkey_params *p);

// Applies a numeric control to the record: 1 handled, 0 not handled or refused.
int zorvel_rsa_pkey_params_ctrl(zorvel_rsa_pkey_params *p, int type, int p1, void *p2);

// Replaces the label with the bytes that the hexadecimal text gives; "" removes it.
// Odd length, a character that is not a hex digit or no memory: 0, the record unchanged.
int zorvel_rsa_pkey_params_set_hexseed(zorvel_rsa_pkey_params *p, const char *hex);

// "digest", "max", "auto" or a decimal integer; 1 with *saltLen set, else 0.
int zorvel_parse_pss_saltlen(const char *text, int *saltLen);

// Writes the record's values into the thread-local variables below, resolving what
// depends on the operation: the MGF1 hash when none was named, and the special salt
// lengths against the modulus size (modulusBits) and the digest in use.
void zorvel_rsa_pkey_params_mirror(const zorvel_rsa_pkey_params *p, int modulusBits);
// Drops the thread's references to the record's label and exponent.
void zorvel_rsa_pkey_params_mirror_clear();

// NID of the digest that PSS hashes with: the digest set, else the one behind hMAC; 0 if none.
int zorvel_rsa_pss_digest_nid(int hashType, CK_MECHANISM_TYPE hMAC);

// The record's values as the running operation of this thread sees them.
extern "C" {
extern thread_local int zorvel_rsa_mechanismType;
extern thread_local int zorvel_rsa_hashType;
extern thread_local CK_ULONG zorvel_rsa_hMAC;
extern thread_local CK_ULONG zorvel_rsa_mFG;
extern thread_local CK_ULONG zorvel_rsa_sLen;
extern thread_local unsigned char *zorvel_rsa_seed; // points into the record, not owned
extern thread_local CK_ULONG zorvel_rsa_seedLen;
extern thread_local int zorvel_rsa_keyLenBits;
extern thread_local BIGNUM *zorvel_rsa_pubExp;      // the record's, not owned
}
