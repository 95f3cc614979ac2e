// Key loading from files. The key id is the path of a PEM, base64-encoded DER or DER file;
// the token object of an RSA key is found later, by modulus and exponent, when it is used.
#include "e_zorvel_rsa.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ui.h>

#include <cstring>

namespace {

int pem_pass_phrase(char *buf, int size, int, void *u)
{
    const zorvel_pass_source *source = static_cast<const zorvel_pass_source *>(u);
    if (source == nullptr || source->ui_method == nullptr || size <= 1)
        return -1;
    UI *ui = UI_new_method(source->ui_method);
    if (ui == nullptr)
        return -1;
    int len = -1;
    char *prompt = UI_construct_prompt(ui, "pass phrase", source->path);
    UI_add_user_data(ui, source->callback_data);
    if (prompt != nullptr && UI_add_input_string(ui, prompt, UI_INPUT_FLAG_DEFAULT_PWD, buf, 0, size - 1) >= 0 &&
        UI_process(ui) == 0)
        len = static_cast<int>(strlen(buf));
    OPENSSL_free(prompt);
    UI_free(ui);
    if (len < 0)
        OPENSSL_cleanse(buf, static_cast<size_t>(size));
    return len;
}

// The readers of one kind of key: PEM with a pass-phrase callback, and DER.
struct key_readers {
    EVP_PKEY *(*pem)(BIO *, EVP_PKEY **, pem_password_cb *, void *);
    EVP_PKEY *(*der)(BIO *, EVP_PKEY **);
};

const key_readers kPrivateReaders = {PEM_read_bio_PrivateKey, d2i_PrivateKey_bio};
const key_readers kPublicReaders = {PEM_read_bio_PUBKEY, d2i_PUBKEY_bio};

// Tries PEM, base64-encoded DER and DER in turn, each from the first byte of the file. A
// file that cannot be opened ends the search at once. The errors of attempts that failed
// are dropped when a later one succeeds.
EVP_PKEY *read_key(const char *path, const key_readers &readers, const zorvel_pass_source *source)
{
    if (path == nullptr)
        return nullptr;
    ERR_set_mark();
    BIO *file = BIO_new_file(path, "r");
    if (file == nullptr) {
        ERR_clear_last_mark();
        return nullptr;
    }
    EVP_PKEY *key = readers.pem(file, nullptr, pem_pass_phrase, const_cast<zorvel_pass_source *>(source));
    BIO_free(file);

    if (key == nullptr) {
        if ((file = BIO_new_file(path, "r")) == nullptr) {
            ERR_clear_last_mark();
            return nullptr;
        }
        BIO *base64 = BIO_new(BIO_f_base64());
        if (base64 == nullptr) {
            BIO_free(file);
            ERR_clear_last_mark();
            return nullptr;
        }
        BIO *chain = BIO_push(base64, file);
        key = readers.der(chain, nullptr);
        BIO_free_all(chain);
    }
    if (key == nullptr) {
        if ((file = BIO_new_file(path, "r")) == nullptr) {
            ERR_clear_last_mark();
            return nullptr;
        }
        key = readers.der(file, nullptr);
        BIO_free(file);
    }
    if (key != nullptr)
        ERR_pop_to_mark();
    else
        ERR_clear_last_mark();
    return key;
}

BIGNUM *dup_or_null(const BIGNUM *bn, bool *ok)
{
    if (bn == nullptr)
        return nullptr;
    BIGNUM *copy = BN_dup(bn);
    if (copy == nullptr)
        *ok = false;
    return copy;
}

// A copy of the key's components in an RSA object that uses the engine's RSA method when
// the engine has one.
RSA *engine_rsa(ENGINE *e, const RSA *from)
{
    RSA *rsa = e != nullptr && ENGINE_get_RSA(e) != nullptr ? RSA_new_method(e) : RSA_new();
    if (rsa == nullptr)
        return nullptr;
    const BIGNUM *n, *pub, *d, *p, *q, *dmp1, *dmq1, *iqmp;
    RSA_get0_key(from, &n, &pub, &d);
    RSA_get0_factors(from, &p, &q);
    RSA_get0_crt_params(from, &dmp1, &dmq1, &iqmp);
    bool ok = n != nullptr && pub != nullptr;
    BIGNUM *nn = dup_or_null(n, &ok), *ne = dup_or_null(pub, &ok), *nd = dup_or_null(d, &ok);
    if (ok && RSA_set0_key(rsa, nn, ne, nd)) {
        nn = ne = nd = nullptr;
    } else {
        ok = false;
    }
    BN_free(nn);
    BN_free(ne);
    BN_clear_free(nd);
    if (ok && p != nullptr && q != nullptr) {
        BIGNUM *np = dup_or_null(p, &ok), *nq = dup_or_null(q, &ok);
        if (ok && RSA_set0_factors(rsa, np, nq))
            np = nq = nullptr;
        else
            ok = false;
        BN_clear_free(np);
        BN_clear_free(nq);
    }
    if (ok && dmp1 != nullptr && dmq1 != nullptr && iqmp != nullptr) {
        BIGNUM *n1 = dup_or_null(dmp1, &ok), *n2 = dup_or_null(dmq1, &ok), *n3 = dup_or_null(iqmp, &ok);
        if (ok && RSA_set0_crt_params(rsa, n1, n2, n3))
            n1 = n2 = n3 = nullptr;
        else
            ok = false;
        BN_clear_free(n1);
        BN_clear_free(n2);
        BN_clear_free(n3);
    }
    if (!ok) {
        RSA_free(rsa);
        return nullptr;
    }
    return rsa;
}

// OpenSSL's readers return provider keys, whose operations never reach an engine. An RSA
// key is handed back as a legacy key instead, bound to the engine, so that its operations
// run through the engine and find the token object. Other keys are returned as read.
EVP_PKEY *as_engine_key(ENGINE *e, EVP_PKEY *key)
{
    if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
        return key;
    RSA *read = EVP_PKEY_get1_RSA(key);
    EVP_PKEY_free(key);
    if (read == nullptr)
        return nullptr;
    RSA *rsa = engine_rsa(e, read);
    RSA_free(read);
    EVP_PKEY *legacy = rsa != nullptr ? EVP_PKEY_new() : nullptr;
    if (legacy == nullptr || !EVP_PKEY_assign_RSA(legacy, rsa)) {
        EVP_PKEY_free(legacy);
        RSA_free(rsa);
        return nullptr;
    }
    // With the engine's key method the key's EVP operations go to it as well. An engine
    // without one for RSA leaves the key to its RSA object's method.
    if (e != nullptr && ENGINE_get_pkey_meths(e) != nullptr) {
        ERR_set_mark();
        if (EVP_PKEY_set1_engine(legacy, e))
            ERR_clear_last_mark();
        else
            ERR_pop_to_mark();
    }
    return legacy;
}

EVP_PKEY *load_key(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data, bool isPrivate)
{
    zorvel_log(LOG_DEBUG, "%s", isPrivate ? "load private key" : "load public key");
    zorvel_log(LOG_DEBUG, "load key %s (%i)", key_id != nullptr ? key_id : "(null)", isPrivate ? 1 : 0);
    const zorvel_pass_source source = {ui_method, callback_data, key_id};
    EVP_PKEY *key = isPrivate ? zorvel_read_private_key(key_id, &source) : zorvel_read_public_key(key_id, &source);
    return as_engine_key(e, key);
}

} // namespace

EVP_PKEY *zorvel_read_private_key(const char *path, const zorvel_pass_source *pass)
{
    zorvel_log(LOG_DEBUG, "read private key %s", path != nullptr ? path : "(null)");
    return read_key(path, kPrivateReaders, pass);
}

EVP_PKEY *zorvel_read_public_key(const char *path, const zorvel_pass_source *pass)
{
    zorvel_log(LOG_DEBUG, "read public key %s", path != nullptr ? path : "(null)");
    return read_key(path, kPublicReaders, pass);
}

EVP_PKEY *zorvel_load_private_key(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data)
{
    return load_key(e, key_id, ui_method, callback_data, true);
}

EVP_PKEY *zorvel_load_public_key(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data)
{
    return load_key(e, key_id, ui_method, callback_data, false);
}

int zorvel_bind_key_loaders(ENGINE *e)
{
    return ENGINE_set_load_privkey_function(e, zorvel_load_private_key) &&
           ENGINE_set_load_pubkey_function(e, zorvel_load_public_key);
}
