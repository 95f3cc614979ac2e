// The RSA key method's parameter records, controls, mechanism builder and DigestInfo
// encoding, without a token.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>

#include "e_zorvel_hash_table.h"
#include "e_zorvel_internal.h"
#include "e_zorvel_pkey_mech.h"
#include "e_zorvel_pkey_params.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes from_hex(const std::string &hex)
{
    bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// gtest prints a parameter by its name instead of its bytes.
#define PRINTS_CASE_NAME(type) \
    [[maybe_unused]] void PrintTo(const type &c, std::ostream *os) { *os << c.name; }

struct params_deleter {
    void operator()(zorvel_rsa_pkey_params *p) const { zorvel_rsa_pkey_params_free(p); }
};
using params_ptr = std::unique_ptr<zorvel_rsa_pkey_params, params_deleter>;

params_ptr new_params()
{
    params_ptr p(zorvel_rsa_pkey_params_new());
    EXPECT_NE(p, nullptr);
    return p;
}

struct mechanism_deleter {
    void operator()(CK_MECHANISM *m) const { zorvel_rsa_release_mechanism(m); }
};
using mechanism_ptr = std::unique_ptr<CK_MECHANISM, mechanism_deleter>;

// Mirrors the record for a 2048-bit key and builds its mechanism.
int build(const zorvel_rsa_pkey_params *p, mechanism_ptr *out, int modulusBits = 2048)
{
    zorvel_rsa_pkey_params_mirror(p, modulusBits);
    CK_MECHANISM *m = nullptr;
    int reason = zorvel_rsa_build_mechanism(&m);
    zorvel_rsa_pkey_params_mirror_clear();
    out->reset(m);
    return reason;
}

void set_padding(zorvel_rsa_pkey_params *p, int mode)
{
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p, EVP_PKEY_CTRL_RSA_PADDING, mode, nullptr), 1);
}

void set_digest(zorvel_rsa_pkey_params *p, const EVP_MD *md)
{
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p, EVP_PKEY_CTRL_MD, 0, const_cast<EVP_MD *>(md)), 1);
}

void set_salt(zorvel_rsa_pkey_params *p, int saltLen)
{
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p, EVP_PKEY_CTRL_RSA_PSS_SALTLEN, saltLen, nullptr), 1);
}

// ---- mechanisms without a parameter ----

struct plain_case {
    const char *name;
    int mode;
    const EVP_MD *(*md)();
    CK_MECHANISM_TYPE expected;
};

PRINTS_CASE_NAME(plain_case)

class PlainMechanism : public ::testing::TestWithParam<plain_case> {};

TEST_P(PlainMechanism, BuildsTheMechanismWithoutParameter)
{
    const plain_case &c = GetParam();
    params_ptr p = new_params();
    set_padding(p.get(), c.mode);
    if (c.md != nullptr)
        set_digest(p.get(), c.md());
    mechanism_ptr m;
    ASSERT_EQ(build(p.get(), &m), 0);
    EXPECT_EQ(m->mechanism, c.expected);
    EXPECT_EQ(m->pParameter, nullptr);
    EXPECT_EQ(m->ulParameterLen, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ModeAndDigest, PlainMechanism,
    ::testing::Values(plain_case{"Pkcs1NoDigest", RSA_PKCS1_PADDING, nullptr, CKM_RSA_PKCS},
                      plain_case{"Pkcs1Md5", RSA_PKCS1_PADDING, EVP_md5, CKM_MD5_RSA_PKCS},
                      plain_case{"Pkcs1Sha1", RSA_PKCS1_PADDING, EVP_sha1, CKM_SHA1_RSA_PKCS},
                      plain_case{"Pkcs1Sha224", RSA_PKCS1_PADDING, EVP_sha224, CKM_SHA224_RSA_PKCS},
                      plain_case{"Pkcs1Sha256", RSA_PKCS1_PADDING, EVP_sha256, CKM_SHA256_RSA_PKCS},
                      plain_case{"Pkcs1Sha384", RSA_PKCS1_PADDING, EVP_sha384, CKM_SHA384_RSA_PKCS},
                      plain_case{"Pkcs1Sha512", RSA_PKCS1_PADDING, EVP_sha512, CKM_SHA512_RSA_PKCS},
                      plain_case{"RawIgnoresDigest", RSA_NO_PADDING, EVP_sha256, CKM_RSA_X_509}),
    [](const ::testing::TestParamInfo<plain_case> &info) { return std::string(info.param.name); });

TEST(PlainMechanism, DefaultRecordBuildsPkcs1)
{
    params_ptr p = new_params();
    mechanism_ptr m;
    ASSERT_EQ(build(p.get(), &m), 0);
    EXPECT_EQ(m->mechanism, CKM_RSA_PKCS);
}

// ---- refused combinations ----

struct refused_case {
    const char *name;
    int mode;
    const EVP_MD *(*md)();
    int reason;
};

PRINTS_CASE_NAME(refused_case)

class RefusedMechanism : public ::testing::TestWithParam<refused_case> {};

TEST_P(RefusedMechanism, ReportsTheReason)
{
    const refused_case &c = GetParam();
    params_ptr p = new_params();
    set_padding(p.get(), c.mode);
    if (c.md != nullptr)
        set_digest(p.get(), c.md());
    mechanism_ptr m;
    EXPECT_EQ(build(p.get(), &m), c.reason);
    EXPECT_EQ(m, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    ModeAndDigest, RefusedMechanism,
    ::testing::Values(refused_case{"Pkcs1Sha3", RSA_PKCS1_PADDING, EVP_sha3_256, ZORVEL_R_INVALID_HASH_LENGTH},
                      refused_case{"PssMd5", RSA_PKCS1_PSS_PADDING, EVP_md5, ZORVEL_R_INVALID_HASH_LENGTH},
                      refused_case{"PssSha3", RSA_PKCS1_PSS_PADDING, EVP_sha3_256, ZORVEL_R_INVALID_HASH_LENGTH},
                      refused_case{"SslV23", 2, nullptr, ZORVEL_R_UNSUPPORTED_MECHANISM},
                      refused_case{"X931", RSA_X931_PADDING, nullptr, ZORVEL_R_UNSUPPORTED_MECHANISM},
                      refused_case{"Zero", 0, nullptr, ZORVEL_R_UNSUPPORTED_MECHANISM}),
    [](const ::testing::TestParamInfo<refused_case> &info) { return std::string(info.param.name); });

// ---- OAEP ----

struct oaep_case {
    const char *name;
    std::function<void(zorvel_rsa_pkey_params *)> setup;
    CK_MECHANISM_TYPE hashAlg;
    CK_RSA_PKCS_MGF_TYPE mgf;
    std::string label; // hex; empty: no label
};

PRINTS_CASE_NAME(oaep_case)

class OaepMechanism : public ::testing::TestWithParam<oaep_case> {};

TEST_P(OaepMechanism, CarriesHmacCodedHashMgfAndLabel)
{
    const oaep_case &c = GetParam();
    params_ptr p = new_params();
    set_padding(p.get(), RSA_PKCS1_OAEP_PADDING);
    c.setup(p.get());
    mechanism_ptr m;
    ASSERT_EQ(build(p.get(), &m), 0);
    ASSERT_EQ(m->mechanism, CKM_RSA_PKCS_OAEP);
    ASSERT_EQ(m->ulParameterLen, 40u);
    const auto *oaep = static_cast<const CK_RSA_PKCS_OAEP_PARAMS *>(m->pParameter);
    EXPECT_EQ(oaep->hashAlg, c.hashAlg);
    EXPECT_EQ(oaep->mgf, c.mgf);
    const bytes label = from_hex(c.label);
    if (label.empty()) {
        EXPECT_EQ(oaep->source, 0u);
        EXPECT_EQ(oaep->pSourceData, nullptr);
        EXPECT_EQ(oaep->ulSourceDataLen, 0u);
    } else {
        EXPECT_EQ(oaep->source, CKZ_DATA_SPECIFIED);
        ASSERT_EQ(oaep->ulSourceDataLen, label.size());
        EXPECT_EQ(bytes(static_cast<unsigned char *>(oaep->pSourceData),
                        static_cast<unsigned char *>(oaep->pSourceData) + label.size()),
                  label);
        EXPECT_NE(oaep->pSourceData, p->seed) << "the mechanism carries its own copy";
    }
}

void oaep_md(zorvel_rsa_pkey_params *p, CK_MECHANISM_TYPE hmac) { p->hMAC = hmac; }

INSTANTIATE_TEST_SUITE_P(
    Settings, OaepMechanism,
    ::testing::Values(
        oaep_case{"Defaults", [](zorvel_rsa_pkey_params *) {}, CKM_SHA_1_HMAC, CKG_MGF1_SHA1, ""},
        oaep_case{"Sha256MgfFollowsDigest", [](zorvel_rsa_pkey_params *p) { oaep_md(p, CKM_SHA256_HMAC); },
                  CKM_SHA256_HMAC, CKG_MGF1_SHA256, ""},
        oaep_case{"Sha512MgfFollowsDigest", [](zorvel_rsa_pkey_params *p) { oaep_md(p, CKM_SHA512_HMAC); },
                  CKM_SHA512_HMAC, CKG_MGF1_SHA512, ""},
        oaep_case{"Sha256WithExplicitMgf1Sha1",
                  [](zorvel_rsa_pkey_params *p) {
                      oaep_md(p, CKM_SHA256_HMAC);
                      p->mFG = CKG_MGF1_SHA1;
                      p->mFGExplicit = 1;
                  },
                  CKM_SHA256_HMAC, CKG_MGF1_SHA1, ""},
        oaep_case{"Md5KeepsMgf1Sha1", [](zorvel_rsa_pkey_params *p) { oaep_md(p, CKM_MD5_HMAC); }, CKM_MD5_HMAC,
                  CKG_MGF1_SHA1, ""},
        oaep_case{"SignatureDigestPlaysNoPart",
                  [](zorvel_rsa_pkey_params *p) { set_digest(p, EVP_sha384()); }, CKM_SHA_1_HMAC, CKG_MGF1_SHA1,
                  ""},
        oaep_case{"Label", [](zorvel_rsa_pkey_params *p) { zorvel_rsa_pkey_params_set_hexseed(p, "0a1B"); },
                  CKM_SHA_1_HMAC, CKG_MGF1_SHA1, "0a1b"},
        oaep_case{"LabelKeepsItsLengthAfterSaltLength",
                  [](zorvel_rsa_pkey_params *p) {
                      zorvel_rsa_pkey_params_set_hexseed(p, "a1b2c3");
                      set_salt(p, 200);
                  },
                  CKM_SHA_1_HMAC, CKG_MGF1_SHA1, "a1b2c3"}),
    [](const ::testing::TestParamInfo<oaep_case> &info) { return std::string(info.param.name); });

// ---- PSS ----

struct pss_case {
    const char *name;
    std::function<void(zorvel_rsa_pkey_params *)> setup;
    int modulusBits;
    CK_MECHANISM_TYPE hashAlg;
    CK_RSA_PKCS_MGF_TYPE mgf;
    CK_ULONG sLen;
};

PRINTS_CASE_NAME(pss_case)

class PssMechanism : public ::testing::TestWithParam<pss_case> {};

TEST_P(PssMechanism, CarriesDigestCodeMgfAndSaltLength)
{
    const pss_case &c = GetParam();
    params_ptr p = new_params();
    set_padding(p.get(), RSA_PKCS1_PSS_PADDING);
    c.setup(p.get());
    mechanism_ptr m;
    ASSERT_EQ(build(p.get(), &m, c.modulusBits), 0);
    ASSERT_EQ(m->mechanism, CKM_RSA_PKCS_PSS);
    ASSERT_EQ(m->ulParameterLen, 24u);
    const auto *pss = static_cast<const CK_RSA_PKCS_PSS_PARAMS *>(m->pParameter);
    EXPECT_EQ(pss->hashAlg, c.hashAlg);
    EXPECT_EQ(pss->mgf, c.mgf);
    EXPECT_EQ(pss->sLen, c.sLen);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PssMechanism,
    ::testing::Values(
        pss_case{"NoDigestSendsHmacSetting", [](zorvel_rsa_pkey_params *) {}, 2048, CKM_SHA_1_HMAC, CKG_MGF1_SHA1, 64},
        pss_case{"Sha1", [](zorvel_rsa_pkey_params *p) { set_digest(p, EVP_sha1()); }, 2048, CKM_SHA_1,
                 CKG_MGF1_SHA1, 64},
        pss_case{"Sha224", [](zorvel_rsa_pkey_params *p) { set_digest(p, EVP_sha224()); }, 2048, CKM_SHA224,
                 CKG_MGF1_SHA224, 64},
        pss_case{"Sha256", [](zorvel_rsa_pkey_params *p) { set_digest(p, EVP_sha256()); }, 2048, CKM_SHA256,
                 CKG_MGF1_SHA256, 64},
        pss_case{"Sha384", [](zorvel_rsa_pkey_params *p) { set_digest(p, EVP_sha384()); }, 2048, CKM_SHA384,
                 CKG_MGF1_SHA384, 64},
        pss_case{"Sha512", [](zorvel_rsa_pkey_params *p) { set_digest(p, EVP_sha512()); }, 2048, CKM_SHA512,
                 CKG_MGF1_SHA512, 64},
        pss_case{"ExplicitMgf",
                 [](zorvel_rsa_pkey_params *p) {
                     set_digest(p, EVP_sha256());
                     p->mFG = CKG_MGF1_SHA384;
                     p->mFGExplicit = 1;
                 },
                 2048, CKM_SHA256, CKG_MGF1_SHA384, 64},
        pss_case{"PssMdWithoutDigest", [](zorvel_rsa_pkey_params *p) { p->hMAC = CKM_SHA256_HMAC; }, 2048,
                 CKM_SHA256_HMAC, CKG_MGF1_SHA256, 64},
        pss_case{"SaltDigestLength",
                 [](zorvel_rsa_pkey_params *p) {
                     set_digest(p, EVP_sha256());
                     set_salt(p, RSA_PSS_SALTLEN_DIGEST);
                 },
                 2048, CKM_SHA256, CKG_MGF1_SHA256, 32},
        pss_case{"SaltMax",
                 [](zorvel_rsa_pkey_params *p) {
                     set_digest(p, EVP_sha256());
                     set_salt(p, RSA_PSS_SALTLEN_MAX);
                 },
                 2048, CKM_SHA256, CKG_MGF1_SHA256, 256 - 32 - 2},
        pss_case{"SaltAutoSignsWithMax",
                 [](zorvel_rsa_pkey_params *p) {
                     set_digest(p, EVP_sha512());
                     set_salt(p, RSA_PSS_SALTLEN_AUTO);
                 },
                 2048, CKM_SHA512, CKG_MGF1_SHA512, 256 - 64 - 2},
        pss_case{"SaltMaxCountsEncodedBytesNotModulusBytes",
                 [](zorvel_rsa_pkey_params *p) {
                     set_digest(p, EVP_sha256());
                     set_salt(p, RSA_PSS_SALTLEN_MAX);
                 },
                 2049, CKM_SHA256, CKG_MGF1_SHA256, 256 - 32 - 2},
        pss_case{"SaltMaxNeverNegative",
                 [](zorvel_rsa_pkey_params *p) {
                     set_digest(p, EVP_sha512());
                     set_salt(p, RSA_PSS_SALTLEN_MAX);
                 },
                 512, CKM_SHA512, CKG_MGF1_SHA512, 0},
        pss_case{"LabelLeavesSaltLength",
                 [](zorvel_rsa_pkey_params *p) { zorvel_rsa_pkey_params_set_hexseed(p, "0a1B"); }, 2048,
                 CKM_SHA_1_HMAC, CKG_MGF1_SHA1, 64}),
    [](const ::testing::TestParamInfo<pss_case> &info) { return std::string(info.param.name); });

// ---- the digests' codes, as control strings name them ----

TEST(DigestCodes, EachNameCarriesTheCodesOfItsDigest)
{
    struct {
        const char *name;
        int nid;
        size_t size;
        CK_ULONG digest, hmac, mgf1, pkcs1Sign;
    } cases[] = {
        {"md5", 4, 16, 0x210, 0x211, 0, 0x05},       {"sha1", 64, 20, 0x220, 0x221, 1, 0x06},
        {"sha224", 675, 28, 0x255, 0x256, 5, 0x46}, {"sha256", 672, 32, 0x250, 0x251, 2, 0x40},
        {"sha384", 673, 48, 0x260, 0x261, 3, 0x41}, {"sha512", 674, 64, 0x270, 0x271, 4, 0x42},
    };
    for (const auto &c : cases) {
        const zorvel_hash_info *h = zorvel_hash_by_name(c.name);
        ASSERT_NE(h, nullptr) << c.name;
        EXPECT_EQ(h->nid, c.nid) << c.name;
        EXPECT_EQ(h->size, c.size) << c.name;
        EXPECT_EQ(h->digest, c.digest) << c.name;
        EXPECT_EQ(h->hmac, c.hmac) << c.name;
        EXPECT_EQ(h->mgf1, c.mgf1) << c.name;
        EXPECT_EQ(h->pkcs1Sign, c.pkcs1Sign) << c.name;
        EXPECT_EQ(zorvel_hash_by_hmac(c.hmac), h) << c.name;
    }
    for (const char *name : {"SHA256", "sha3-256", "sha512-256", "md4", ""})
        EXPECT_EQ(zorvel_hash_by_name(name), nullptr) << name;
}

// ---- numeric controls ----

TEST(PkeyControls, GetPaddingAnswersTheModeAndChangesNothing)
{
    params_ptr p = new_params();
    set_padding(p.get(), RSA_PKCS1_PSS_PADDING);
    int mode = 0;
    EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_GET_RSA_PADDING, 0, &mode), 1);
    EXPECT_EQ(mode, RSA_PKCS1_PSS_PADDING);
    EXPECT_EQ(p->mechanismType, RSA_PKCS1_PSS_PADDING);
}

TEST(PkeyControls, SaltLengthBelowMaxIsRefused)
{
    params_ptr p = new_params();
    EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_PSS_SALTLEN, -4, nullptr), 0);
    EXPECT_EQ(p->sLen, 64);
    EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_PSS_SALTLEN, -1, nullptr), 1);
    EXPECT_EQ(p->sLen, -1);
}

TEST(PkeyControls, KeygenSettingsAndOwnershipOfTheExponent)
{
    params_ptr p = new_params();
    EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_KEYGEN_BITS, 2048, nullptr), 1);
    EXPECT_EQ(p->keyLenBits, 2048);
    for (const char *value : {"3", "65537"}) { // the second replaces and releases the first
        BIGNUM *e = nullptr;
        ASSERT_NE(BN_dec2bn(&e, value), 0);
        EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_KEYGEN_PUBEXP, 0, e), 1);
        EXPECT_EQ(p->pubExp, e);
    }
    EXPECT_EQ(BN_get_word(p->pubExp), 65537u);
}

TEST(PkeyControls, PssSettingsReadBackAsX509SigningAsksForThem)
{
    params_ptr p = new_params();
    set_padding(p.get(), RSA_PKCS1_PSS_PADDING);
    const EVP_MD *md = EVP_sha1();
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_GET_MD, 0, &md), 1);
    EXPECT_EQ(md, nullptr) << "no digest set";
    set_digest(p.get(), EVP_sha384());
    set_salt(p.get(), RSA_PSS_SALTLEN_DIGEST);
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_GET_MD, 0, &md), 1);
    EXPECT_EQ(EVP_MD_get_type(md), NID_sha384);
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_GET_RSA_MGF1_MD, 0, &md), 1);
    EXPECT_EQ(EVP_MD_get_type(md), NID_sha384) << "MGF1 follows the digest";
    int salt = 0;
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_GET_RSA_PSS_SALTLEN, 0, &salt), 1);
    EXPECT_EQ(salt, RSA_PSS_SALTLEN_DIGEST);

    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_MGF1_MD, 0, const_cast<EVP_MD *>(EVP_sha256())), 1);
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_GET_RSA_MGF1_MD, 0, &md), 1);
    EXPECT_EQ(EVP_MD_get_type(md), NID_sha256);
    EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_MGF1_MD, 0, const_cast<EVP_MD *>(EVP_md5())), 0);
    EXPECT_EQ(p->mFG, CKG_MGF1_SHA256);
}

TEST(PkeyControls, UnknownCommandsAreNotHandled)
{
    params_ptr p = new_params();
    for (int command : {EVP_PKEY_CTRL_RSA_OAEP_MD, EVP_PKEY_CTRL_RSA_OAEP_LABEL, 0x2000, -1})
        EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), command, 0, nullptr), 0) << command;
    EXPECT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_DIGESTINIT, 0, nullptr), 1);
}

TEST(PkeyControls, DuplicateOwnsItsLabelAndExponent)
{
    params_ptr p = new_params();
    ASSERT_EQ(zorvel_rsa_pkey_params_set_hexseed(p.get(), "c0ffee"), 1);
    BIGNUM *e = nullptr;
    ASSERT_NE(BN_dec2bn(&e, "65537"), 0);
    ASSERT_EQ(zorvel_rsa_pkey_params_ctrl(p.get(), EVP_PKEY_CTRL_RSA_KEYGEN_PUBEXP, 0, e), 1);
    set_padding(p.get(), RSA_PKCS1_OAEP_PADDING);

    params_ptr copy(zorvel_rsa_pkey_params_dup(p.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->mechanismType, RSA_PKCS1_OAEP_PADDING);
    ASSERT_EQ(copy->seedLen, 3u);
    EXPECT_NE(copy->seed, p->seed);
    EXPECT_EQ(bytes(copy->seed, copy->seed + 3), from_hex("c0ffee"));
    EXPECT_NE(copy->pubExp, p->pubExp);
    EXPECT_EQ(BN_cmp(copy->pubExp, p->pubExp), 0);
    p.reset(); // the copy stays whole
    EXPECT_EQ(copy->seed[2], 0xee);
}

// ---- "hexseed" ----

struct hexseed_case {
    const char *name;
    const char *text;
    int result;
    std::string label; // hex of the label afterwards; the earlier "a1b2" when refused
};

PRINTS_CASE_NAME(hexseed_case)

class HexSeed : public ::testing::TestWithParam<hexseed_case> {};

TEST_P(HexSeed, SetsTheLabelOrChangesNothing)
{
    const hexseed_case &c = GetParam();
    params_ptr p = new_params();
    ASSERT_EQ(zorvel_rsa_pkey_params_set_hexseed(p.get(), "a1b2"), 1);
    EXPECT_EQ(zorvel_rsa_pkey_params_set_hexseed(p.get(), c.text), c.result);
    EXPECT_EQ(bytes(p->seed, p->seed + p->seedLen), from_hex(c.label));
    EXPECT_EQ(p->sLen, 64) << "the salt length is not the label's";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexSeed,
    ::testing::Values(hexseed_case{"MixedCase", "0a1B", 1, "0a1b"},
                      hexseed_case{"AllDigits", "00ff7F80", 1, "00ff7f80"},
                      hexseed_case{"EmptyRemovesLabel", "", 1, ""},
                      hexseed_case{"OddLength", "0a1", 0, "a1b2"},
                      hexseed_case{"NotHex", "0g", 0, "a1b2"},
                      hexseed_case{"Space", "0a 1", 0, "a1b2"},
                      hexseed_case{"SignedChar", "\xe0\x30", 0, "a1b2"}),
    [](const ::testing::TestParamInfo<hexseed_case> &info) { return std::string(info.param.name); });

// ---- "rsa_pss_saltlen" text ----

TEST(PssSaltLengthText, NamesAndDecimals)
{
    struct {
        const char *text;
        int ok;
        int value;
    } cases[] = {
        {"digest", 1, RSA_PSS_SALTLEN_DIGEST}, {"max", 1, RSA_PSS_SALTLEN_MAX}, {"auto", 1, RSA_PSS_SALTLEN_AUTO},
        {"0", 1, 0},  {"20", 1, 20},  {"-1", 1, -1}, {"-3", 1, -3}, {"-4", 0, 0}, {"", 0, 0}, {"20x", 0, 0},
        {"x", 0, 0},  {"99999999999", 0, 0}, {"Max", 0, 0},
    };
    for (const auto &c : cases) {
        int value = 12345;
        EXPECT_EQ(zorvel_parse_pss_saltlen(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

// ---- digest length ----

TEST(DigestLength, OnlyTheDigestsSizeSuitsAKnownDigest)
{
    struct {
        int nid;
        long len;
        int ok;
    } cases[] = {
        {NID_md5, 16, 1},    {NID_md5, 15, 0},    {NID_sha1, 20, 1},   {NID_sha1, 32, 0},
        {NID_sha224, 28, 1}, {NID_sha256, 32, 1}, {NID_sha256, 31, 0}, {NID_sha256, 33, 0},
        {NID_sha384, 48, 1}, {NID_sha512, 64, 1}, {NID_sha512, 0, 0},  {0, 0, 1},
        {0, 31, 1},          {0, 512, 1},         {NID_sha3_256, 7, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zorvel_rsa_digest_length_ok(c.nid, c.len), c.ok) << c.nid << " " << c.len;
}

TEST(DigestInfoMechanisms, ExactlyTheHashAndSignSet)
{
    for (CK_MECHANISM_TYPE m : {CKM_MD5_RSA_PKCS, CKM_SHA1_RSA_PKCS, CKM_SHA224_RSA_PKCS, CKM_SHA256_RSA_PKCS,
                                CKM_SHA384_RSA_PKCS, CKM_SHA512_RSA_PKCS})
        EXPECT_EQ(zorvel_rsa_is_digest_info_mechanism(m), 1) << m;
    for (CK_MECHANISM_TYPE m : {CKM_RSA_PKCS, CKM_RSA_X_509, CKM_RSA_PKCS_PSS, CKM_RSA_PKCS_OAEP, CKM_SHA256})
        EXPECT_EQ(zorvel_rsa_is_digest_info_mechanism(m), 0) << m;
}

// ---- DigestInfo ----

struct digest_info_case {
    const char *name;
    int nid;
    size_t digestLen;
    std::string prefix; // the DER before the digest bytes
};

PRINTS_CASE_NAME(digest_info_case)

class DigestInfo : public ::testing::TestWithParam<digest_info_case> {};

TEST_P(DigestInfo, EncodesAlgorithmWithNullParameterAndDigest)
{
    const digest_info_case &c = GetParam();
    bytes digest(c.digestLen);
    for (size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<unsigned char>(0xA0 + i);
    unsigned char *der = nullptr;
    size_t derLen = 0;
    ASSERT_EQ(zorvel_digest_info_encode(c.nid, digest.data(), digest.size(), &der, &derLen), ZORVEL_DIGEST_INFO_OK);
    bytes expected = from_hex(c.prefix);
    expected.insert(expected.end(), digest.begin(), digest.end());
    EXPECT_EQ(bytes(der, der + derLen), expected);
    OPENSSL_clear_free(der, derLen);
}

INSTANTIATE_TEST_SUITE_P(
    Digests, DigestInfo,
    ::testing::Values(
        digest_info_case{"Md5Is34Bytes", NID_md5, 16, "3020300c06082a864886f70d020505000410"},
        digest_info_case{"Sha1", NID_sha1, 20, "3021300906052b0e03021a05000414"},
        digest_info_case{"Sha224", NID_sha224, 28, "302d300d06096086480165030402040500041c"},
        digest_info_case{"Sha256Is51Bytes", NID_sha256, 32, "3031300d060960864801650304020105000420"},
        digest_info_case{"Sha384", NID_sha384, 48, "3041300d060960864801650304020205000430"},
        digest_info_case{"Sha512Is83Bytes", NID_sha512, 64, "3051300d060960864801650304020305000440"}),
    [](const ::testing::TestParamInfo<digest_info_case> &info) { return std::string(info.param.name); });

TEST(DigestInfo, LengthsOfTheTwoNamedCases)
{
    const unsigned char digest[32] = {};
    for (auto [nid, len, total] : {std::tuple<int, size_t, size_t>{NID_sha256, 32, 51}, {NID_md5, 16, 34}}) {
        unsigned char *der = nullptr;
        size_t derLen = 0;
        ASSERT_EQ(zorvel_digest_info_encode(nid, digest, len, &der, &derLen), ZORVEL_DIGEST_INFO_OK);
        EXPECT_EQ(derLen, total);
        OPENSSL_clear_free(der, derLen);
    }
}

TEST(DigestInfo, UnknownDigestsAreRefused)
{
    const unsigned char digest[32] = {};
    unsigned char *der = nullptr;
    size_t derLen = 0;
    EXPECT_EQ(zorvel_digest_info_encode(0, digest, 32, &der, &derLen), ZORVEL_DIGEST_INFO_UNKNOWN_OID);
    EXPECT_EQ(zorvel_digest_info_encode(987654, digest, 32, &der, &derLen), ZORVEL_DIGEST_INFO_UNKNOWN_ALGORITHM);
    EXPECT_EQ(der, nullptr);
}

} // namespace
