// Test case libC_GTest_AES: an AES key of the smallest and one of the largest advertised
// size; CBC, CBC with padding, CTR, GCM and ECB round trips in one call and through the
// shared chunked routines; AES key wrap with and without padding; MAC, CMAC and GMAC.
// Its CleanupPartition test is held back to HeldBackCleanups.h.
#pragma once

#include "SymmetricTestShapes.h"

SECRET_KEY_GENERATE_TEST(libC_GTest_AES, Generate_MinSize, CKM_AES_KEY_GEN, ulMinKeySize, m_aesKey, m_aesKeyMinSizeObjectHandle)
SECRET_KEY_GENERATE_TEST(libC_GTest_AES, Generate_MaxSize, CKM_AES_KEY_GEN, ulMaxKeySize, m_aesKey, m_aesKeyMaxSizeObjectHandle)

CBC_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCBC_MinSize, SINGLE_PART_ROUND_TRIP, CKM_AES_CBC, m_aesKeyMinSizeObjectHandle, CKM_AES_CBC, ulMinKeySize)
CBC_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCBC_Chunked_MinSize, CHUNKED_ROUND_TRIP, CKM_AES_CBC, m_aesKeyMinSizeObjectHandle, CKM_AES_CBC, ulMinKeySize)
CBC_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCBC_MaxSize, SINGLE_PART_ROUND_TRIP, CKM_AES_CBC, m_aesKeyMaxSizeObjectHandle, CKM_AES_CBC, ulMaxKeySize)
CBC_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCBC_Chunked_MaxSize, CHUNKED_ROUND_TRIP, CKM_AES_CBC, m_aesKeyMaxSizeObjectHandle, CKM_AES_CBC, ulMaxKeySize)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCBCPAD_MinSize, SINGLE_PART_ROUND_TRIP, CKM_AES_CBC_PAD, m_aesKeyMinSizeObjectHandle)

WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCTR_MinSize, SINGLE_PART_ROUND_TRIP, CKM_AES_CTR, m_aesKeyMinSizeObjectHandle)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCTR_Chunked_MinSize, CHUNKED_ROUND_TRIP, CKM_AES_CTR, m_aesKeyMinSizeObjectHandle)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCTR_MaxSize, SINGLE_PART_ROUND_TRIP, CKM_AES_CTR, m_aesKeyMaxSizeObjectHandle)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptCTR_Chunked_MaxSize, CHUNKED_ROUND_TRIP, CKM_AES_CTR, m_aesKeyMaxSizeObjectHandle)

WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptGCM_MinSize, SINGLE_PART_ROUND_TRIP, CKM_AES_GCM, m_aesKeyMinSizeObjectHandle)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptGCM_Chunked_MinSize, CHUNKED_ROUND_TRIP, CKM_AES_GCM, m_aesKeyMinSizeObjectHandle)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptGCM_MaxSize, SINGLE_PART_ROUND_TRIP, CKM_AES_GCM, m_aesKeyMaxSizeObjectHandle)
WHOLE_FILE_ROUND_TRIP_TEST(libC_GTest_AES, EncryptGCM_Chunked_MaxSize, CHUNKED_ROUND_TRIP, CKM_AES_GCM, m_aesKeyMaxSizeObjectHandle)

AES_ECB_ROUND_TRIP_TEST(libC_GTest_AES, EncryptECB_MinSize, SINGLE_PART_ROUND_TRIP, m_aesKeyMinSizeObjectHandle)
AES_ECB_ROUND_TRIP_TEST(libC_GTest_AES, EncryptECB_Chunked_MinSize, CHUNKED_ROUND_TRIP, m_aesKeyMinSizeObjectHandle)
AES_ECB_ROUND_TRIP_TEST(libC_GTest_AES, EncryptECB_MaxSize, SINGLE_PART_ROUND_TRIP, m_aesKeyMaxSizeObjectHandle)
AES_ECB_ROUND_TRIP_TEST(libC_GTest_AES, EncryptECB_Chunked_MaxSize, CHUNKED_ROUND_TRIP, m_aesKeyMaxSizeObjectHandle)

// The key named by the size wraps the other one; the unwrapped copy is named after the
// size of the key wrapped.
WRAP_ROUND_TRIP_TEST(libC_GTest_AES, Wrap_MinSize, m_aesKeyMinSizeObjectHandle, m_aesKeyMaxSizeObjectHandle, m_aesUnwrappedKeyMaxSizeObjectHandle, ulMaxKeySize)
WRAP_ROUND_TRIP_TEST(libC_GTest_AES, Wrap_MaxSize, m_aesKeyMaxSizeObjectHandle, m_aesKeyMinSizeObjectHandle, m_aesUnwrappedKeyMinSizeObjectHandle, ulMinKeySize)
WRAP_PAD_LENGTH_TEST(libC_GTest_AES, WrapPAD_MinSize, m_aesKeyMinSizeObjectHandle, m_aesKeyMaxSizeObjectHandle)
WRAP_PAD_LENGTH_TEST(libC_GTest_AES, WrapPAD_MaxSize, m_aesKeyMaxSizeObjectHandle, m_aesKeyMinSizeObjectHandle)

MAC_TEST(libC_GTest_AES, SignMAC_MinSize, CKM_AES_MAC, m_aesKeyMinSizeObjectHandle)
MAC_TEST(libC_GTest_AES, SignMAC_MaxSize, CKM_AES_MAC, m_aesKeyMaxSizeObjectHandle)
MAC_TEST(libC_GTest_AES, SignCMAC_MinSize, CKM_AES_CMAC, m_aesKeyMinSizeObjectHandle)
MAC_TEST(libC_GTest_AES, SignCMAC_MaxSize, CKM_AES_CMAC, m_aesKeyMaxSizeObjectHandle)
MAC_TEST(libC_GTest_AES, SignGMAC_MinSize, CKM_AES_GMAC, m_aesKeyMinSizeObjectHandle)
MAC_TEST(libC_GTest_AES, SignGMAC_MaxSize, CKM_AES_GMAC, m_aesKeyMaxSizeObjectHandle)
