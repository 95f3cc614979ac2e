// The data preparations and mechanism records of the symmetric test cases.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "SymmetricMechanisms.h"
#include "libC_GTest_Fixture.h"

namespace {

TEST(SymmetricDataPreparation, EcbZeroPaddingAlwaysAddsOneToAWholeUnit)
{
    struct Row {
        CK_ULONG length, unit, padded;
    };
    const Row rows[] = {
        {1, 4096, 4096}, {4096, 4096, 8192}, {4097, 4096, 8192}, {1, 256, 256},
        {255, 256, 256}, {256, 256, 512},    {4096, 256, 4352},  {16384, 256, 16640},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.length) + " in units of " + std::to_string(row.unit));
        EXPECT_EQ(row.padded, ZeroPaddedLength(row.length, row.unit));
        const std::vector<CK_BYTE> data(row.length, 0xA5);
        CK_BYTE_PTR padded = NewZeroPaddedCopy(data.data(), row.length, row.unit);
        EXPECT_EQ(0, std::memcmp(padded, data.data(), row.length));
        EXPECT_EQ(std::vector<CK_BYTE>(row.padded - row.length, 0),
                  std::vector<CK_BYTE>(padded + row.length, padded + row.padded));
        delete[] padded;
    }
}

TEST(SymmetricDataPreparation, CbcCutDownKeepsWholeUnitsOnly)
{
    EXPECT_EQ(992u, CutDownToUnit(1000, 16));
    EXPECT_EQ(1024u, CutDownToUnit(1024, 32));
    EXPECT_EQ(0u, CutDownToUnit(15, 16));
    EXPECT_EQ(39984u, CutDownToUnit(40000, 24));
}

// The parameters are the same bytes in every test, GCM and GMAC share the IV, and only
// the records of CBC, CTR, GCM and GMAC carry a parameter.
TEST(SymmetricMechanismRecords, FixedParametersPerMechanism)
{
    CK_MECHANISM& mechanism = libC_GTest_P11::m_mechanism;
    SymmetricParameters first{}, second{};

    SetSymmetricMechanism(CKM_AES_GCM, first);
    const CK_GCM_PARAMS gcm = first.gcm;
    EXPECT_EQ(&first.gcm, mechanism.pParameter);
    EXPECT_EQ(40u, mechanism.ulParameterLen);
    EXPECT_EQ(12u, gcm.ulIvLen);
    EXPECT_EQ(20u, gcm.ulAADLen);
    EXPECT_EQ(64u, gcm.ulTagBits);
    SetSymmetricMechanism(CKM_AES_GMAC, second);
    EXPECT_EQ(0, std::memcmp(gcm.pIv, second.gcm.pIv, 12));
    EXPECT_EQ(NULL_PTR, second.gcm.pAAD);
    EXPECT_EQ(0u, second.gcm.ulAADLen);
    EXPECT_EQ(0u, second.gcm.ulTagBits);

    SetSymmetricMechanism(CKM_AES_CTR, first);
    SetSymmetricMechanism(CKM_AES_CTR, second);
    EXPECT_EQ(24u, mechanism.ulParameterLen);
    EXPECT_EQ(128u, second.ctr.ulCounterBits);
    EXPECT_EQ(0, std::memcmp(first.ctr.cb, second.ctr.cb, 16));

    for (CK_MECHANISM_TYPE cbc : {CKM_AES_CBC, CKM_AES_CBC_PAD, CKM_CAMELLIA_CBC, CKM_CAMELLIA_CBC_PAD, CKM_DES3_CBC}) {
        SetSymmetricMechanism(cbc, first);
        EXPECT_EQ(cbc, mechanism.mechanism);
        EXPECT_EQ(libC_GTest_P11::m_iv16, mechanism.pParameter);
        EXPECT_EQ(16u, mechanism.ulParameterLen);
    }
    for (CK_MECHANISM_TYPE plain : {CKM_AES_ECB, CKM_AES_MAC, CKM_AES_CMAC, CKM_CAMELLIA_ECB, CKM_DES3_ECB}) {
        SetSymmetricMechanism(plain, first);
        EXPECT_EQ(plain, mechanism.mechanism);
        EXPECT_EQ(NULL_PTR, mechanism.pParameter);
        EXPECT_EQ(0u, mechanism.ulParameterLen);
    }
}

} // namespace
