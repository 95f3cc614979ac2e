// Templates the module could not read or write safely.
#include "module_guards.h"

#include <vector>

namespace zorvel::test {
namespace {

// The calls that take a template, each over an AES key that permits every use.
class TemplateGuards : public ModuleGuards {
 protected:
  struct TemplateCall {
    const char *name;
    std::function<CK_RV(CK_ATTRIBUTE_PTR, CK_ULONG)> call;
  };

  void SetUp() override {
    ModuleGuards::SetUp();
    if (HasFatalFailure()) return;
    aesKey = aesKeyFor({CKA_ENCRYPT, CKA_WRAP, CKA_UNWRAP, CKA_DERIVE});
    ASSERT_FALSE(HasFailure());
    wrappedLength = wrapped.size();
    ASSERT_CKR(CKR_OK, f->C_WrapKey(session, &wrapping, aesKey, aesKey, wrapped.data(), &wrappedLength));
  }

  std::vector<TemplateCall> templateCalls() {
    return {
        {"C_CreateObject", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_CreateObject(session, t, n, &made); }},
        {"C_CopyObject", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_CopyObject(session, aesKey, t, n, &made); }},
        {"C_SetAttributeValue",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_SetAttributeValue(session, aesKey, t, n); }},
        {"C_GenerateKey",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_GenerateKey(session, &aesGeneration, t, n, &made); }},
        {"C_GenerateKeyPair, public template",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
           return f->C_GenerateKeyPair(session, &pairGeneration, t, n, nullptr, 0, &made, &second);
         }},
        {"C_GenerateKeyPair, private template",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
           return f->C_GenerateKeyPair(session, &pairGeneration, rsaPublic, 1, t, n, &made, &second);
         }},
        {"C_FindObjectsInit", [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_FindObjectsInit(session, t, n); }},
        {"C_UnwrapKey",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
           return f->C_UnwrapKey(session, &wrapping, aesKey, wrapped.data(), wrappedLength, t, n, &made);
         }},
        {"C_DeriveKey",
         [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) { return f->C_DeriveKey(session, &derivation, aesKey, t, n, &made); }},
    };
  }

  CK_OBJECT_HANDLE aesKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE, second = CK_INVALID_HANDLE;
  CK_MECHANISM aesGeneration = {CKM_AES_KEY_GEN, nullptr, 0};
  CK_MECHANISM wrapping = {CKM_AES_KEY_WRAP, nullptr, 0};
  Bytes wrapped = Bytes(64);
  CK_ULONG wrappedLength = 0;
  Bytes derivationData = Bytes(16, 0x5A);
  CK_KEY_DERIVATION_STRING_DATA derivationParameter = {derivationData.data(), derivationData.size()};
  CK_MECHANISM derivation = {CKM_AES_ECB_ENCRYPT_DATA, &derivationParameter, sizeof derivationParameter};
  CK_ULONG rsaBits = 16;
  CK_ATTRIBUTE rsaPublic[1] = {{CKA_MODULUS_BITS, &rsaBits, sizeof rsaBits}};
  CK_MECHANISM pairGeneration = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
};

// Every call that takes a template refuses an attribute that claims a value it does not
// point to (SoftHSM2: SIGSEGV in C_CreateObject, C_GenerateKey, C_GenerateKeyPair and
// C_FindObjectsInit), also inside an attribute whose value is a template.
TEST_F(TemplateGuards, TemplatesWithAValueLengthButNoValueAreRefused) {
  CK_ATTRIBUTE valueless[] = {{CKA_CLASS, nullptr, sizeof(CK_OBJECT_CLASS)}};
  CK_ATTRIBUTE valuelessInside[] = {{CKA_WRAP_TEMPLATE, valueless, sizeof valueless}};
  for (const TemplateCall &c : templateCalls()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(valueless, 1); }));
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(valuelessInside, 1); }));
    EXPECT_TRUE(answersInChild(CKR_ARGUMENTS_BAD, [&] { return c.call(nullptr, 1); }));
  }
  // A length query of C_GetAttributeValue names no value either, and is answered.
  CK_ATTRIBUTE lengthQuery[] = {{CKA_VALUE_LEN, nullptr, 0}};
  EXPECT_CKR(CKR_OK, f->C_GetAttributeValue(session, aesKey, lengthQuery, 1));
  EXPECT_EQ(sizeof(CK_ULONG), lengthQuery[0].ulValueLen);
}

// A CK_ULONG or CK_BBOOL attribute of another length, or without a value, is refused in
// every call (SoftHSM2 reads CKA_VALUE_BITS of a DH key-pair template unchecked and dies
// of SIGSEGV on a null one), also inside a template.
TEST_F(TemplateGuards, FixedSizeValuesOfAnotherLengthAreRefused) {
  CK_ULONG number = 160;
  CK_BBOOL yes = CK_TRUE;
  const std::vector<CK_ATTRIBUTE> misfits = {
      {CKA_VALUE_BITS, nullptr, 0},      {CKA_VALUE_BITS, &number, 4}, {CKA_CLASS, &number, 1},
      {CKA_TOKEN, &yes, 0},              {CKA_SIGN, &number, sizeof number},
  };
  for (const CK_ATTRIBUTE &misfit : misfits) {
    SCOPED_TRACE(misfit.type);
    CK_ATTRIBUTE alone[] = {misfit};
    CK_ATTRIBUTE inside[] = {{CKA_UNWRAP_TEMPLATE, alone, sizeof alone}};
    for (const TemplateCall &c : templateCalls()) {
      SCOPED_TRACE(c.name);
      EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(alone, 1); }));
      EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(inside, 1); }));
    }
  }
  // The DH key pair the module died on, and the same with the value's size.
  CK_BYTE base = 2;
  CK_ATTRIBUTE domain[] = {{CKA_PRIME, const_cast<CK_BYTE *>(kOakleyGroup1Prime.data()), kOakleyGroup1Prime.size()},
                           {CKA_BASE, &base, 1}};
  CK_MECHANISM dhGeneration = {CKM_DH_PKCS_KEY_PAIR_GEN, nullptr, 0};
  for (CK_ATTRIBUTE valueBits : {CK_ATTRIBUTE{CKA_VALUE_BITS, nullptr, 0},
                                 CK_ATTRIBUTE{CKA_VALUE_BITS, &number, sizeof number}}) {
    EXPECT_TRUE(answersInChild(valueBits.pValue == nullptr ? CKR_ATTRIBUTE_VALUE_INVALID : CKR_OK, [&] {
      return f->C_GenerateKeyPair(session, &dhGeneration, domain, 2, &valueBits, 1, &made, &second);
    }));
  }
}

// C_GetAttributeValue of a template attribute into records of which some point to buffers
// and one claims a length without one is refused (SoftHSM2 writes through the null one);
// records that all lack a buffer ask for the types and lengths, and records that all
// have one receive the values.
TEST_F(TemplateGuards, TemplateValuesAreNotReadIntoRecordsWithoutABuffer) {
  CK_BBOOL yes = CK_TRUE;
  CK_ULONG length = 16;
  CK_ATTRIBUTE wrapTemplate[] = {{CKA_ENCRYPT, &yes, 1}, {CKA_DECRYPT, &yes, 1}};
  CK_ATTRIBUTE generation[] = {{CKA_VALUE_LEN, &length, sizeof length},
                               {CKA_WRAP_TEMPLATE, wrapTemplate, sizeof wrapTemplate}};
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  ASSERT_CKR(CKR_OK, f->C_GenerateKey(session, &aesGeneration, generation, 2, &key));
  CK_BBOOL first = CK_FALSE, second = CK_FALSE;
  const auto readInto = [&](CK_VOID_PTR firstBuffer, CK_VOID_PTR secondBuffer) {
    CK_ATTRIBUTE records[] = {{CKA_ENCRYPT, firstBuffer, 1}, {CKA_DECRYPT, secondBuffer, 1}};
    CK_ATTRIBUTE read[] = {{CKA_WRAP_TEMPLATE, records, sizeof records}};
    return f->C_GetAttributeValue(session, key, read, 1);
  };
  EXPECT_TRUE(answersInChild(CKR_ARGUMENTS_BAD, [&] { return readInto(&first, nullptr); }));
  EXPECT_TRUE(answersInChild(CKR_ARGUMENTS_BAD, [&] { return readInto(nullptr, &second); }));
  EXPECT_CKR(CKR_OK, readInto(nullptr, nullptr));
  EXPECT_CKR(CKR_OK, readInto(&first, &second));
  EXPECT_EQ(CK_TRUE, first);
  EXPECT_EQ(CK_TRUE, second);
}

// A template that contains itself, or five templates nested in each other, is refused in every call
// (the stand-in's own guard followed them into a stack overflow); an attribute without a
// value inside a template is no fault.
TEST_F(TemplateGuards, TemplatesThatContainThemselvesOrNestTooDeepAreRefused) {
  CK_ATTRIBUTE selfContaining[1];
  selfContaining[0] = {CKA_WRAP_TEMPLATE, selfContaining, sizeof selfContaining};
  constexpr int kNested = 6;
  CK_ATTRIBUTE nested[kNested];
  const CK_ATTRIBUTE_TYPE templateTypes[] = {CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE, CKA_DERIVE_TEMPLATE};
  CK_BBOOL yes = CK_TRUE;
  for (int i = 0; i < kNested; ++i) {
    nested[i] = i + 1 < kNested ? CK_ATTRIBUTE{templateTypes[i % 3], &nested[i + 1], sizeof(CK_ATTRIBUTE)}
                                : CK_ATTRIBUTE{CKA_ENCRYPT, &yes, 1};
  }
  for (const TemplateCall &c : templateCalls()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(selfContaining, 1); }));
    EXPECT_TRUE(answersInChild(CKR_ATTRIBUTE_VALUE_INVALID, [&] { return c.call(nested, 1); }));
  }
  CK_ATTRIBUTE emptyLabel[] = {{CKA_LABEL, nullptr, 0}};
  CK_ATTRIBUTE holdingEmpty[] = {{CKA_WRAP_TEMPLATE, emptyLabel, sizeof emptyLabel}, {CKA_VALUE, nullptr, 0}};
  EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_FindObjectsInit(session, holdingEmpty, 2); }));
  EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_FindObjectsInit(session, nullptr, 0); }));
  CK_ULONG length = 16;
  CK_ATTRIBUTE generation[] = {{CKA_VALUE_LEN, &length, sizeof length},
                               {CKA_WRAP_TEMPLATE, emptyLabel, sizeof emptyLabel}};
  EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_GenerateKey(session, &aesGeneration, generation, 2, &made); }));
}

// An array attribute whose value is no template is bytes to the stand-in, whatever they
// hold: CKA_ALLOWED_MECHANISMS with mechanism types that would be no pointers (the
// stand-in's guard read them as templates: CKR_ATTRIBUTE_VALUE_INVALID for a list holding
// CKM_RSA_PKCS_KEY_PAIR_GEN, 0, and SIGSEGV for 0xC0000001), and every other type flagged
// as an array (answered as the module answers an unknown attribute).
TEST_F(TemplateGuards, ArrayAttributesThatHoldNoTemplateAreBytes) {
  const std::vector<std::vector<CK_MECHANISM_TYPE>> lists = {
      {CKM_AES_ECB, CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_AES_CBC}, {0xC0000001, CKM_AES_CBC, CKM_AES_ECB}};
  CK_ULONG length = 16;
  for (const std::vector<CK_MECHANISM_TYPE> &list : lists) {
    CK_ATTRIBUTE allowed[] = {{CKA_ALLOWED_MECHANISMS, const_cast<CK_MECHANISM_TYPE *>(list.data()),
                               static_cast<CK_ULONG>(list.size() * sizeof(CK_MECHANISM_TYPE))},
                              {CKA_VALUE_LEN, &length, sizeof length}};
    SCOPED_TRACE(list[0]);
    EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_GenerateKey(session, &aesGeneration, allowed, 2, &made); }));
    EXPECT_TRUE(answersInChild(CKR_OK, [&] { return f->C_FindObjectsInit(session, allowed, 1); }));
  }
  // Every array-flagged type of the standard's range, in one child: the first answer that
  // is neither a match nor an unknown attribute, or the end of the child.
  EXPECT_TRUE(answersInChild(CKR_OK, [&] {
    const CK_ULONG pointerLike[] = {0xC0000001, 0xC0000001, 0xC0000001, 0xC0000001, 0xC0000001, 0xC0000001};
    for (CK_ATTRIBUTE_TYPE type = CKF_ARRAY_ATTRIBUTE; type < (CKF_ARRAY_ATTRIBUTE | 0x1000); ++type) {
      if (type == CKA_WRAP_TEMPLATE || type == CKA_UNWRAP_TEMPLATE || type == CKA_DERIVE_TEMPLATE) continue;
      CK_ATTRIBUTE attribute = {type, const_cast<CK_ULONG *>(pointerLike), sizeof pointerLike};
      const CK_RV rv = f->C_FindObjectsInit(session, &attribute, 1);
      if (rv == CKR_OK) f->C_FindObjectsFinal(session);
      if (rv != CKR_OK && rv != CKR_ATTRIBUTE_TYPE_INVALID) return rv;
    }
    return CKR_OK;
  }));
}

}  // namespace
}  // namespace zorvel::test
