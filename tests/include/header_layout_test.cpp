// Compares the constants and record layouts of our PKCS#11 header with p11-kit's, name by
// name, and checks that C and C++ see our header alike.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "header_layout_table.h"

namespace {

using Values = std::map<std::string, unsigned long>;

Values valuesOf(header_layout_table table, header_layout_kind kind) {
  Values values;
  for (size_t i = 0; i < table.count; ++i) {
    const header_layout_entry &entry = table.entries[i];
    if (entry.kind == kind && !values.emplace(entry.name, entry.value).second) {
      ADD_FAILURE() << entry.name << " is listed twice";
    }
  }
  return values;
}

Values layoutOf(header_layout_table table) {
  Values layout = valuesOf(table, HEADER_LAYOUT_SIZE);
  for (const auto &offset : valuesOf(table, HEADER_LAYOUT_OFFSET)) layout.insert(offset);
  return layout;
}

// How many entries of each kind the list gives both headers.
struct SharedCounts {
  size_t constants = 0;
  size_t layout = 0;
};

constexpr SharedCounts countShared() {
  SharedCounts counts;
#define PKCS11_CONSTANT(name) ++counts.constants;
#define PKCS11_SIZE(type) ++counts.layout;
#define PKCS11_OFFSET(type, field) ++counts.layout;
#define PKCS11_CONSTANT_OURS_ONLY(name)
#define PKCS11_CONSTANT_P11KIT_ONLY(name)
#define PKCS11_SIZE_OURS_ONLY(type)
#define PKCS11_SIZE_P11KIT_ONLY(type)
#define PKCS11_OFFSET_P11KIT_ONLY(type, field)
#include "header_layout_names.def"
  return counts;
}
constexpr SharedCounts kShared = countShared();

// Return values that p11-kit 0.24 numbers 0x1C0..0x1C4; PKCS#11 2.40 (and NSS) number them so.
const Values kValuesP11KitGetsWrong = {
    {"CKR_EXCEEDED_MAX_ITERATIONS", 0x1B5}, {"CKR_FIPS_SELF_TEST_FAILED", 0x1B6},
    {"CKR_LIBRARY_LOAD_FAILED", 0x1B7},     {"CKR_PIN_TOO_WEAK", 0x1B8},
    {"CKR_PUBLIC_KEY_INVALID", 0x1B9},
};

// Our GCM record has five fields and 40 bytes; p11-kit's adds ulIvBits after ulIvLen.
const char kGcmRecord[] = "CK_GCM_PARAMS";
const Values kOurGcmLayout = {
    {"CK_GCM_PARAMS", 40},         {"CK_GCM_PARAMS.pIv", 0},      {"CK_GCM_PARAMS.ulIvLen", 8},
    {"CK_GCM_PARAMS.pAAD", 16},    {"CK_GCM_PARAMS.ulAADLen", 24}, {"CK_GCM_PARAMS.ulTagBits", 32},
};

bool belongsToGcmRecord(const std::string &name) {
  return name.compare(0, std::strlen(kGcmRecord), kGcmRecord) == 0;
}

// Expects equal values for every name both sides hold, except the skipped ones; returns how
// many names both sides hold.
template <typename Skip>
size_t expectSharedValuesEqual(const Values &ours, const Values &theirs, Skip skip) {
  size_t shared = 0;
  for (const auto &[name, value] : ours) {
    const auto their = theirs.find(name);
    if (their == theirs.end()) continue;
    ++shared;
    if (!skip(name)) {
      EXPECT_EQ(value, their->second) << name;
    }
  }
  return shared;
}

Values ourConstants() { return valuesOf(our_header_layout_cxx(), HEADER_LAYOUT_CONSTANT); }
Values p11KitConstants() { return valuesOf(p11kit_header_layout(), HEADER_LAYOUT_CONSTANT); }

TEST(Pkcs11HeaderLayout, ConstantsMatchP11Kit) {
  const size_t shared =
      expectSharedValuesEqual(ourConstants(), p11KitConstants(), [](const std::string &name) {
        return kValuesP11KitGetsWrong.count(name) != 0;
      });
  EXPECT_EQ(shared, kShared.constants);
  RecordProperty("constants_compared", static_cast<int>(shared));
}

TEST(Pkcs11HeaderLayout, ValuesP11KitGetsWrongAreTheStandardOnes) {
  const Values ours = ourConstants();
  const Values theirs = p11KitConstants();
  for (const auto &[name, standard] : kValuesP11KitGetsWrong) {
    EXPECT_EQ(ours.at(name), standard) << name;
    EXPECT_NE(theirs.at(name), standard) << name << ": p11-kit now agrees, drop the exception";
  }
}

TEST(Pkcs11HeaderLayout, RecordLayoutsMatchP11Kit) {
  const size_t shared = expectSharedValuesEqual(
      layoutOf(our_header_layout_cxx()), layoutOf(p11kit_header_layout()), belongsToGcmRecord);
  EXPECT_EQ(shared, kShared.layout);
  RecordProperty("layout_entries_compared", static_cast<int>(shared));
}

TEST(Pkcs11HeaderLayout, GcmParamsHaveFiveFieldsUnlikeP11Kit) {
  Values ourGcm;
  for (const auto &entry : layoutOf(our_header_layout_cxx())) {
    if (belongsToGcmRecord(entry.first)) ourGcm.insert(entry);
  }
  EXPECT_EQ(ourGcm, kOurGcmLayout);

  const Values theirs = layoutOf(p11kit_header_layout());
  EXPECT_NE(theirs.at(kGcmRecord), 40u);
  EXPECT_EQ(theirs.count("CK_GCM_PARAMS.ulIvBits"), 1u);
  EXPECT_NE(theirs.at("CK_GCM_PARAMS.pAAD"), kOurGcmLayout.at("CK_GCM_PARAMS.pAAD"));
}

TEST(Pkcs11HeaderLayout, CAndCxxSeeOurHeaderAlike) {
  const header_layout_table cxx = our_header_layout_cxx();
  const header_layout_table c = our_header_layout_c();
  ASSERT_EQ(c.count, cxx.count);
  for (size_t i = 0; i < c.count; ++i) {
    EXPECT_STREQ(c.entries[i].name, cxx.entries[i].name);
    EXPECT_EQ(c.entries[i].value, cxx.entries[i].value) << cxx.entries[i].name;
  }
}

}  // namespace
