// Misuse of a multi-part operation: the stand-in's emulations answer each wrong sequence
// of calls as SoftHSM2 answers it for its own mechanisms, and leave nothing active
// behind. Every sequence runs on native mechanisms, whose answers must be the measured
// ones, and on every emulated mechanism of the group, whose answers must be the same.
#include "standin_test_support.h"

#include <functional>
#include <string>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

// The calls of a sequence, on the operation of the group's family.
enum class Call {
  Init,
  Update,          // 16 bytes
  SinglePart,      // C_Encrypt, C_Decrypt, C_Sign, C_Verify over 32 bytes
  LengthQuery,     // the single-part call without an output buffer
  BadArguments,    // the single-part call without its length pointer (C_Verify: its signature)
  Final,
};

const char *callName(Call call) {
  switch (call) {
    case Call::Init: return "Init";
    case Call::Update: return "Update";
    case Call::SinglePart: return "single-part";
    case Call::LengthQuery: return "length query";
    case Call::BadArguments: return "bad arguments";
    case Call::Final: return "Final";
  }
  return "?";
}

struct Sequence {
  std::vector<Call> calls;
  // Measured on SoftHSM2 2.6.1 for the group's native mechanisms.
  std::vector<CK_RV> answers;
};

enum class Family { Sign, Verify, Encrypt, Decrypt };

const char *familyName(Family family) {
  switch (family) {
    case Family::Sign: return "sign";
    case Family::Verify: return "verify";
    case Family::Encrypt: return "encrypt";
    case Family::Decrypt: return "decrypt";
  }
  return "?";
}

enum class Key { Rsa, Ec, Hmac, Aes, Camellia };

struct Mechanism {
  const char *name;
  CK_MECHANISM mechanism;
  Key key;
  bool privateKey;  // for encryption: the RSA private key (a use the stand-in emulates)
};

struct Group {
  const char *what;
  std::vector<Family> families;
  std::vector<Mechanism> native;
  std::vector<Mechanism> emulated;
  std::vector<Sequence> sequences;
};

constexpr CK_RV kOk = CKR_OK;
constexpr CK_RV kNotInitialized = CKR_OPERATION_NOT_INITIALIZED;
constexpr CK_RV kNotSupported = CKR_FUNCTION_NOT_SUPPORTED;
constexpr CK_RV kArgumentsBad = CKR_ARGUMENTS_BAD;

CK_BYTE g_iv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
CK_GCM_PARAMS g_gcm = {g_iv, 12, nullptr, 0, 0};
CK_RSA_PKCS_OAEP_PARAMS g_oaepSha1 = {CKM_SHA_1, CKG_MGF1_SHA1, 0, nullptr, 0};
CK_RSA_PKCS_OAEP_PARAMS g_oaepSha256 = {CKM_SHA256, CKG_MGF1_SHA256, 0, nullptr, 0};

std::vector<Group> groups() {
  const Sequence singleAfterParts = {{Call::Init, Call::Update, Call::SinglePart, Call::Final, Call::Init},
                                     {kOk, kOk, kNotInitialized, kNotInitialized, kOk}};
  const Sequence partsAfterSingle = {{Call::Init, Call::SinglePart, Call::Update, Call::Final, Call::Init},
                                     {kOk, kOk, kNotInitialized, kNotInitialized, kOk}};
  const Sequence finalAfterSingle = {{Call::Init, Call::SinglePart, Call::Final, Call::Init},
                                     {kOk, kOk, kNotInitialized, kOk}};
  // Refused arguments leave the operation as it was: the call made again succeeds.
  const Sequence singleAfterBadArguments = {{Call::Init, Call::BadArguments, Call::SinglePart, Call::Init},
                                            {kOk, kArgumentsBad, kOk, kOk}};
  const std::vector<Mechanism> nativeSignatures = {
      {"CKM_SHA256_RSA_PKCS", {CKM_SHA256_RSA_PKCS, nullptr, 0}, Key::Rsa, false},
      {"CKM_SHA256_HMAC", {CKM_SHA256_HMAC, nullptr, 0}, Key::Hmac, false}};
  const std::vector<Mechanism> emulatedSignatures = {
      {"CKM_ECDSA_SHA256", {CKM_ECDSA_SHA256, nullptr, 0}, Key::Ec, false},
      {"CKM_AES_MAC", {CKM_AES_MAC, nullptr, 0}, Key::Aes, false},
      {"CKM_CAMELLIA_MAC", {CKM_CAMELLIA_MAC, nullptr, 0}, Key::Camellia, false},
      {"CKM_AES_GMAC", {CKM_AES_GMAC, &g_gcm, sizeof g_gcm}, Key::Aes, false}};
  return {
      {"multi-part signatures",
       {Family::Sign, Family::Verify},
       nativeSignatures,
       emulatedSignatures,
       {singleAfterParts, partsAfterSingle, finalAfterSingle, singleAfterBadArguments}},
      // C_Sign's length query after parts; C_Verify has none.
      {"multi-part signatures, length query",
       {Family::Sign},
       nativeSignatures,
       emulatedSignatures,
       {{{Call::Init, Call::Update, Call::LengthQuery, Call::Final, Call::Init},
         {kOk, kOk, kNotInitialized, kNotInitialized, kOk}}}},
      {"multi-part ciphers",
       {Family::Encrypt, Family::Decrypt},
       {{"CKM_AES_ECB", {CKM_AES_ECB, nullptr, 0}, Key::Aes, false},
        {"CKM_AES_CBC", {CKM_AES_CBC, g_iv, sizeof g_iv}, Key::Aes, false}},
       {{"CKM_CAMELLIA_ECB", {CKM_CAMELLIA_ECB, nullptr, 0}, Key::Camellia, false},
        {"CKM_CAMELLIA_CBC", {CKM_CAMELLIA_CBC, g_iv, sizeof g_iv}, Key::Camellia, false}},
       {{{Call::Init, Call::Update, Call::SinglePart, Call::Final, Call::Init}, {kOk, kOk, kOk, kNotInitialized, kOk}},
        partsAfterSingle, singleAfterBadArguments}},
      {"single-part RSA encryption",
       {Family::Encrypt},
       {{"CKM_RSA_PKCS", {CKM_RSA_PKCS, nullptr, 0}, Key::Rsa, false},
        {"CKM_RSA_PKCS_OAEP SHA-1", {CKM_RSA_PKCS_OAEP, &g_oaepSha1, sizeof g_oaepSha1}, Key::Rsa, false}},
       {{"CKM_RSA_PKCS_OAEP SHA-256", {CKM_RSA_PKCS_OAEP, &g_oaepSha256, sizeof g_oaepSha256}, Key::Rsa, false},
        {"CKM_RSA_PKCS with the private key", {CKM_RSA_PKCS, nullptr, 0}, Key::Rsa, true}},
       {{{Call::Init, Call::Update, Call::SinglePart, Call::Final, Call::Init},
         {kOk, kNotSupported, kOk, kNotInitialized, kOk}},
        partsAfterSingle, singleAfterBadArguments}},
  };
}

class Misuse : public LoggedInSession {
 protected:
  void SetUp() override {
    LoggedInSession::SetUp();
    if (HasFatalFailure()) return;
    CK_BBOOL yes = CK_TRUE;
    ASSERT_CKR(CKR_OK, generateRsaKeyPair(f, session, 1024, CK_TRUE, &rsa_.publicKey, &rsa_.privateKey));
    CK_BYTE p256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    CK_ATTRIBUTE ecPublic[] = {{CKA_EC_PARAMS, p256, sizeof p256}, {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE ecPrivate[] = {{CKA_SIGN, &yes, 1}};
    CK_MECHANISM ecGeneration = {CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    ASSERT_CKR(CKR_OK, f->C_GenerateKeyPair(session, &ecGeneration, ecPublic, 2, ecPrivate, 1, &ec_.publicKey,
                                            &ec_.privateKey));
    hmac_ = secretKey(CKK_GENERIC_SECRET, Bytes(32, 0x4B));
    aes_ = secretKey(CKK_AES, Bytes(16, 0x41));
    camellia_ = secretKey(CKK_CAMELLIA, Bytes(16, 0x43));
  }

  // A session key with the value, extractable, for every use.
  CK_OBJECT_HANDLE secretKey(CK_KEY_TYPE type, Bytes value) {
    CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secret, sizeof secret}, {CKA_KEY_TYPE, &type, sizeof type},
                           {CKA_VALUE, value.data(), value.size()}, {CKA_EXTRACTABLE, &yes, 1},
                           {CKA_SIGN, &yes, 1}, {CKA_VERIFY, &yes, 1}, {CKA_ENCRYPT, &yes, 1},
                           {CKA_DECRYPT, &yes, 1}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_CKR(CKR_OK, f->C_CreateObject(session, tmpl, sizeof tmpl / sizeof tmpl[0], &key));
    return key;
  }

  // The key a family uses: the private key signs and decrypts, the public one verifies and
  // encrypts, unless the mechanism names the private key.
  CK_OBJECT_HANDLE keyFor(const Mechanism &m, Family family) const {
    const bool usesPrivate = family == Family::Sign || family == Family::Decrypt || m.privateKey;
    switch (m.key) {
      case Key::Rsa: return usesPrivate ? rsa_.privateKey : rsa_.publicKey;
      case Key::Ec: return usesPrivate ? ec_.privateKey : ec_.publicKey;
      case Key::Hmac: return hmac_;
      case Key::Aes: return aes_;
      case Key::Camellia: return camellia_;
    }
    return CK_INVALID_HANDLE;
  }

  CK_RV init(const Mechanism &m, Family family) { return initWith(family, m.mechanism, keyFor(m, family)); }

  CK_RV initWith(Family family, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key) {
    switch (family) {
      case Family::Sign: return f->C_SignInit(session, &mechanism, key);
      case Family::Verify: return f->C_VerifyInit(session, &mechanism, key);
      case Family::Encrypt: return f->C_EncryptInit(session, &mechanism, key);
      case Family::Decrypt: return f->C_DecryptInit(session, &mechanism, key);
    }
    return CKR_GENERAL_ERROR;
  }

  CK_RV call(Call which, const Mechanism &m, Family family, const Bytes &signature) {
    if (which == Call::Init) return init(m, family);
    Bytes data = kData, out(512);
    CK_ULONG length = out.size();
    CK_BYTE_PTR output = which == Call::LengthQuery ? nullptr : out.data();
    CK_ULONG_PTR outputLength = which == Call::BadArguments ? nullptr : &length;
    Bytes sig = signature;
    CK_BYTE_PTR signatureBytes = which == Call::BadArguments ? nullptr : sig.data();
    switch (family) {
      case Family::Sign:
        if (which == Call::Update) return f->C_SignUpdate(session, data.data(), 16);
        if (which == Call::Final) return f->C_SignFinal(session, output, &length);
        return f->C_Sign(session, data.data(), data.size(), output, outputLength);
      case Family::Verify:
        if (which == Call::Update) return f->C_VerifyUpdate(session, data.data(), 16);
        if (which == Call::Final) return f->C_VerifyFinal(session, sig.data(), sig.size());
        return f->C_Verify(session, data.data(), data.size(), signatureBytes, sig.size());
      case Family::Encrypt:
        if (which == Call::Update) return f->C_EncryptUpdate(session, data.data(), 16, output, &length);
        if (which == Call::Final) return f->C_EncryptFinal(session, output, &length);
        return f->C_Encrypt(session, data.data(), m.key == Key::Rsa ? 16 : data.size(), output, outputLength);
      case Family::Decrypt:
        if (which == Call::Update) return f->C_DecryptUpdate(session, data.data(), 16, output, &length);
        if (which == Call::Final) return f->C_DecryptFinal(session, output, &length);
        return f->C_Decrypt(session, data.data(), data.size(), output, outputLength);
    }
    return CKR_GENERAL_ERROR;
  }

  // A signature of the data for a verification; empty for the other families.
  Bytes signatureOf(const Mechanism &m, Family family) {
    if (family != Family::Verify) return {};
    Bytes data = kData, signature(512);
    CK_ULONG length = signature.size();
    EXPECT_CKR(CKR_OK, init(m, Family::Sign));
    EXPECT_CKR(CKR_OK, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
    signature.resize(length);
    return signature;
  }

  // The answers to the sequence's calls; the operation its last Init started is then
  // completed, so that the next sequence starts on an idle session.
  std::vector<CK_RV> run(const Sequence &sequence, const Mechanism &m, Family family) {
    const Bytes signature = signatureOf(m, family);
    std::vector<CK_RV> answers;
    for (Call which : sequence.calls) answers.push_back(call(which, m, family, signature));
    if (answers.back() == CKR_OK) {
      EXPECT_CKR(CKR_OK, call(Call::SinglePart, m, family, signature));
    }
    return answers;
  }

  const Bytes kData = Bytes(32, 0x5A);
  struct {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
  } rsa_, ec_;
  CK_OBJECT_HANDLE hmac_ = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE aes_ = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE camellia_ = CK_INVALID_HANDLE;
};

std::string describe(const Sequence &sequence) {
  std::string text;
  for (Call which : sequence.calls) text += std::string(text.empty() ? "" : ", ") + callName(which);
  return text;
}

TEST_F(Misuse, EmulationsAnswerAsTheModuleAnswersForItsOwnMechanisms) {
  for (const Group &group : groups()) {
    SCOPED_TRACE(group.what);
    for (Family family : group.families) {
      SCOPED_TRACE(familyName(family));
      for (const Sequence &sequence : group.sequences) {
        SCOPED_TRACE(describe(sequence));
        for (const Mechanism &native : group.native) {
          EXPECT_EQ(sequence.answers, run(sequence, native, family)) << native.name << " (native)";
        }
        for (const Mechanism &emulated : group.emulated) {
          EXPECT_EQ(sequence.answers, run(sequence, emulated, family)) << emulated.name << " (emulated)";
        }
      }
    }
  }
}

// A wrong key, length or parameter given to an emulated mechanism, and the PKCS#11 answer.
// The module's own mechanisms of the same kind, measured on SoftHSM2 2.6.1: CKM_ECDSA takes
// an RSA or an AES key at C_SignInit and C_VerifyInit and fails at C_Sign with
// CKR_GENERAL_ERROR; the MAC mechanisms (CKM_AES_CMAC) refuse an RSA key with
// CKR_KEY_TYPE_INCONSISTENT; CKM_RSA_PKCS encryption of more than the modulus less 11
// bytes, and CKM_RSA_X_509 decryption of a value above the modulus, answer
// CKR_GENERAL_ERROR; malformed CKM_RSA_PKCS_OAEP parameters CKR_ARGUMENTS_BAD.
struct WrongUse {
  const char *what;
  Family family;  // whose next Init must be taken: the wrong use left nothing active
  CK_RV expected;
  std::function<CK_RV()> call;
};

TEST_F(Misuse, WrongKeysLengthsAndParametersGetThePkcs11Answers) {
  // The Init, then the single-part call over input.
  const auto runWith = [&](Family family, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, Bytes input) {
    CK_RV rv = initWith(family, mechanism, key);
    if (rv != CKR_OK) return rv;
    Bytes out(512);
    CK_ULONG length = out.size();
    if (family == Family::Encrypt) return f->C_Encrypt(session, input.data(), input.size(), out.data(), &length);
    if (family == Family::Decrypt) return f->C_Decrypt(session, input.data(), input.size(), out.data(), &length);
    return f->C_Sign(session, input.data(), input.size(), out.data(), &length);
  };
  const auto oaep = [](CK_RSA_PKCS_OAEP_PARAMS *p, CK_ULONG length) {
    return CK_MECHANISM{CKM_RSA_PKCS_OAEP, p, length};
  };
  CK_RSA_PKCS_OAEP_PARAMS unknownMgf = {CKM_SHA256, 0x99, CKZ_DATA_SPECIFIED, nullptr, 0};
  CK_RSA_PKCS_OAEP_PARAMS labelWithoutBytes = {CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, nullptr, 10};
  CK_RSA_PKCS_OAEP_PARAMS unknownSource = {CKM_SHA256, CKG_MGF1_SHA256, 5, nullptr, 0};
  CK_RSA_PKCS_OAEP_PARAMS sha1UnknownMgf = {CKM_SHA_1, 0x99, 0, nullptr, 0};
  const CK_ULONG oaepLength = sizeof(CK_RSA_PKCS_OAEP_PARAMS);
  constexpr CK_ULONG kModulusLength = 128;

  const WrongUse uses[] = {
      {"CKM_ECDSA_SHA256 signature with an RSA key", Family::Sign, CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Sign, {CKM_ECDSA_SHA256, nullptr, 0}, rsa_.privateKey); }},
      {"CKM_ECDSA_SHA256 verification with an RSA key", Family::Verify, CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Verify, {CKM_ECDSA_SHA256, nullptr, 0}, rsa_.publicKey); }},
      {"CKM_ECDSA_SHA384 signature with an AES key", Family::Sign, CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Sign, {CKM_ECDSA_SHA384, nullptr, 0}, aes_); }},
      {"CKM_AES_MAC signature with an RSA public key", Family::Sign, CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Sign, {CKM_AES_MAC, nullptr, 0}, rsa_.publicKey); }},
      {"CKM_AES_MAC verification with an RSA public key", Family::Verify, CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Verify, {CKM_AES_MAC, nullptr, 0}, rsa_.publicKey); }},
      {"CKM_CAMELLIA_MAC signature with an RSA public key", Family::Sign, CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Sign, {CKM_CAMELLIA_MAC, nullptr, 0}, rsa_.publicKey); }},
      {"CKM_AES_CMAC verification with an RSA public key (the module's own)", Family::Verify,
       CKR_KEY_TYPE_INCONSISTENT,
       [&] { return initWith(Family::Verify, {CKM_AES_CMAC, nullptr, 0}, rsa_.publicKey); }},
      {"CKM_RSA_PKCS private-key encryption of 118 bytes", Family::Encrypt, CKR_DATA_LEN_RANGE,
       [&] { return runWith(Family::Encrypt, {CKM_RSA_PKCS, nullptr, 0}, rsa_.privateKey, Bytes(118, 1)); }},
      {"CKM_RSA_PKCS private-key encryption of 117 bytes", Family::Encrypt, CKR_OK,
       [&] { return runWith(Family::Encrypt, {CKM_RSA_PKCS, nullptr, 0}, rsa_.privateKey, Bytes(117, 1)); }},
      {"CKM_RSA_X_509 public-key decryption of a value above the modulus", Family::Decrypt,
       CKR_ENCRYPTED_DATA_INVALID,
       [&] { return runWith(Family::Decrypt, {CKM_RSA_X_509, nullptr, 0}, rsa_.publicKey, Bytes(kModulusLength, 0xFF)); }},
      {"CKM_RSA_X_509 public-key decryption of a value below the modulus", Family::Decrypt, CKR_OK,
       [&] { return runWith(Family::Decrypt, {CKM_RSA_X_509, nullptr, 0}, rsa_.publicKey, Bytes(kModulusLength, 0x01)); }},
      {"CKM_RSA_PKCS_OAEP with a parameter of 8 bytes", Family::Encrypt, CKR_MECHANISM_PARAM_INVALID,
       [&] { return initWith(Family::Encrypt, oaep(&g_oaepSha256, 8), rsa_.publicKey); }},
      {"CKM_RSA_PKCS_OAEP without its parameter", Family::Encrypt, CKR_MECHANISM_PARAM_INVALID,
       [&] { return initWith(Family::Encrypt, oaep(nullptr, oaepLength), rsa_.publicKey); }},
      {"CKM_RSA_PKCS_OAEP with an unknown MGF", Family::Encrypt, CKR_MECHANISM_PARAM_INVALID,
       [&] { return initWith(Family::Encrypt, oaep(&unknownMgf, oaepLength), rsa_.publicKey); }},
      {"CKM_RSA_PKCS_OAEP SHA-1 with an unknown MGF (the module's own)", Family::Decrypt, CKR_MECHANISM_PARAM_INVALID,
       [&] { return initWith(Family::Decrypt, oaep(&sha1UnknownMgf, oaepLength), rsa_.privateKey); }},
      {"CKM_RSA_PKCS_OAEP with a label length and no label", Family::Decrypt, CKR_MECHANISM_PARAM_INVALID,
       [&] { return initWith(Family::Decrypt, oaep(&labelWithoutBytes, oaepLength), rsa_.privateKey); }},
      {"CKM_RSA_PKCS_OAEP with source 5", Family::Encrypt, CKR_MECHANISM_PARAM_INVALID,
       [&] { return initWith(Family::Encrypt, oaep(&unknownSource, oaepLength), rsa_.publicKey); }},
  };
  // The family's next Init is taken; the operation it starts is completed.
  const CK_MECHANISM idleChecks[] = {{CKM_SHA256_RSA_PKCS, nullptr, 0}, {CKM_SHA256_RSA_PKCS, nullptr, 0},
                                     {CKM_RSA_PKCS, nullptr, 0}, {CKM_RSA_PKCS, nullptr, 0}};
  for (const WrongUse &use : uses) {
    SCOPED_TRACE(use.what);
    EXPECT_CKR(use.expected, use.call());
    const Mechanism check = {"idle check", idleChecks[static_cast<int>(use.family)], Key::Rsa, false};
    ASSERT_CKR(CKR_OK, init(check, use.family)) << "an operation stayed active";
    // Ends the check's operation, whatever its answer to these bytes.
    call(Call::SinglePart, check, use.family, Bytes(kModulusLength));
  }
}

// An ECDH derivation with a KDF, whose shared data has a length but no bytes.
TEST_F(Misuse, EcdhSharedDataWithoutItsBytesIsAMalformedParameter) {
  CK_BYTE point[65] = {0x04};
  CK_ECDH1_DERIVE_PARAMS parameters = {CKD_SHA256_KDF, 8, nullptr, sizeof point, point};
  CK_MECHANISM derivation = {CKM_ECDH1_DERIVE, &parameters, sizeof parameters};
  CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
  CK_KEY_TYPE aes = CKK_AES;
  CK_ULONG length = 16;
  CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &secret, sizeof secret}, {CKA_KEY_TYPE, &aes, sizeof aes},
                         {CKA_VALUE_LEN, &length, sizeof length}};
  CK_OBJECT_HANDLE derived = CK_INVALID_HANDLE;
  EXPECT_CKR(CKR_MECHANISM_PARAM_INVALID, f->C_DeriveKey(session, &derivation, ec_.privateKey, tmpl, 3, &derived));
}

}  // namespace
}  // namespace zorvel::test
