#include "e_zorvel_pkey_soft.h"

#include <cstring>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "e_zorvel_buffer.h"
#include "e_zorvel_hash_table.h"
#include "e_zorvel_pkey_mech.h"
#include "e_zorvel_pkey_params.h"

namespace {

struct rsa_deleter {
    void operator()(RSA *r) const { RSA_free(r); }
};
using rsa_ptr = std::unique_ptr<RSA, rsa_deleter>;

// A key holding only n and e, bound to OpenSSL's own RSA implementation whatever
// method or engine the caller's key uses.
rsa_ptr software_public_key(const RSA *rsa)
{
    const BIGNUM *n = nullptr, *e = nullptr;
    RSA_get0_key(rsa, &n, &e, nullptr);
    if (n == nullptr || e == nullptr)
        return nullptr;
    rsa_ptr key(RSA_new());
    if (!key || !RSA_set_method(key.get(), RSA_PKCS1_OpenSSL()))
        return nullptr;
    BIGNUM *n2 = BN_dup(n), *e2 = BN_dup(e);
    if (n2 == nullptr || e2 == nullptr || !RSA_set0_key(key.get(), n2, e2, nullptr)) {
        BN_free(n2);
        BN_free(e2);
        return nullptr;
    }
    return key;
}

const EVP_MD *digest_by_nid(int nid)
{
    return nid != 0 ? EVP_get_digestbynid(nid) : nullptr;
}

const EVP_MD *mgf1_digest()
{
    const zorvel_hash_info *h = zorvel_hash_by_mgf1(zorvel_rsa_mFG);
    return h != nullptr ? digest_by_nid(h->nid) : nullptr;
}

// Opens sig with the public key; the recovered bytes go into a buffer of k bytes.
int public_decrypt(RSA *key, const unsigned char *sig, size_t siglen, unsigned char *out, int padding)
{
    if (siglen != static_cast<size_t>(RSA_size(key)))
        return -1;
    return RSA_public_decrypt(static_cast<int>(siglen), sig, out, key, padding);
}

int equal_bytes(const unsigned char *a, size_t alen, const unsigned char *b, size_t blen)
{
    return alen == blen && CRYPTO_memcmp(a, b, alen) == 0;
}

} // namespace

int zorvel_rsa_soft_verify(const RSA *rsa, int saltLen, const unsigned char *sig, size_t siglen,
                           const unsigned char *tbs, size_t tbslen)
{
    rsa_ptr key = software_public_key(rsa);
    if (!key)
        return 0;
    const size_t k = static_cast<size_t>(RSA_size(key.get()));
    if (tbslen > k)
        return 0;
    zorvel_buffer block(k);
    if (!block.ok())
        return 0;
    int n;
    switch (zorvel_rsa_mechanismType) {
    case RSA_PKCS1_PADDING:
        if (zorvel_rsa_hashType != 0)
            return RSA_verify(zorvel_rsa_hashType, tbs, static_cast<unsigned int>(tbslen), sig,
                              static_cast<unsigned int>(siglen), key.get()) == 1;
        n = public_decrypt(key.get(), sig, siglen, block.get(), RSA_PKCS1_PADDING);
        return n >= 0 && equal_bytes(block.get(), static_cast<size_t>(n), tbs, tbslen);
    case RSA_NO_PADDING: {
        // The signed value is tbs as a number: the recovered block is tbs right-aligned.
        n = public_decrypt(key.get(), sig, siglen, block.get(), RSA_NO_PADDING);
        if (n != static_cast<int>(k))
            return 0;
        size_t zeros = k - tbslen;
        for (size_t i = 0; i < zeros; ++i)
            if (block.get()[i] != 0)
                return 0;
        return equal_bytes(block.get() + zeros, tbslen, tbs, tbslen);
    }
    case RSA_PKCS1_PSS_PADDING: {
        const EVP_MD *md = digest_by_nid(zorvel_rsa_pss_digest_nid(zorvel_rsa_hashType, zorvel_rsa_hMAC));
        const EVP_MD *mgf1 = mgf1_digest();
        if (md == nullptr || mgf1 == nullptr || tbslen != static_cast<size_t>(EVP_MD_get_size(md)))
            return 0;
        n = public_decrypt(key.get(), sig, siglen, block.get(), RSA_NO_PADDING);
        return n == static_cast<int>(k) && RSA_verify_PKCS1_PSS_mgf1(key.get(), tbs, md, mgf1, block.get(), saltLen) == 1;
    }
    default:
        return 0;
    }
}

int zorvel_rsa_soft_encrypt(const RSA *rsa, unsigned char *out, size_t *outlen, const unsigned char *in,
                            size_t inlen)
{
    rsa_ptr key = software_public_key(rsa);
    if (!key)
        return 0;
    const int k = RSA_size(key.get());
    if (inlen > static_cast<size_t>(k))
        return 0;
    zorvel_buffer block(static_cast<size_t>(k));
    if (!block.ok())
        return 0;
    int n = -1;
    switch (zorvel_rsa_mechanismType) {
    case RSA_PKCS1_PADDING:
        if (zorvel_rsa_hashType != 0)
            return 0; // a hash-and-sign mechanism does not encrypt
        n = RSA_public_encrypt(static_cast<int>(inlen), in, out, key.get(), RSA_PKCS1_PADDING);
        break;
    case RSA_NO_PADDING:
        // As on the token: the input at the start of a k-byte block.
        std::memcpy(block.get(), in, inlen);
        n = RSA_public_encrypt(k, block.get(), out, key.get(), RSA_NO_PADDING);
        break;
    case RSA_PKCS1_OAEP_PADDING: {
        const zorvel_hash_info *h = zorvel_hash_by_hmac(zorvel_rsa_hMAC);
        const EVP_MD *md = h != nullptr ? digest_by_nid(h->nid) : nullptr;
        const EVP_MD *mgf1 = mgf1_digest();
        if (md == nullptr || mgf1 == nullptr)
            return 0;
        if (RSA_padding_add_PKCS1_OAEP_mgf1(block.get(), k, in, static_cast<int>(inlen), zorvel_rsa_seed,
                                            static_cast<int>(zorvel_rsa_seedLen), md, mgf1) != 1)
            return 0;
        n = RSA_public_encrypt(k, block.get(), out, key.get(), RSA_NO_PADDING);
        break;
    }
    default:
        return 0;
    }
    if (n < 0)
        return 0;
    *outlen = static_cast<size_t>(n);
    return 1;
}
