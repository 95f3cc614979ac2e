// The fixed values from which the session and object-management test cases build their
// objects, and the entry shapes of their attribute templates. The arrays are writable only
// because CK_ATTRIBUTE holds a plain pointer; no test writes to them.
#pragma once

#include "libC_GTest_Fixture.h"
#include "pkcs11.h"

namespace TestValues {

extern CK_BYTE certificateValue[15]; // 00 01 02 ... 0E
extern CK_BYTE secretKeyValue[16];   // the AES and Camellia key value
extern CK_BYTE des3KeyValue[24];
extern CK_OBJECT_CLASS dataObjectClass; // CKO_DATA
extern CK_BYTE dataObjectId[4];         // DE AD BE EF, the CKA_OBJECT_ID of data objects

// One consistent 1024-bit RSA key; its public exponent is 01 00 01
// (libC_GTest_P11::m_rsaPublicExponent).
extern CK_BYTE rsaModulus[128];
extern CK_BYTE rsaPrivateExponent[128];
extern CK_BYTE rsaPrime1[64];
extern CK_BYTE rsaPrime2[64];
extern CK_BYTE rsaExponent1[64];
extern CK_BYTE rsaExponent2[64];
extern CK_BYTE rsaCoefficient[64];

// A zero byte followed by a 1024-bit modulus that is not the test key's.
extern CK_BYTE rsaPublicModulus129[129];

// DSA domain parameters; p and g also serve the Diffie-Hellman keys.
extern CK_BYTE dsaPrime[128];
extern CK_BYTE dsaSubprime[20];
extern CK_BYTE dsaBase[128];
// The CKA_VALUE of every DSA and Diffie-Hellman test key, public and private.
extern CK_BYTE dsaKeyValue[128];

} // namespace TestValues

// Template entries: a CK_BBOOL, a CK_ULONG (class, key type and the like), a byte array
// with its whole size, and a text literal without or with its terminating NUL.
#define BOOL_ENTRY(type, flag) {type, &(flag), sizeof(CK_BBOOL)}
#define ULONG_ENTRY(type, variable) {type, &(variable), sizeof(CK_ULONG)}
#define BYTES_ENTRY(type, array) {type, (array), sizeof(array)}
#define TEXT_ENTRY(type, literal) {type, const_cast<char*>(literal), sizeof(literal) - 1}
#define TEXT_Z_ENTRY(type, literal) {type, const_cast<char*>(literal), sizeof(literal)}

// The eight entries that give the RSA test key: modulus, public and private exponent,
// primes, CRT exponents and coefficient.
#define RSA_TEST_KEY_ENTRIES                                                                   \
    BYTES_ENTRY(CKA_MODULUS, TestValues::rsaModulus),                                          \
    BYTES_ENTRY(CKA_PUBLIC_EXPONENT, libC_GTest_P11::m_rsaPublicExponent),                     \
    BYTES_ENTRY(CKA_PRIVATE_EXPONENT, TestValues::rsaPrivateExponent),                         \
    BYTES_ENTRY(CKA_PRIME_1, TestValues::rsaPrime1),                                           \
    BYTES_ENTRY(CKA_PRIME_2, TestValues::rsaPrime2),                                           \
    BYTES_ENTRY(CKA_EXPONENT_1, TestValues::rsaExponent1),                                     \
    BYTES_ENTRY(CKA_EXPONENT_2, TestValues::rsaExponent2),                                     \
    BYTES_ENTRY(CKA_COEFFICIENT, TestValues::rsaCoefficient)

// The eleven entries of a data object as the creation and fallback tests make it, with its
// label (a char array of the test's, without terminating NUL) and its CKA_PRIVATE flag:
// CKA_TOKEN appears twice, both times true.
#define DATA_OBJECT_TEMPLATE(label, privateFlag)                                               \
    {                                                                                          \
        ULONG_ENTRY(CKA_CLASS, TestValues::dataObjectClass),                                   \
        BOOL_ENTRY(CKA_TOKEN, libC_GTest_P11::m_bTrue),                                        \
        {CKA_LABEL, (label), sizeof(label) - 1},                                               \
        TEXT_ENTRY(CKA_APPLICATION, "GTest"),                                                  \
        TEXT_Z_ENTRY(CKA_VALUE, "GTest Data"),                                                 \
        BYTES_ENTRY(CKA_OBJECT_ID, TestValues::dataObjectId),                                  \
        BOOL_ENTRY(CKA_TOKEN, libC_GTest_P11::m_bTrue),                                        \
        BOOL_ENTRY(CKA_PRIVATE, privateFlag),                                                  \
        BOOL_ENTRY(CKA_MODIFIABLE, libC_GTest_P11::m_bTrue),                                   \
        BOOL_ENTRY(CKA_COPYABLE, libC_GTest_P11::m_bTrue),                                     \
        BOOL_ENTRY(CKA_DESTROYABLE, libC_GTest_P11::m_bTrue),                                  \
    }
