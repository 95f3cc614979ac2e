// PKCS#11 mechanisms for the RSA key method, built from the running operation's
// thread-local parameters, and the PKCS#1 v1.5 DigestInfo encoding.
#pragma once

#include <cstddef>

#include <pkcs11.h>

// Builds the mechanism (with its OAEP or PSS parameter record) for the thread's
// parameters into *out. Returns 0, or the reason code of the failure:
// ZORVEL_R_OUT_OF_MEMORY, ZORVEL_R_INVALID_HASH_LENGTH (a digest the padding mode cannot
// take) or ZORVEL_R_UNSUPPORTED_MECHANISM (a padding mode without a mechanism).
int zorvel_rsa_build_mechanism(CK_MECHANISM **out);
// Releases a built mechanism with its parameter record and label copy; nullptr is allowed.
void zorvel_rsa_release_mechanism(CK_MECHANISM *m);

// 1 when a digest of len bytes suits the digest NID hashType (any length when hashType
// is not one of the six digests), else 0.
int zorvel_rsa_digest_length_ok(int hashType, long len);

// 1 for the PKCS#1 v1.5 hash-and-sign mechanisms, which the engine serves by encoding
// the DigestInfo itself and signing it with CKM_RSA_PKCS.
int zorvel_rsa_is_digest_info_mechanism(CK_MECHANISM_TYPE type);

enum zorvel_digest_info_status {
    ZORVEL_DIGEST_INFO_OK = 0,
    ZORVEL_DIGEST_INFO_UNKNOWN_ALGORITHM, // no ASN.1 object for the NID
    ZORVEL_DIGEST_INFO_UNKNOWN_OID,       // the object has no OID
    ZORVEL_DIGEST_INFO_NO_MEMORY,
};

// DER DigestInfo {algorithm OID of nid with NULL parameter, digest} into a new buffer
// that the caller releases with OPENSSL_clear_free(*der, *derLen).
zorvel_digest_info_status zorvel_digest_info_encode(int nid, const unsigned char *digest, size_t digestLen,
                                                    unsigned char **der, size_t *derLen);
