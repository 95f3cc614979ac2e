/*
 * RSA keys for the engine tests: software keys made with plain OpenSSL, and their import
 * into the stand-in token through a session of the test's own beside the engine's.
 */
#ifndef RSA_TOKEN_KEYS_H
#define RSA_TOKEN_KEYS_H

#include "pkcs11.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <string>
#include <vector>

/* A software RSA key pair of `bits` bits (exponent 65537), a provider key. */
EVP_PKEY *make_software_rsa(int bits);

/* An RSA object holding the key's components that uses `engine`'s RSA method; with
 * `publicOnly` only n and e. */
RSA *engine_rsa_copy(ENGINE *engine, const EVP_PKEY *key, bool publicOnly);

/* The same key as an EVP_PKEY around engine_rsa_copy. */
EVP_PKEY *engine_pkey_copy(ENGINE *engine, const EVP_PKEY *key, bool publicOnly);

/* A session on the token that the engine uses, opened through the same library. */
class TokenKeys {
public:
    TokenKeys() = default;
    TokenKeys(const TokenKeys &) = delete;
    TokenKeys &operator=(const TokenKeys &) = delete;
    ~TokenKeys();

    /* Binds the library, opens a read-write session on slot 0 and logs the user in with
     * ZORVEL_TEST_USER_PIN. The engine must have initialised the library already. */
    bool open(const std::string &libraryPath);

    /* Imports the public or the private half of a software key; `extra` attributes are
     * appended to (and so override) the defaults. 0 on failure. */
    CK_OBJECT_HANDLE import_public(const EVP_PKEY *key, const std::vector<CK_ATTRIBUTE> &extra = {});
    CK_OBJECT_HANDLE import_private(const EVP_PKEY *key, const std::vector<CK_ATTRIBUTE> &extra = {});
    /* Both halves; true when both were created. */
    bool import_pair(const EVP_PKEY *key);

    /* CKA_MODULUS of an object, empty when it cannot be read. */
    std::vector<unsigned char> modulus(CK_OBJECT_HANDLE object);
    /* Number of objects of the class whose modulus is the key's and that carry the `extra`
     * attributes. */
    CK_ULONG count(const EVP_PKEY *key, CK_OBJECT_CLASS keyClass, const std::vector<CK_ATTRIBUTE> &extra = {});

    CK_FUNCTION_LIST_PTR functions() const { return f_; }
    CK_SESSION_HANDLE session() const { return session_; }

private:
    CK_OBJECT_HANDLE import(const EVP_PKEY *key, std::vector<CK_ATTRIBUTE> attrs, bool isPrivate,
                            const std::vector<CK_ATTRIBUTE> &extra);
    CK_OBJECT_HANDLE create(std::vector<CK_ATTRIBUTE> attrs, const std::vector<CK_ATTRIBUTE> &extra);

    void *library_ = nullptr;
    CK_FUNCTION_LIST_PTR f_ = nullptr;
    CK_SESSION_HANDLE session_ = 0;
};

/* A software public key (a provider key) from a modulus and exponent; NULL on failure. */
EVP_PKEY *software_public_key(const BIGNUM *n, const BIGNUM *e);

/* Big-endian bytes of a key parameter ("n", "e", "d", "rsa-factor1", ...). */
std::vector<unsigned char> key_param(const EVP_PKEY *key, const char *name);

#endif
