// Test bodies of the elliptic-curve case against the fake token library: attribute
// values refused after their lengths were given.
#include <string>

#include "FakeTokenFixture.h"

#include "case_body_classes.h"
#include "libC_GTest_EC.h"
#include "case_bodies.h"

namespace {

// The export tests' value read fails after the lengths were given: each reports it once,
// non-fatally, with the call as that test writes it, and both keys are still destroyed.
TEST_F(CaseBodies, ExportReportsARefusedValueReadAsItsTestWritesIt)
{
    using Runner = std::vector<RecordedFailure> (*)();
    const struct {
        Runner run;
        const char* read;
    } rows[] = {
        {RunBody<libC_GTest_EC_ExportPublic_Body>,
         "m_pFList->C_GetAttributeValue( m_hSession, hPublic, attribute, cAttrs)"},
        {RunBody<libC_GTest_EC_ExportPrivate_Body>,
         "m_pFList->C_GetAttributeValue(m_hSession, hPrivate, attribute, cAttrs)"},
    };
    for (const auto& row : rows) {
        ResetFakeToken();
        P11::m_pFList = &Fake().functionList;
        Fake().C_GetAttributeValue = [](CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes,
                                        CK_ULONG count) {
            if (attributes[0].pValue != NULL_PTR)
                return CKR_DEVICE_ERROR;
            for (CK_ULONG i = 0; i < count; ++i)
                attributes[i].ulValueLen = 4;
            return CKR_OK;
        };

        const auto failures = row.run();
        ASSERT_EQ(1U, failures.size()) << row.read;
        EXPECT_FALSE(failures[0].fatal);
        EXPECT_EQ(std::string("Expected equality of these values:\n  (0UL)\n    Which is: 0\n  rv = ") + row.read +
                      "\n    Which is: 48",
                  failures[0].message);
        EXPECT_EQ(2U, Fake().CallCount("C_DestroyObject"));
    }
}

} // namespace
