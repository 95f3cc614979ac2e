// The key-pair and derivation routines of the DSA and DH cases against the fake token:
// the values they read reach the token as read, and no buffer outlives a routine or is
// taken over from an earlier one, however the token answers.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "DomainParameterKeys.h"
#include "FakeTokenFixture.h"

namespace {

using Bytes = std::vector<CK_BYTE>;
using DomainKeyRoutines = FakeTokenTest;

const std::map<CK_ATTRIBUTE_TYPE, Bytes> kDomainValues = {
    {CKA_PRIME, {0xC7, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B}},
    {CKA_SUBPRIME, {0xA1, 0x11, 0x12, 0x13, 0x14, 0x15}},
    {CKA_BASE, {0x02}},
};

Bytes ValueOf(const CK_ATTRIBUTE& attribute)
{
    const CK_BYTE* bytes = static_cast<const CK_BYTE*>(attribute.pValue);
    return bytes == NULL_PTR ? Bytes() : Bytes(bytes, bytes + attribute.ulValueLen);
}

const CK_ATTRIBUTE* Find(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type)
{
    for (CK_ULONG i = 0; i < count; ++i)
        if (attributes[i].type == type)
            return &attributes[i];
    return nullptr;
}

// A domain-parameter object of kDomainValues, read by a length query without values and
// then a read into the buffers.
void DomainObject()
{
    auto reads = std::make_shared<int>(0);
    TheFakeToken().C_GetAttributeValue = [reads](CK_SESSION_HANDLE, CK_OBJECT_HANDLE,
                                                 CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        const bool query = ++*reads == 1;
        for (CK_ULONG i = 0; i < count; ++i) {
            const Bytes& value = kDomainValues.at(attributes[i].type);
            if (query) {
                EXPECT_EQ(nullptr, attributes[i].pValue) << "a value left from before";
                EXPECT_EQ(0u, attributes[i].ulValueLen) << "a length left from before";
            } else if (attributes[i].ulValueLen >= value.size()) {
                std::memcpy(attributes[i].pValue, value.data(), value.size());
            }
            attributes[i].ulValueLen = value.size();
        }
        return CKR_OK;
    };
}

void ExpectNoValues(const CK_ATTRIBUTE* attributes, CK_ULONG count, const char* list)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        EXPECT_EQ(nullptr, attributes[i].pValue) << list << " entry " << i;
        EXPECT_EQ(0u, attributes[i].ulValueLen) << list << " entry " << i;
    }
}

// A value and a length that a failed earlier test left in a template.
void LeaveStaleValue(CK_ATTRIBUTE& attribute)
{
    attribute.pValue = std::malloc(5);
    attribute.ulValueLen = 5;
}

TEST_F(DomainKeyRoutines, DSAKeyPairTakesTheDomainValuesAndKeepsNone)
{
    for (const CK_RV generation : {CKR_OK, CKR_DEVICE_ERROR}) {
        SCOPED_TRACE(generation);
        ResetFakeToken();
        DomainObject();
        LeaveStaleValue(P11::m_dsaParamTemplate[1]);
        Fake().C_GenerateKeyPair = [&](CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism,
                                       CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount,
                                       CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                                       CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey) {
            EXPECT_EQ(static_cast<CK_MECHANISM_TYPE>(CKM_DSA_KEY_PAIR_GEN), mechanism->mechanism);
            EXPECT_EQ(3u, publicCount);
            for (CK_ULONG i = 0; i < publicCount; ++i)
                EXPECT_EQ(kDomainValues.at(publicTemplate[i].type), ValueOf(publicTemplate[i]));
            EXPECT_EQ(nullptr, privateTemplate);
            EXPECT_EQ(0u, privateCount);
            *publicKey = 11;
            *privateKey = 12;
            return generation;
        };

        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        const auto failures = RecordFailures(
            [&] { DomainParameterKeys::GenerateDSAKeyPair(5, publicKey, privateKey); });
        EXPECT_EQ(generation == CKR_OK ? 0u : 1u, failures.size());
        EXPECT_EQ(11u, publicKey);
        EXPECT_EQ(12u, privateKey);
        ExpectNoValues(P11::m_dsaParamTemplate, 3, "m_dsaParamTemplate");
    }
}

struct DHKeyPairRow {
    const char* what;
    CK_ULONG CK_MECHANISM_INFO::*valueBitsOf;
    bool mechanismReported;
    CK_RV generation;
    CK_ULONG expectedValueBits;
    size_t expectedFailures;
};

TEST_F(DomainKeyRoutines, DHKeyPairRepeatsTheDomainValuesAndKeepsNone)
{
    const DHKeyPairRow rows[] = {
        {"smallest size", &CK_MECHANISM_INFO::ulMinKeySize, true, CKR_OK, 512, 0},
        {"largest size, refused", &CK_MECHANISM_INFO::ulMaxKeySize, true, CKR_DEVICE_ERROR, 2048, 1},
        {"no record of the mechanism", &CK_MECHANISM_INFO::ulMinKeySize, false, CKR_OK, 0, 1},
    };
    for (const DHKeyPairRow& row : rows) {
        SCOPED_TRACE(row.what);
        ResetFakeToken();
        P11::m_mechInfos.clear();
        if (row.mechanismReported)
            P11::m_mechInfos[CKM_DH_PKCS_KEY_PAIR_GEN].reset(new CK_MECHANISM_INFO{512, 2048, 0});
        DomainObject();
        LeaveStaleValue(P11::m_dhParamTemplate[0]);
        Fake().C_GenerateKeyPair = [&](CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism,
                                       CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount,
                                       CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                                       CK_OBJECT_HANDLE_PTR, CK_OBJECT_HANDLE_PTR) {
            EXPECT_EQ(static_cast<CK_MECHANISM_TYPE>(CKM_DH_PKCS_KEY_PAIR_GEN), mechanism->mechanism);
            EXPECT_EQ(7u, publicCount);
            EXPECT_EQ(8u, privateCount);
            for (CK_ATTRIBUTE_TYPE type : {CKA_PRIME, CKA_BASE}) {
                EXPECT_EQ(kDomainValues.at(type), ValueOf(*Find(publicTemplate, publicCount, type)));
                EXPECT_EQ(kDomainValues.at(type), ValueOf(*Find(privateTemplate, privateCount, type)));
            }
            const CK_ATTRIBUTE* valueBits = Find(privateTemplate, privateCount, CKA_VALUE_BITS);
            EXPECT_EQ(sizeof(CK_ULONG), valueBits->ulValueLen);
            EXPECT_EQ(row.expectedValueBits, *static_cast<CK_ULONG*>(valueBits->pValue));
            return row.generation;
        };

        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        const auto failures = RecordFailures([&] {
            DomainParameterKeys::GenerateDHKeyPair(5, row.valueBitsOf, publicKey, privateKey);
        });
        EXPECT_EQ(row.expectedFailures, failures.size());
        EXPECT_EQ(row.mechanismReported ? 1u : 0u, Fake().CallCount("C_GenerateKeyPair"));
        ExpectNoValues(P11::m_dhParamTemplate, DH_ATTRIBUTE_CNT, "m_dhParamTemplate");
        for (CK_ATTRIBUTE_TYPE type : {CKA_PRIME, CKA_BASE}) {
            ExpectNoValues(Find(P11::m_dhPublicParamTemplate, DH_PUBLIC_KEY_GEN_ATT_CNT, type), 1, "public");
            ExpectNoValues(Find(P11::m_dhPrivateParamTemplate, DH_PRIVATE_KEY_GEN_ATT_CNT, type), 1, "private");
        }
        ExpectNoValues(Find(P11::m_dhPrivateParamTemplate, DH_PRIVATE_KEY_GEN_ATT_CNT, CKA_VALUE_BITS), 1, "private");
    }
}

// How the token answers the reading of the public value, whose query reports 8 bytes.
struct DeriveRow {
    const char* what;
    CK_RV secondRead;
    Bytes written;             // by the second read
    CK_ULONG reportedLength;   // by the second read
    bool derives;
    Bytes expectedParameter;
};

TEST_F(DomainKeyRoutines, DHDerivationPassesOnlyWhatTheTokenWrote)
{
    const DeriveRow rows[] = {
        {"the whole value", CKR_OK, {1, 2, 3, 4, 5, 6, 7, 8}, 8, true, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"a shorter value", CKR_OK, {9, 8, 7}, 3, true, {9, 8, 7}},
        {"a length without a value", CKR_OK, {}, 8, true, Bytes(8, 0)},
        {"a failed read", CKR_DEVICE_ERROR, {}, 8, false, {}},
    };
    for (const DeriveRow& row : rows) {
        SCOPED_TRACE(row.what);
        ResetFakeToken();
        P11::m_mechInfos[CKM_AES_KEY_GEN].reset(new CK_MECHANISM_INFO{16, 32, 0});
        Fake().C_GetAttributeValue = [&](CK_SESSION_HANDLE, CK_OBJECT_HANDLE object,
                                         CK_ATTRIBUTE_PTR attribute, CK_ULONG) {
            EXPECT_EQ(21u, object);
            if (attribute->pValue == NULL_PTR) {
                attribute->ulValueLen = 8;
                return CKR_OK;
            }
            std::copy(row.written.begin(), row.written.end(), static_cast<CK_BYTE*>(attribute->pValue));
            attribute->ulValueLen = row.reportedLength;
            return row.secondRead;
        };
        Fake().C_DeriveKey = [&](CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE base,
                                 CK_ATTRIBUTE_PTR attributes, CK_ULONG count, CK_OBJECT_HANDLE_PTR) {
            EXPECT_EQ(static_cast<CK_MECHANISM_TYPE>(CKM_DH_PKCS_DERIVE), mechanism->mechanism);
            const CK_BYTE* parameter = static_cast<const CK_BYTE*>(mechanism->pParameter);
            EXPECT_EQ(row.expectedParameter, Bytes(parameter, parameter + mechanism->ulParameterLen));
            EXPECT_EQ(22u, base);
            EXPECT_EQ(14u, count);
            EXPECT_EQ(16u, *static_cast<CK_ULONG*>(Find(attributes, count, CKA_VALUE_LEN)->pValue));
            return CKR_OK;
        };

        const auto failures = RecordFailures([] { DomainParameterKeys::DeriveAESKey(21, 22); });
        EXPECT_EQ(row.derives ? 1u : 0u, Fake().CallCount("C_DeriveKey"));
        ASSERT_EQ(row.derives ? 0u : 1u, failures.size());
        if (!row.derives) {
            EXPECT_FALSE(failures[0].fatal) << "the second read is checked non-fatally";
        }
    }
}

} // namespace
