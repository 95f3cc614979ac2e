// Random numbers from the token's generator, and seed material fed to it.
#include "e_zorvel_internal.h"
#include "e_zorvel_pkey.h"

namespace {

enum class count_check { refused, nothing_to_do, go_on };

// A count of bytes for the token: a negative one never reaches it, and 0 needs no call.
count_check check_count(int function, const char *text, const char *what, int num)
{
    if (num < 0) {
        ZORVEL_REPORT_TEXT(function, ZORVEL_R_INVALID_VALUE, text);
        zorvel_log(LOG_ERR, "%s, invalid length %i", what, num);
        return count_check::refused;
    }
    return num == 0 ? count_check::nothing_to_do : count_check::go_on;
}

int zorvel_rand(unsigned char *buf, int num)
{
    zorvel_log(LOG_DEBUG, "rand, num: %i", num);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    count_check count = check_count(ZORVEL_F_RAND, "C_GenerateRandom, negative length", "rand", num);
    if (count != count_check::go_on)
        return count == count_check::nothing_to_do;
    zorvel_enter_mutex();
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pFunctionList->C_GenerateRandom(ctx->session, buf, static_cast<CK_ULONG>(num));
    zorvel_token_leave();
    zorvel_leave_mutex();
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_F_RAND, ZORVEL_R_PKCS11_ERROR, "C_GenerateRandom=0x", rv);
        zorvel_log(LOG_ERR, "rand, error: 0x%08X", static_cast<unsigned>(rv));
        return 0;
    }
    return 1;
}

int zorvel_seed(const void *buf, int num)
{
    zorvel_log(LOG_DEBUG, "seed, num: %i", num);
    zorvel_ctx *ctx = zorvel_get_ctx();
    if (ctx == nullptr)
        return 0;
    count_check count = check_count(ZORVEL_F_SEED, "C_SeedRandom, negative length", "seed", num);
    if (count != count_check::go_on)
        return count == count_check::nothing_to_do;
    // The token takes a non-const buffer: hand it a copy.
    unsigned char *copy = static_cast<unsigned char *>(OPENSSL_memdup(buf, static_cast<size_t>(num)));
    if (copy == nullptr) {
        ERR_ZORVEL_error(ZORVEL_F_SEED, ZORVEL_R_OUT_OF_MEMORY, __LINE__);
        zorvel_log(LOG_ERR, "seed, out of mem");
        return 0;
    }
    zorvel_enter_mutex();
    zorvel_token_enter();
    CK_RV rv = zorvel_p11.pFunctionList->C_SeedRandom(ctx->session, copy, static_cast<CK_ULONG>(num));
    zorvel_token_leave();
    zorvel_leave_mutex();
    OPENSSL_clear_free(copy, static_cast<size_t>(num));
    if (rv != CKR_OK) {
        ZORVEL_REPORT_VALUE(ZORVEL_F_SEED, ZORVEL_R_PKCS11_ERROR, "C_SeedRandom=0x", rv);
        zorvel_log(LOG_ERR, "seed, seed error: 0x%08X", static_cast<unsigned>(rv));
        return 0;
    }
    return 1;
}

// The entropy estimate is not used: the bytes go to the token as seed.
int zorvel_rand_add(const void *buf, int num, double)
{
    zorvel_log(LOG_DEBUG, "rand add, num: %i", num);
    return zorvel_seed(buf, num);
}

int zorvel_rand_status()
{
    zorvel_log(LOG_DEBUG, "status");
    return 1;
}

} // namespace

RAND_METHOD zorvel_random = {zorvel_seed, zorvel_rand, nullptr, zorvel_rand_add, zorvel_rand, zorvel_rand_status};

int zorvel_bind_random(ENGINE *e)
{
    return ENGINE_set_RAND(e, &zorvel_random);
}
