// The digests the engine knows, with their PKCS#11 and OpenSSL codes.
#pragma once

#include <cstddef>

#include <pkcs11.h>

struct zorvel_hash_info {
    int nid;                          // OpenSSL NID of the digest
    const char *name;                 // name in control strings ("sha256")
    size_t size;                      // digest length in bytes
    CK_MECHANISM_TYPE digest;         // CKM_SHA256: digests, PSS hashAlg
    CK_MECHANISM_TYPE hmac;           // CKM_SHA256_HMAC: OAEP hashAlg
    CK_RSA_PKCS_MGF_TYPE mgf1;        // CKG_MGF1_SHA256; 0 when PKCS#11 has no MGF1 for it
    CK_MECHANISM_TYPE pkcs1Sign;      // CKM_SHA256_RSA_PKCS: PKCS#1 v1.5 hash-and-sign
};

// Each returns the table row, or nullptr when the digest is not one of the six.
const zorvel_hash_info *zorvel_hash_by_nid(int nid);
const zorvel_hash_info *zorvel_hash_by_name(const char *name);
const zorvel_hash_info *zorvel_hash_by_hmac(CK_MECHANISM_TYPE hmac);
const zorvel_hash_info *zorvel_hash_by_mgf1(CK_RSA_PKCS_MGF_TYPE mgf1);
const zorvel_hash_info *zorvel_hash_by_pkcs1_sign(CK_MECHANISM_TYPE mechanism);
