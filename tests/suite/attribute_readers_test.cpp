// The two-call attribute read, its release, and the readers' accept rules.
#include <cstring>

#include "FakeTokenFixture.h"

namespace {

using AttributeReaders = FakeTokenTest;

// A token that reports length 4 for every attribute (CK_UNAVAILABLE_INFORMATION for
// CKA_VALUE when `valueUnavailable`) and answers `result` to the reading call.
void AttributesOfLengthFour(CK_RV result, bool valueUnavailable = false)
{
    TheFakeToken().C_GetAttributeValue = [=](CK_SESSION_HANDLE, CK_OBJECT_HANDLE,
                                             CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        const bool reading = count > 0 && attributes[0].pValue != NULL_PTR;
        for (CK_ULONG i = 0; i < count; ++i) {
            if (valueUnavailable && attributes[i].type == CKA_VALUE) {
                attributes[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
                continue;
            }
            if (attributes[i].pValue != NULL_PTR)
                std::memset(attributes[i].pValue, 0xA5, 4);
            attributes[i].ulValueLen = 4;
        }
        return reading ? result : static_cast<CK_RV>(CKR_OK);
    };
}

TEST_F(AttributeReaders, AllocatesWhatTheLengthQueryReports)
{
    AttributesOfLengthFour(CKR_OBJECT_HANDLE_INVALID, true);
    CK_ATTRIBUTE attributes[] = {{CKA_MODULUS, NULL_PTR, 0}, {CKA_VALUE, NULL_PTR, 0}};
    AttributeValuesGuard values(attributes, 2);
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, P11::GetAttributeValuesWithAllocation(1, 2, attributes, 2))
        << "the answer of the second call";
    ASSERT_NE(nullptr, attributes[0].pValue);
    EXPECT_EQ(4u, attributes[0].ulValueLen);
    EXPECT_EQ(0xA5, static_cast<CK_BYTE*>(attributes[0].pValue)[3]);
    EXPECT_EQ(nullptr, attributes[1].pValue);
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, attributes[1].ulValueLen) << "as the second call left it";
    EXPECT_EQ(2u, Fake().CallCount("C_GetAttributeValue"));
}

TEST_F(AttributeReaders, FreeingTwiceIsHarmless)
{
    CK_ATTRIBUTE attributes[] = {{CKA_MODULUS, std::malloc(8), 8}, {CKA_VALUE, NULL_PTR, 0}};
    EXPECT_EQ(CKR_OK, P11::FreeAllocatedAttributes(attributes, 2));
    EXPECT_EQ(CKR_OK, P11::FreeAllocatedAttributes(attributes, 2));
    for (const CK_ATTRIBUTE& attribute : attributes) {
        EXPECT_EQ(nullptr, attribute.pValue);
        EXPECT_EQ(0u, attribute.ulValueLen);
    }
    EXPECT_EQ(static_cast<CK_ATTRIBUTE_TYPE>(CKA_MODULUS), attributes[0].type);
}

// A reader and the checks it records, for each answer of the token.
struct ReaderRow {
    const char* reader;
    std::function<CK_RV()> read;
    CK_RV answer;
    size_t failures;
    const char* text; // of the first recorded failure
};

TEST_F(AttributeReaders, ReadersRecordRefusedReadsAndStillReturnOk)
{
    const ReaderRow rows[] = {
        {"RSA public", [] { return libC_GTest_P11::ReadRSAPublicObject(1, 2); }, CKR_OK, 0, ""},
        {"RSA public", [] { return libC_GTest_P11::ReadRSAPublicObject(1, 2); },
         CKR_ATTRIBUTE_TYPE_INVALID, 1, "IsCkrOk(rv)"},
        {"RSA private", [] { return libC_GTest_P11::ReadRSAPrivateObject(1, 2); },
         CKR_ATTRIBUTE_SENSITIVE, 0, ""},
        {"RSA private", [] { return libC_GTest_P11::ReadRSAPrivateObject(1, 2); },
         CKR_ATTRIBUTE_TYPE_INVALID, 1, " == rv) || ("},
        {"DSA domain", [] { return libC_GTest_P11::ReadDSADomainParameterObjects(1, 2); },
         CKR_ATTRIBUTE_SENSITIVE, 1,
         "IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handleObject, publicAttribute, "
         "sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))"},
        {"DSA keys", [] { return libC_GTest_P11::ReadDSAKeyObjects(1, 2, 3); },
         CKR_ATTRIBUTE_TYPE_INVALID, 2,
         "IsCkrOk(GetAttributeValuesWithAllocation( sessionHandle, handlePublicKey, publicAttribute, "
         "sizeof(publicAttribute) / sizeof(CK_ATTRIBUTE)))"},
        {"DH domain", [] { return libC_GTest_P11::ReadDHDomainParameterObjects(1, 2); },
         CKR_ATTRIBUTE_TYPE_INVALID, 1, "handleObject"},
        {"DH keys", [] { return libC_GTest_P11::ReadDHKeyObjects(1, 2, 3); }, CKR_OK, 0, ""},
        {"DH keys", [] { return libC_GTest_P11::ReadDHKeyObjects(1, 2, 3); },
         CKR_ATTRIBUTE_TYPE_INVALID, 2, "handlePublicKey"},
        {"EC", [] { return libC_GTest_P11::ReadECObjects(1, 2, 3); }, CKR_ATTRIBUTE_SENSITIVE, 1,
         "handlePublicKey"},
    };
    for (const ReaderRow& row : rows) {
        ResetFakeToken();
        AttributesOfLengthFour(row.answer);
        CK_RV rv = CKR_GENERAL_ERROR;
        const auto failures = RecordFailures([&] { rv = row.read(); });
        EXPECT_EQ(CKR_OK, rv) << row.reader;
        ASSERT_EQ(row.failures, failures.size()) << row.reader << " answered " << row.answer;
        if (row.failures > 0) {
            EXPECT_FALSE(failures[0].fatal) << row.reader;
            EXPECT_NE(std::string::npos, failures[0].message.find(row.text))
                << row.reader << ": " << failures[0].message;
        }
    }
}

TEST_F(AttributeReaders, PrivateKeyListsOfDsaAndDhAcceptOnlyOk)
{
    // The second list is checked as an equality with CKR_OK: a sensitive answer is refused.
    AttributesOfLengthFour(CKR_ATTRIBUTE_SENSITIVE);
    const auto failures = RecordFailures([] { libC_GTest_P11::ReadDHKeyObjects(1, 2, 3); });
    ASSERT_EQ(2u, failures.size());
    EXPECT_NE(std::string::npos,
              failures[1].message.find("GetAttributeValuesWithAllocation( sessionHandle, handlePrivateKey, "
                                       "privateAttribute, sizeof(privateAttribute) / sizeof(CK_ATTRIBUTE))"))
        << failures[1].message;
}

} // namespace
