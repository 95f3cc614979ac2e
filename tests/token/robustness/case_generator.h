// Generates case i of seed s from (s, i) alone. Arbitrary cases call every function that
// takes a template, reads attributes into odd buffers, and run every Init with fitting and
// mismatched keys, valid and malformed parameter records, odd data and buffer lengths and
// misordered calls. Legitimate cases make only what a token should take: valid templates,
// records and lengths, in the order PKCS#11 gives.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_GENERATOR_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_GENERATOR_H

#include "case_model.h"

#include <cstdint>

namespace zorvel::robustness {

enum class CaseMode { Arbitrary, Legitimate };

Case generateCase(std::uint64_t seed, std::uint64_t index, CaseMode mode);

}  // namespace zorvel::robustness

#endif
