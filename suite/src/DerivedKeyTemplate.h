// The template of the AES keys that the derivation tests derive.
#pragma once

#include "libC_GTest_Fixture.h"

// The initialiser of a 14-entry CK_ATTRIBUTE array: a sensitive, private AES token key
// that encrypts, decrypts, wraps and unwraps and does nothing else, of the number of bytes
// in the CK_ULONG variable `valueLen`.
#define DERIVED_AES_KEY_TEMPLATE(valueLen)                                                     \
    {                                                                                          \
        {CKA_TOKEN, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                               \
        {CKA_SENSITIVE, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                           \
        {CKA_MODIFIABLE, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                          \
        {CKA_PRIVATE, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                             \
        {CKA_ENCRYPT, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                             \
        {CKA_DECRYPT, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                             \
        {CKA_SIGN, &libC_GTest_P11::m_bFalse, sizeof(CK_BBOOL)},                               \
        {CKA_VERIFY, &libC_GTest_P11::m_bFalse, sizeof(CK_BBOOL)},                             \
        {CKA_WRAP, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                                \
        {CKA_UNWRAP, &libC_GTest_P11::m_bTrue, sizeof(CK_BBOOL)},                              \
        {CKA_DERIVE, &libC_GTest_P11::m_bFalse, sizeof(CK_BBOOL)},                             \
        {CKA_KEY_TYPE, &libC_GTest_P11::m_aesKey, sizeof(CK_KEY_TYPE)},                        \
        {CKA_VALUE_LEN, &(valueLen), sizeof(CK_ULONG)},                                        \
        {CKA_CLASS, &libC_GTest_P11::m_secretKeyClass, sizeof(CK_OBJECT_CLASS)},               \
    }
