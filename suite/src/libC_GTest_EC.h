// Test case libC_GTest_EC: key pairs on 15 named curves (and the refusal of curve
// parameters given as PEM text), raw ECDSA over a SHA-1 digest, hashed ECDSA over the
// data file in one call and in parts, ECDH derivation of AES keys, and the import and
// export of EC keys. The generation tests leave each curve's key pair in the base
// fixture's handles m_ecPublicKeyObjectHandle_<curve> / m_ecPrivateKeyObjectHandle_<curve>
// for the later tests; the last test destroys every object the session finds.
#pragma once

#include <cstdlib>
#include <cstring>

#include "libC_GTest_Fixture.h"

// The named curves in run order: the curve token that ends test and handle names, and
// the DER encoding of the curve's object identifier (CKA_EC_PARAMS).
#define ZORVEL_EC_CURVES(X)                                                                    \
    X(secp224k1, 0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x20)                                     \
    X(secp224r1, 0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x21)                                     \
    X(secp256k1, 0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x0A)                                     \
    X(secp256r1, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07)                   \
    X(secp384r1, 0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22)                                     \
    X(secp521r1, 0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23)                                     \
    X(X9_62_prime239v1, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x04)            \
    X(X9_62_prime239v2, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x05)            \
    X(X9_62_prime239v3, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x06)            \
    X(bp224r1, 0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x05)               \
    X(bp256r1, 0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07)               \
    X(bp320r1, 0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x09)               \
    X(bp384r1, 0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B)               \
    X(bp512r1, 0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D)               \
    X(frp256v1, 0x06, 0x0A, 0x2A, 0x81, 0x7A, 0x01, 0x81, 0x5F, 0x65, 0x82, 0x00, 0x01)

// ecParams_<curve>: the curve's CKA_EC_PARAMS bytes, at their exact length.
#define ZORVEL_EC_DEFINE_PARAMS(curve, ...) static const CK_BYTE ecParams_##curve[] = {__VA_ARGS__};
ZORVEL_EC_CURVES(ZORVEL_EC_DEFINE_PARAMS)
#undef ZORVEL_EC_DEFINE_PARAMS

// Sets m_mechanism to CKM_EC_KEY_PAIR_GEN and fills the class and key-type entries of both
// generation templates and the public template's curve parameters; the other entries keep
// their fixed values.
inline void PrepareECKeyPairGeneration(const CK_BYTE* pParams, CK_ULONG ulParamsLength)
{
    libC_GTest_P11::m_mechanism = {CKM_EC_KEY_PAIR_GEN, NULL_PTR, 0};
    CK_ATTRIBUTE* publicTemplate = libC_GTest_P11::m_ecKeyPairPublicGenAttributes;
    CK_ATTRIBUTE* privateTemplate = libC_GTest_P11::m_ecKeyPairPrivateGenAttributes;
    publicTemplate[0] = {CKA_CLASS, &libC_GTest_P11::m_ecPublicKeyClass, sizeof(CK_OBJECT_CLASS)};
    publicTemplate[1] = {CKA_KEY_TYPE, &libC_GTest_P11::m_ecKey, sizeof(CK_KEY_TYPE)};
    publicTemplate[6] = {CKA_EC_PARAMS, const_cast<CK_BYTE*>(pParams), ulParamsLength};
    privateTemplate[0] = {CKA_CLASS, &libC_GTest_P11::m_ecPrivateKeyClass, sizeof(CK_OBJECT_CLASS)};
    privateTemplate[1] = {CKA_KEY_TYPE, &libC_GTest_P11::m_ecKey, sizeof(CK_KEY_TYPE)};
}

#define PREPARE_EC_GENERATION(curve) PrepareECKeyPairGeneration(ecParams_##curve, sizeof(ecParams_##curve))

// Key-pair generation ------------------------------------------------------------------

TEST_F(libC_GTest_EC, Generate_encoded)
{
    // Explicit secp256k1 parameters (SEC 1 ECParameters, 227 bytes of DER) as PEM text
    // without line breaks, passed with the terminating zero byte: not DER, to be refused.
    static const char pemParameters[] =
        "-----BEGIN EC PARAMETERS-----"
        "MIHgAgEBMCwGByqGSM49AQECIQD////////////////////////////////////+///8LzBEBCAA"
        "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAQgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"
        "AAAAAAAAAAcEQQR5vmZ++dy7rFWgYpXOhwsHApv82y3OKNlZ8oFbFvgXmEg62ncmo8RlXaT7/A4R"
        "CKj9F7RIpoVUGZxH0I/7ENS4AiEA/////////////////////rqu3OavSKA7v9JejNA2QUECAQE="
        "-----END EC PARAMETERS-----";
    static_assert(sizeof(pemParameters) == 361, "360 characters and the terminator");
    CK_BYTE parameters[sizeof(pemParameters)];
    std::memcpy(parameters, pemParameters, sizeof(pemParameters));
    PrepareECKeyPairGeneration(parameters, sizeof(parameters));
    ASSERT_FUNCTION_LIST();

    CK_OBJECT_HANDLE hPublic = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE hPrivate = CK_INVALID_HANDLE;
    ASSERT_FALSE(IsCkrOk( m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_ecKeyPairPublicGenAttributes, EC_PUBLIC_KEY_GEN_ATTR_CNT, m_ecKeyPairPrivateGenAttributes, EC_PRIVATE_KEY_GEN_ATTR_CNT, &hPublic, &hPrivate)));
}

TEST_F(libC_GTest_EC, Generate_secp224k1)
{
    PREPARE_EC_GENERATION(secp224k1);
    ASSERT_FUNCTION_LIST();
    ASSERT_TRUE(IsCkrOk( m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_ecKeyPairPublicGenAttributes, EC_PUBLIC_KEY_GEN_ATTR_CNT, m_ecKeyPairPrivateGenAttributes, EC_PRIVATE_KEY_GEN_ATTR_CNT, &m_ecPublicKeyObjectHandle_secp224k1, &m_ecPrivateKeyObjectHandle_secp224k1)));
    EXPECT_TRUE(IsCkrOk(ReadECObjects(m_hSession, m_ecPublicKeyObjectHandle_secp224k1, m_ecPrivateKeyObjectHandle_secp224k1)));
}

TEST_F(libC_GTest_EC, Generate_secp224r1)
{
    PREPARE_EC_GENERATION(secp224r1);
    ASSERT_FUNCTION_LIST();
    ASSERT_TRUE(IsCkrOk( m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_ecKeyPairPublicGenAttributes, EC_PUBLIC_KEY_GEN_ATTR_CNT, m_ecKeyPairPrivateGenAttributes, EC_PRIVATE_KEY_GEN_ATTR_CNT, &m_ecPublicKeyObjectHandle_secp224r1, &m_ecPrivateKeyObjectHandle_secp224r1)));
}

// A key pair on a named curve into the curve's handles, asserted as an equality.
#define EC_GENERATE_TEST(TestName, curve)                                                      \
    TEST_F(libC_GTest_EC, TestName)                                                            \
    {                                                                                          \
        PREPARE_EC_GENERATION(curve);                                                          \
        ASSERT_FUNCTION_LIST();                                                                \
        ASSERT_EQ(CKR_OK, m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_ecKeyPairPublicGenAttributes, 7, m_ecKeyPairPrivateGenAttributes, 7, &m_ecPublicKeyObjectHandle_##curve, &m_ecPrivateKeyObjectHandle_##curve)); \
    }

EC_GENERATE_TEST(Generate_secp256k1, secp256k1)
EC_GENERATE_TEST(Generate_secp256r1, secp256r1)
EC_GENERATE_TEST(Generate_secp384r1, secp384r1)
EC_GENERATE_TEST(Generate_secp521r1, secp521r1)
EC_GENERATE_TEST(Generate_X9_62_prime239v1, X9_62_prime239v1)
EC_GENERATE_TEST(Generate_X9_62_prime239v2, X9_62_prime239v2)
EC_GENERATE_TEST(Generate_X9_62_prime239v3, X9_62_prime239v3)
EC_GENERATE_TEST(Generate_bp224r1, bp224r1)
EC_GENERATE_TEST(Generate_bp256r1, bp256r1)
EC_GENERATE_TEST(Generate_bp320r1, bp320r1)
EC_GENERATE_TEST(Generate_bp384r1, bp384r1)
EC_GENERATE_TEST(Generate_bp512r1, bp512r1)
EC_GENERATE_TEST(Generate_frp256v1, frp256v1)

// Raw ECDSA over a SHA-1 digest -----------------------------------------------------------

// Hashes the data file with SHA-1 on the token, then signs and verifies the digest with
// CKM_ECDSA under the curve's key pair.
#define EC_SIGN_DIGEST_TEST(TestName, curve)                                                   \
    TEST_F(libC_GTest_EC, TestName)                                                            \
    {                                                                                          \
        CK_BYTE_PTR pPlainData = NULL_PTR;                                                     \
        CK_ULONG ulPlainDataLength = 0;                                                        \
        CK_BYTE_PTR pDigestedData = NULL_PTR;                                                  \
        CK_ULONG ulDigestedDataLength = 0;                                                     \
        CK_BYTE_PTR pSignedData = NULL_PTR;                                                    \
        CK_ULONG ulSignedDataLength = 0;                                                       \
        NewArrayGuard plainData(pPlainData), digestedData(pDigestedData), signedData(pSignedData); \
        ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)));     \
        ASSERT_TRUE(IsCkrOk(DigestData(CKM_SHA_1, pPlainData, ulPlainDataLength, &pDigestedData, &ulDigestedDataLength))); \
        m_mechanism = {CKM_ECDSA, NULL_PTR, 0};                                                \
        ASSERT_TRUE(IsCkrOk( SignVerifySinglePart( m_hSession, &m_mechanism, m_ecPrivateKeyObjectHandle_##curve, m_ecPublicKeyObjectHandle_##curve, pDigestedData, ulDigestedDataLength, &pSignedData, ulSignedDataLength))); \
        plainData.Release();                                                                   \
        digestedData.Release();                                                                \
        signedData.Release();                                                                  \
    }

EC_SIGN_DIGEST_TEST(SignECDSA_secp224k1, secp224k1)
EC_SIGN_DIGEST_TEST(SignECDSA_secp224r1, secp224r1)
EC_SIGN_DIGEST_TEST(SignECDSA_secp256k1, secp256k1)
EC_SIGN_DIGEST_TEST(SignECDSA_secp384r1, secp384r1)
EC_SIGN_DIGEST_TEST(SignECDSA_secp521r1, secp521r1)
EC_SIGN_DIGEST_TEST(SignECDSA_X9_62_prime239v1, X9_62_prime239v1)
EC_SIGN_DIGEST_TEST(SignECDSA_X9_62_prime239v2, X9_62_prime239v2)
EC_SIGN_DIGEST_TEST(SignECDSA_X9_62_prime239v3, X9_62_prime239v3)
EC_SIGN_DIGEST_TEST(SignECDSA_bp224r1, bp224r1)
EC_SIGN_DIGEST_TEST(SignECDSA_bp256r1, bp256r1)
EC_SIGN_DIGEST_TEST(SignECDSA_bp320r1, bp320r1)
EC_SIGN_DIGEST_TEST(SignECDSA_bp384r1, bp384r1)
EC_SIGN_DIGEST_TEST(SignECDSA_bp512r1, bp512r1)
EC_SIGN_DIGEST_TEST(SignECDSA_frp256v1, frp256v1)

// Hashed ECDSA over the data file ----------------------------------------------------------

// Signs the whole data file with a hashed-ECDSA mechanism under the curve's private key and
// verifies it with its public key, through the shared routine `Routine` (single-part or
// multi-part).
#define EC_SIGN_DATA_TEST(TestName, Mechanism, curve, Routine)                                 \
    TEST_F(libC_GTest_EC, TestName)                                                            \
    {                                                                                          \
        CK_BYTE_PTR pPlainData = NULL_PTR;                                                     \
        CK_ULONG ulPlainDataLength = 0;                                                        \
        CK_BYTE_PTR pSignedData = NULL_PTR;                                                    \
        CK_ULONG ulSignedDataLength = 0;                                                       \
        NewArrayGuard plainData(pPlainData), signedData(pSignedData);                          \
        m_mechanism = {Mechanism, NULL_PTR, 0};                                                \
        ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)));     \
        ASSERT_TRUE(IsCkrOk( Routine( m_hSession, &m_mechanism, m_ecPrivateKeyObjectHandle_##curve, m_ecPublicKeyObjectHandle_##curve, pPlainData, ulPlainDataLength, &pSignedData, ulSignedDataLength))); \
        plainData.Release();                                                                   \
        signedData.Release();                                                                  \
    }

// In one call each (SignVerifySinglePart), and in parts of 16384 bytes (SignVerifyMultiPart).
#define EC_SIGN_TEST(TestName, Mechanism, curve) EC_SIGN_DATA_TEST(TestName, Mechanism, curve, SignVerifySinglePart)
#define EC_SIGN_CHUNKED_TEST(TestName, Mechanism, curve) EC_SIGN_DATA_TEST(TestName, Mechanism, curve, SignVerifyMultiPart)

EC_SIGN_TEST(SignECDSA_SHA1_secp224k1, CKM_ECDSA_SHA1, secp224k1)
EC_SIGN_TEST(SignECDSA_SHA1_secp224r1, CKM_ECDSA_SHA1, secp224r1)
EC_SIGN_TEST(SignECDSA_SHA1_secp256k1, CKM_ECDSA_SHA1, secp256k1)
EC_SIGN_TEST(SignECDSA_SHA1_secp256r1, CKM_ECDSA_SHA1, secp256r1)
EC_SIGN_TEST(SignECDSA_SHA1_secp384r1, CKM_ECDSA_SHA1, secp384r1)
EC_SIGN_TEST(SignECDSA_SHA1_secp521r1, CKM_ECDSA_SHA1, secp521r1)
EC_SIGN_TEST(SignECDSA_SHA1_X9_62_prime239v1, CKM_ECDSA_SHA1, X9_62_prime239v1)
EC_SIGN_TEST(SignECDSA_SHA1_X9_62_prime239v2, CKM_ECDSA_SHA1, X9_62_prime239v2)
EC_SIGN_TEST(SignECDSA_SHA1_X9_62_prime239v3, CKM_ECDSA_SHA1, X9_62_prime239v3)
EC_SIGN_TEST(SignECDSA_SHA1_bp224r1, CKM_ECDSA_SHA1, bp224r1)
EC_SIGN_TEST(SignECDSA_SHA1_bp256r1, CKM_ECDSA_SHA1, bp256r1)
EC_SIGN_TEST(SignECDSA_SHA1_bp320r1, CKM_ECDSA_SHA1, bp320r1)
EC_SIGN_TEST(SignECDSA_SHA1_bp384r1, CKM_ECDSA_SHA1, bp384r1)
EC_SIGN_TEST(SignECDSA_SHA1_bp512r1, CKM_ECDSA_SHA1, bp512r1)
EC_SIGN_TEST(SignECDSA_SHA1_frp256v1, CKM_ECDSA_SHA1, frp256v1)

EC_SIGN_TEST(SignECDSA_SHA224_secp224r1, CKM_ECDSA_SHA224, secp224r1)
EC_SIGN_TEST(SignECDSA_SHA224_secp256k1, CKM_ECDSA_SHA224, secp256k1)
EC_SIGN_TEST(SignECDSA_SHA224_secp256r1, CKM_ECDSA_SHA224, secp256r1)
EC_SIGN_TEST(SignECDSA_SHA224_secp384r1, CKM_ECDSA_SHA224, secp384r1)
EC_SIGN_TEST(SignECDSA_SHA224_secp521r1, CKM_ECDSA_SHA224, secp521r1)
EC_SIGN_TEST(SignECDSA_SHA224_X9_62_prime239v1, CKM_ECDSA_SHA224, X9_62_prime239v1)
EC_SIGN_TEST(SignECDSA_SHA224_X9_62_prime239v2, CKM_ECDSA_SHA224, X9_62_prime239v2)
EC_SIGN_TEST(SignECDSA_SHA224_X9_62_prime239v3, CKM_ECDSA_SHA224, X9_62_prime239v3)
EC_SIGN_TEST(SignECDSA_SHA224_bp224r1, CKM_ECDSA_SHA224, bp224r1)
EC_SIGN_TEST(SignECDSA_SHA224_bp256r1, CKM_ECDSA_SHA224, bp256r1)
EC_SIGN_TEST(SignECDSA_SHA224_bp320r1, CKM_ECDSA_SHA224, bp320r1)
EC_SIGN_TEST(SignECDSA_SHA224_bp384r1, CKM_ECDSA_SHA224, bp384r1)
EC_SIGN_TEST(SignECDSA_SHA224_bp512r1, CKM_ECDSA_SHA224, bp512r1)
EC_SIGN_TEST(SignECDSA_SHA224_frp256v1, CKM_ECDSA_SHA224, frp256v1)

EC_SIGN_TEST(SignECDSA_SHA256_secp224r1, CKM_ECDSA_SHA256, secp224r1)
EC_SIGN_TEST(SignECDSA_SHA256_secp256k1, CKM_ECDSA_SHA256, secp256k1)
EC_SIGN_TEST(SignECDSA_SHA256_secp256r1, CKM_ECDSA_SHA256, secp256r1)
EC_SIGN_TEST(SignECDSA_SHA256_secp384r1, CKM_ECDSA_SHA256, secp384r1)
EC_SIGN_TEST(SignECDSA_SHA256_secp521r1, CKM_ECDSA_SHA256, secp521r1)
EC_SIGN_TEST(SignECDSA_SHA256_X9_62_prime239v1, CKM_ECDSA_SHA256, X9_62_prime239v1)
EC_SIGN_TEST(SignECDSA_SHA256_X9_62_prime239v2, CKM_ECDSA_SHA256, X9_62_prime239v2)
EC_SIGN_TEST(SignECDSA_SHA256_X9_62_prime239v3, CKM_ECDSA_SHA256, X9_62_prime239v3)
EC_SIGN_TEST(SignECDSA_SHA256_bp224r1, CKM_ECDSA_SHA256, bp224r1)
EC_SIGN_TEST(SignECDSA_SHA256_bp256r1, CKM_ECDSA_SHA256, bp256r1)
EC_SIGN_TEST(SignECDSA_SHA256_bp320r1, CKM_ECDSA_SHA256, bp320r1)
EC_SIGN_TEST(SignECDSA_SHA256_bp384r1, CKM_ECDSA_SHA256, bp384r1)
EC_SIGN_TEST(SignECDSA_SHA256_bp512r1, CKM_ECDSA_SHA256, bp512r1)
EC_SIGN_TEST(SignECDSA_SHA256_frp256v1, CKM_ECDSA_SHA256, frp256v1)

EC_SIGN_TEST(SignECDSA_SHA384_secp224r1, CKM_ECDSA_SHA384, secp224r1)
EC_SIGN_TEST(SignECDSA_SHA384_secp256k1, CKM_ECDSA_SHA384, secp256k1)
EC_SIGN_TEST(SignECDSA_SHA384_secp256r1, CKM_ECDSA_SHA384, secp256r1)
EC_SIGN_TEST(SignECDSA_SHA384_secp384r1, CKM_ECDSA_SHA384, secp384r1)
EC_SIGN_TEST(SignECDSA_SHA384_secp521r1, CKM_ECDSA_SHA384, secp521r1)
EC_SIGN_TEST(SignECDSA_SHA384_X9_62_prime239v1, CKM_ECDSA_SHA384, X9_62_prime239v1)
EC_SIGN_TEST(SignECDSA_SHA384_X9_62_prime239v2, CKM_ECDSA_SHA384, X9_62_prime239v2)
EC_SIGN_TEST(SignECDSA_SHA384_X9_62_prime239v3, CKM_ECDSA_SHA384, X9_62_prime239v3)
EC_SIGN_TEST(SignECDSA_SHA384_bp224r1, CKM_ECDSA_SHA384, bp224r1)
EC_SIGN_TEST(SignECDSA_SHA384_bp256r1, CKM_ECDSA_SHA384, bp256r1)
EC_SIGN_TEST(SignECDSA_SHA384_bp320r1, CKM_ECDSA_SHA384, bp320r1)
EC_SIGN_TEST(SignECDSA_SHA384_bp384r1, CKM_ECDSA_SHA384, bp384r1)
EC_SIGN_TEST(SignECDSA_SHA384_bp512r1, CKM_ECDSA_SHA384, bp512r1)
EC_SIGN_TEST(SignECDSA_SHA384_frp256v1, CKM_ECDSA_SHA384, frp256v1)

EC_SIGN_TEST(SignECDSA_SHA512_secp224r1, CKM_ECDSA_SHA512, secp224r1)
EC_SIGN_TEST(SignECDSA_SHA512_secp256k1, CKM_ECDSA_SHA512, secp256k1)
EC_SIGN_TEST(SignECDSA_SHA512_secp256r1, CKM_ECDSA_SHA512, secp256r1)
EC_SIGN_TEST(SignECDSA_SHA512_secp384r1, CKM_ECDSA_SHA512, secp384r1)
EC_SIGN_TEST(SignECDSA_SHA512_secp521r1, CKM_ECDSA_SHA512, secp521r1)
EC_SIGN_TEST(SignECDSA_SHA512_X9_62_prime239v1, CKM_ECDSA_SHA512, X9_62_prime239v1)
EC_SIGN_TEST(SignECDSA_SHA512_X9_62_prime239v2, CKM_ECDSA_SHA512, X9_62_prime239v2)
EC_SIGN_TEST(SignECDSA_SHA512_X9_62_prime239v3, CKM_ECDSA_SHA512, X9_62_prime239v3)
EC_SIGN_TEST(SignECDSA_SHA512_bp224r1, CKM_ECDSA_SHA512, bp224r1)
EC_SIGN_TEST(SignECDSA_SHA512_bp256r1, CKM_ECDSA_SHA512, bp256r1)
EC_SIGN_TEST(SignECDSA_SHA512_bp320r1, CKM_ECDSA_SHA512, bp320r1)
EC_SIGN_TEST(SignECDSA_SHA512_bp384r1, CKM_ECDSA_SHA512, bp384r1)
EC_SIGN_TEST(SignECDSA_SHA512_bp512r1, CKM_ECDSA_SHA512, bp512r1)
EC_SIGN_TEST(SignECDSA_SHA512_frp256v1, CKM_ECDSA_SHA512, frp256v1)

// The SHA-1 names of the X9.62 curves put X9_62 before Chunked.
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_secp224k1, CKM_ECDSA_SHA1, secp224k1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_secp224r1, CKM_ECDSA_SHA1, secp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_secp256k1, CKM_ECDSA_SHA1, secp256k1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_secp256r1, CKM_ECDSA_SHA1, secp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_secp384r1, CKM_ECDSA_SHA1, secp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_secp521r1, CKM_ECDSA_SHA1, secp521r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_X9_62_Chunked_prime239v1, CKM_ECDSA_SHA1, X9_62_prime239v1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_X9_62_Chunked_prime239v2, CKM_ECDSA_SHA1, X9_62_prime239v2)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_X9_62_Chunked_prime239v3, CKM_ECDSA_SHA1, X9_62_prime239v3)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_bp224r1, CKM_ECDSA_SHA1, bp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_bp256r1, CKM_ECDSA_SHA1, bp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_bp320r1, CKM_ECDSA_SHA1, bp320r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_bp384r1, CKM_ECDSA_SHA1, bp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_bp512r1, CKM_ECDSA_SHA1, bp512r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA1_Chunked_frp256v1, CKM_ECDSA_SHA1, frp256v1)

EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_secp224r1, CKM_ECDSA_SHA224, secp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_secp256k1, CKM_ECDSA_SHA224, secp256k1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_secp256r1, CKM_ECDSA_SHA224, secp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_secp384r1, CKM_ECDSA_SHA224, secp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_secp521r1, CKM_ECDSA_SHA224, secp521r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_X9_62_prime239v1, CKM_ECDSA_SHA224, X9_62_prime239v1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_X9_62_prime239v2, CKM_ECDSA_SHA224, X9_62_prime239v2)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_X9_62_prime239v3, CKM_ECDSA_SHA224, X9_62_prime239v3)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_bp224r1, CKM_ECDSA_SHA224, bp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_bp256r1, CKM_ECDSA_SHA224, bp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_bp320r1, CKM_ECDSA_SHA224, bp320r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_bp384r1, CKM_ECDSA_SHA224, bp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_bp512r1, CKM_ECDSA_SHA224, bp512r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA224_Chunked_frp256v1, CKM_ECDSA_SHA224, frp256v1)

EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_secp224r1, CKM_ECDSA_SHA256, secp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_secp256k1, CKM_ECDSA_SHA256, secp256k1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_secp256r1, CKM_ECDSA_SHA256, secp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_secp384r1, CKM_ECDSA_SHA256, secp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_secp521r1, CKM_ECDSA_SHA256, secp521r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_X9_62_prime239v1, CKM_ECDSA_SHA256, X9_62_prime239v1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_X9_62_prime239v2, CKM_ECDSA_SHA256, X9_62_prime239v2)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_X9_62_prime239v3, CKM_ECDSA_SHA256, X9_62_prime239v3)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_bp224r1, CKM_ECDSA_SHA256, bp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_bp256r1, CKM_ECDSA_SHA256, bp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_bp320r1, CKM_ECDSA_SHA256, bp320r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_bp384r1, CKM_ECDSA_SHA256, bp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_bp512r1, CKM_ECDSA_SHA256, bp512r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA256_Chunked_frp256v1, CKM_ECDSA_SHA256, frp256v1)

EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_secp224r1, CKM_ECDSA_SHA384, secp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_secp256k1, CKM_ECDSA_SHA384, secp256k1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_secp256r1, CKM_ECDSA_SHA384, secp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_secp384r1, CKM_ECDSA_SHA384, secp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_secp521r1, CKM_ECDSA_SHA384, secp521r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_X9_62_prime239v1, CKM_ECDSA_SHA384, X9_62_prime239v1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_X9_62_prime239v2, CKM_ECDSA_SHA384, X9_62_prime239v2)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_X9_62_prime239v3, CKM_ECDSA_SHA384, X9_62_prime239v3)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_bp224r1, CKM_ECDSA_SHA384, bp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_bp256r1, CKM_ECDSA_SHA384, bp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_bp320r1, CKM_ECDSA_SHA384, bp320r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_bp384r1, CKM_ECDSA_SHA384, bp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_bp512r1, CKM_ECDSA_SHA384, bp512r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA384_Chunked_frp256v1, CKM_ECDSA_SHA384, frp256v1)

EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_secp224r1, CKM_ECDSA_SHA512, secp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_secp256k1, CKM_ECDSA_SHA512, secp256k1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_secp256r1, CKM_ECDSA_SHA512, secp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_secp384r1, CKM_ECDSA_SHA512, secp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_secp521r1, CKM_ECDSA_SHA512, secp521r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_X9_62_prime239v1, CKM_ECDSA_SHA512, X9_62_prime239v1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_X9_62_prime239v2, CKM_ECDSA_SHA512, X9_62_prime239v2)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_X9_62_prime239v3, CKM_ECDSA_SHA512, X9_62_prime239v3)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_bp224r1, CKM_ECDSA_SHA512, bp224r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_bp256r1, CKM_ECDSA_SHA512, bp256r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_bp320r1, CKM_ECDSA_SHA512, bp320r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_bp384r1, CKM_ECDSA_SHA512, bp384r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_bp512r1, CKM_ECDSA_SHA512, bp512r1)
EC_SIGN_CHUNKED_TEST(SignECDSA_SHA512_Chunked_frp256v1, CKM_ECDSA_SHA512, frp256v1)

// ECDH derivation ---------------------------------------------------------------------------

// Derives a 16-byte AES token key with ECDH on the curve's key pair, its own public point
// standing in for the peer's, and the token's SHA-256 digest of the data file as the shared
// data of the key derivation function. The new key is left on the token.
#define EC_DERIVE_TEST(TestName, curve)                                                        \
    TEST_F(libC_GTest_EC, TestName)                                                            \
    {                                                                                          \
        CK_BYTE_PTR pPlainData = NULL_PTR;                                                     \
        CK_ULONG ulPlainDataLength = 0;                                                        \
        CK_BYTE_PTR pDigestedData = NULL_PTR;                                                  \
        CK_ULONG ulDigestedDataLength = 0;                                                     \
        CK_OBJECT_HANDLE hNewKey = 0;                                                          \
        NewArrayGuard plainData(pPlainData), digestedData(pDigestedData);                      \
        ASSERT_TRUE(IsCkrOk(ReadBinaryFile(&pPlainData, &ulPlainDataLength, g_DataFile)));     \
        ASSERT_TRUE(IsCkrOk(DigestData(CKM_SHA256, pPlainData, ulPlainDataLength, &pDigestedData, &ulDigestedDataLength))); \
        ASSERT_TRUE(IsCkrOk( DeriveEC( m_hSession, m_ecPublicKeyObjectHandle_##curve, m_ecPrivateKeyObjectHandle_##curve, pDigestedData, ulDigestedDataLength, hNewKey))); \
        plainData.Release();                                                                   \
        digestedData.Release();                                                                \
    }

EC_DERIVE_TEST(DeriveECDH1_secp224r1, secp224r1)
EC_DERIVE_TEST(DeriveECDH1_secp256k1, secp256k1)
EC_DERIVE_TEST(DeriveECDH1_secp256r1, secp256r1)
EC_DERIVE_TEST(DeriveECDH1_secp384r1, secp384r1)
EC_DERIVE_TEST(DeriveECDH1_secp521r1, secp521r1)
EC_DERIVE_TEST(DeriveECDH1_X9_62_prime239v1, X9_62_prime239v1)
EC_DERIVE_TEST(DeriveECDH1_X9_62_prime239v2, X9_62_prime239v2)
EC_DERIVE_TEST(DeriveECDH1_X9_62_prime239v3, X9_62_prime239v3)
EC_DERIVE_TEST(DeriveECDH1_bp224r1, bp224r1)
EC_DERIVE_TEST(DeriveECDH1_bp256r1, bp256r1)
EC_DERIVE_TEST(DeriveECDH1_bp320r1, bp320r1)
EC_DERIVE_TEST(DeriveECDH1_bp384r1, bp384r1)
EC_DERIVE_TEST(DeriveECDH1_bp512r1, bp512r1)
EC_DERIVE_TEST(DeriveECDH1_frp256v1, frp256v1)

// Import and export on secp224k1 ------------------------------------------------------------

// Reads two attributes of a key with the two-call pattern (the values only when the lengths
// came back), then destroys both keys of the pair. `hRead` is hPublic or hPrivate;
// `valueRead` is the second read as the test writes it, which its failure report names.
#define EC_READ_AND_DESTROY_PAIR(hRead, valueRead)                                             \
    do {                                                                                       \
        AttributeValuesGuard values(attribute, cAttrs);                                        \
        CK_RV rv = m_pFList->C_GetAttributeValue(m_hSession, hRead, attribute, cAttrs);        \
        EXPECT_EQ(CKR_OK, rv);                                                                 \
        if (rv == CKR_OK) {                                                                    \
            for (CK_ULONG i = 0; i < cAttrs; ++i)                                              \
                attribute[i].pValue = std::malloc(attribute[i].ulValueLen);                    \
            EXPECT_EQ(CKR_OK, rv = valueRead);                                                 \
        }                                                                                      \
        values.Release();                                                                      \
        EXPECT_TRUE(IsCkrOk( m_pFList->C_DestroyObject( m_hSession, hPublic ) ));              \
        EXPECT_TRUE(IsCkrOk( m_pFList->C_DestroyObject( m_hSession, hPrivate ) ));             \
    } while (0)

TEST_F(libC_GTest_EC, ExportPublic)
{
    PREPARE_EC_GENERATION(secp224k1);
    ASSERT_FUNCTION_LIST();
    CK_OBJECT_HANDLE hPublic = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE hPrivate = CK_INVALID_HANDLE;
    ASSERT_TRUE(IsCkrOk( m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_ecKeyPairPublicGenAttributes, EC_PUBLIC_KEY_GEN_ATTR_CNT, m_ecKeyPairPrivateGenAttributes, EC_PRIVATE_KEY_GEN_ATTR_CNT, &hPublic, &hPrivate)));

    CK_ATTRIBUTE attribute[] = {{CKA_EC_PARAMS, NULL_PTR, 0}, {CKA_EC_POINT, NULL_PTR, 0}};
    const CK_ULONG cAttrs = sizeof(attribute) / sizeof(attribute[0]);
    EC_READ_AND_DESTROY_PAIR(hPublic, m_pFList->C_GetAttributeValue( m_hSession, hPublic, attribute, cAttrs));
}

TEST_F(libC_GTest_EC, ExportPrivate)
{
    PREPARE_EC_GENERATION(secp224k1);
    ASSERT_FUNCTION_LIST();
    // A private key that is neither sensitive nor unextractable, so its value can be read.
    CK_ATTRIBUTE privAttrs[] = {
        {CKA_CLASS, &m_ecPrivateKeyClass, sizeof(m_ecPrivateKeyClass)},
        {CKA_KEY_TYPE, &m_ecKey, sizeof(m_ecKey)},
        {CKA_TOKEN, &m_bTrue, sizeof(m_bTrue)},
        {CKA_PRIVATE, &m_bTrue, sizeof(m_bTrue)},
        {CKA_SENSITIVE, &m_bFalse, sizeof(m_bFalse)},
        {CKA_SIGN, &m_bTrue, sizeof(m_bTrue)},
        {CKA_DERIVE, &m_bTrue, sizeof(m_bTrue)},
        {CKA_EXTRACTABLE, &m_bTrue, sizeof(m_bTrue)},
    };
    const CK_ULONG cPrivAttrs = sizeof(privAttrs) / sizeof(privAttrs[0]);
    CK_OBJECT_HANDLE hPublic = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE hPrivate = CK_INVALID_HANDLE;
    ASSERT_TRUE(IsCkrOk( m_pFList->C_GenerateKeyPair( m_hSession, &m_mechanism, m_ecKeyPairPublicGenAttributes, EC_PUBLIC_KEY_GEN_ATTR_CNT, privAttrs, cPrivAttrs, &hPublic, &hPrivate)));

    CK_ATTRIBUTE attribute[] = {{CKA_EC_PARAMS, NULL_PTR, 0}, {CKA_VALUE, NULL_PTR, 0}};
    const CK_ULONG cAttrs = sizeof(attribute) / sizeof(attribute[0]);
    EC_READ_AND_DESTROY_PAIR(hPrivate, m_pFList->C_GetAttributeValue(m_hSession, hPrivate, attribute, cAttrs));
}

// Creates an object from a template into the handle variable `hObject`, checks the handle
// and destroys the object again.
#define EC_CREATE_AND_DESTROY(attrs, cAttrs, hObject)                                          \
    CK_OBJECT_HANDLE hObject = CK_INVALID_HANDLE;                                              \
    ASSERT_TRUE(IsCkrOk(m_pFList->C_CreateObject(m_hSession, attrs, cAttrs, &hObject)));       \
    EXPECT_TRUE(hObject != CK_INVALID_HANDLE);                                                 \
    EXPECT_TRUE(IsCkrOk(m_pFList->C_DestroyObject(m_hSession, hObject)))

TEST_F(libC_GTest_EC, ImportPublic)
{
    static const char label[] = "libC_GTest_EC-ImportPublic";
    static const char id[] = "libC_GTest_EC-ImportPublic-ID";
    // An uncompressed point on secp224k1 in a DER OCTET STRING.
    static const CK_BYTE point[] = {
        0x04, 0x39, 0x04, 0xBD, 0x71, 0x94, 0x3B, 0x7B, 0x93, 0xE6, 0xF3, 0x70, 0xEE, 0x7A, 0xF3,
        0xDB, 0x6C, 0x8A, 0xFB, 0x61, 0x14, 0x68, 0x89, 0x15, 0xB8, 0x52, 0xC8, 0x50, 0x14, 0x2A,
        0xF7, 0x95, 0xFA, 0xCF, 0x2B, 0x97, 0x03, 0x8D, 0x93, 0xA1, 0x3B, 0x09, 0xC8, 0x12, 0xB8,
        0xE2, 0x3F, 0xE7, 0xBA, 0xF5, 0x48, 0xAD, 0xF4, 0x91, 0x79, 0xC6, 0xC0, 0x53, 0x30};
    static_assert(sizeof(point) == 59, "DER header and a 57-byte uncompressed point");
    ASSERT_FUNCTION_LIST();
    // The label without its terminator, the ID with it.
    CK_ATTRIBUTE publAttrs[] = {
        {CKA_CLASS, &m_ecPublicKeyClass, sizeof(m_ecPublicKeyClass)},
        {CKA_KEY_TYPE, &m_ecKey, sizeof(m_ecKey)},
        {CKA_LABEL, const_cast<char*>(label), sizeof(label) - 1},
        {CKA_ID, const_cast<char*>(id), sizeof(id)},
        {CKA_TOKEN, &m_bTrue, sizeof(m_bTrue)},
        {CKA_PRIVATE, &m_bFalse, sizeof(m_bFalse)},
        {CKA_VERIFY, &m_bTrue, sizeof(m_bTrue)},
        {CKA_DERIVE, &m_bTrue, sizeof(m_bTrue)},
        {CKA_EC_PARAMS, const_cast<CK_BYTE*>(ecParams_secp224k1), sizeof(ecParams_secp224k1)},
        {CKA_EC_POINT, const_cast<CK_BYTE*>(point), sizeof(point)},
    };
    const CK_ULONG cPublAttrs = sizeof(publAttrs) / sizeof(publAttrs[0]);
    EC_CREATE_AND_DESTROY(publAttrs, cPublAttrs, hPublic);
}

TEST_F(libC_GTest_EC, ImportPrivate)
{
    static const char label[] = "libC_GTest_EC-ImportPrivate";
    static const char id[] = "libC_GTest_EC-ImportPrivate-ID";
    // A secp224k1 scalar (any 28-byte value from 1 up lies below the curve's order).
    CK_BYTE value[28];
    for (CK_ULONG i = 0; i < sizeof(value); ++i)
        value[i] = static_cast<CK_BYTE>(0x11 + i);
    ASSERT_FUNCTION_LIST();
    CK_ATTRIBUTE privAttrs[] = {
        {CKA_CLASS, &m_ecPrivateKeyClass, sizeof(m_ecPrivateKeyClass)},
        {CKA_KEY_TYPE, &m_ecKey, sizeof(m_ecKey)},
        {CKA_LABEL, const_cast<char*>(label), sizeof(label) - 1},
        {CKA_ID, const_cast<char*>(id), sizeof(id)},
        {CKA_TOKEN, &m_bTrue, sizeof(m_bTrue)},
        {CKA_PRIVATE, &m_bTrue, sizeof(m_bTrue)},
        {CKA_SENSITIVE, &m_bFalse, sizeof(m_bFalse)},
        {CKA_SIGN, &m_bTrue, sizeof(m_bTrue)},
        {CKA_DERIVE, &m_bTrue, sizeof(m_bTrue)},
        {CKA_EXTRACTABLE, &m_bTrue, sizeof(m_bTrue)},
        {CKA_EC_PARAMS, const_cast<CK_BYTE*>(ecParams_secp224k1), sizeof(ecParams_secp224k1)},
        {CKA_VALUE, value, sizeof(value)},
    };
    const CK_ULONG cPrivAttrs = sizeof(privAttrs) / sizeof(privAttrs[0]);
    EC_CREATE_AND_DESTROY(privAttrs, cPrivAttrs, hPrivate);
}

TEST_F(libC_GTest_EC, CleanupPartition)
{
    ASSERT_EQ(CKR_OK, CleanupPartition());
}
