// Builders of mechanism parameters: a valid record of each shape, and for arbitrary cases
// also malformed ones (no record, a null one with a length, a wrong ulParameterLen,
// another shape's record, null pointers with lengths, zero lengths, odd values).
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_PARAMETER_RECORDS_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_PARAMETER_RECORDS_H

#include "case_model.h"
#include "mechanism_catalogue.h"
#include "random_source.h"

namespace zorvel::robustness {

// The longest data a legitimate OAEP case encrypts: what a 1024-bit key holds with
// SHA-384, the longest hash the legitimate records name.
constexpr CK_ULONG kOaepDataBytes = 30;

// A record a token should take for the mechanism used with key (ECDH and DH read the
// public value of the key's partner).
Parameter validParameter(const MechanismEntry &mechanism, KeyIndex key, RandomSource &random);
// Any record, valid or not, for the mechanism used with key.
Parameter arbitraryParameter(const MechanismEntry &mechanism, KeyIndex key, RandomSource &random);

}  // namespace zorvel::robustness

#endif
