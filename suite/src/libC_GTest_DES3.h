// Test case libC_GTest_DES3: a DES3 key of the smallest and one of the largest advertised
// size; CBC encryption refused; ECB round trips in one call and with the part loops
// written out. Its CleanupPartition test is held back to HeldBackCleanups.h.
#pragma once

#include "SymmetricTestShapes.h"

SECRET_KEY_GENERATE_PREDICATE_TEST(libC_GTest_DES3, Generate_MinSize, CKM_DES3_KEY_GEN, ulMinKeySize, m_des3Key, m_des3KeyMinSizeObjectHandle)
SECRET_KEY_GENERATE_PREDICATE_TEST(libC_GTest_DES3, Generate_MaxSize, CKM_DES3_KEY_GEN, ulMaxKeySize, m_des3Key, m_des3KeyMaxSizeObjectHandle)

// The refusal must not depend on the key: all four pass the smallest one.
ENCRYPT_INIT_REFUSAL_TEST(libC_GTest_DES3, EncryptCBC_MinSize_Mechanism_Invalid, CKM_DES3_CBC, m_des3KeyMinSizeObjectHandle)
ENCRYPT_INIT_REFUSAL_TEST(libC_GTest_DES3, EncryptCBC_Chunked_MinSize_Mechanism_Invalid, CKM_DES3_CBC, m_des3KeyMinSizeObjectHandle)
ENCRYPT_INIT_REFUSAL_TEST(libC_GTest_DES3, EncryptCBC_MaxSize_Mechanism_Invalid, CKM_DES3_CBC, m_des3KeyMinSizeObjectHandle)
ENCRYPT_INIT_REFUSAL_TEST(libC_GTest_DES3, EncryptCBC_Chunked_MaxSize_Mechanism_Invalid, CKM_DES3_CBC, m_des3KeyMinSizeObjectHandle)

ECB_SINGLE_PART_TEST(libC_GTest_DES3, EncryptECB_MinSize, CKM_DES3_ECB, m_des3KeyMinSizeObjectHandle)
ECB_WRITTEN_OUT_TEST(libC_GTest_DES3, EncryptECB_Chunked_MinSize, CKM_DES3_ECB, m_des3KeyMinSizeObjectHandle, ASSERT_OK_EQUALITY, ASSERT_OK_TIGHT)
ECB_SINGLE_PART_TEST(libC_GTest_DES3, EncryptECB_MaxSize, CKM_DES3_ECB, m_des3KeyMaxSizeObjectHandle)
ECB_WRITTEN_OUT_TEST(libC_GTest_DES3, EncryptECB_Chunked_MaxSize, CKM_DES3_ECB, m_des3KeyMaxSizeObjectHandle, ASSERT_OK_TIGHT, ASSERT_OK_TIGHT)
