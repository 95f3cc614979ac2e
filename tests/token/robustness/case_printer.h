// A readable description of a case: each call with its mechanism, parameter record,
// templates, handles and lengths, values in hex.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_PRINTER_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_PRINTER_H

#include "case_model.h"

#include <string>

namespace zorvel::robustness {

const char *callName(Call call);
// One line per step, numbered from 1, each line begun with indent.
std::string describeCase(const Case &c, const std::string &indent);
std::string describeStep(const Step &step);
// A key of the set by name, an object an earlier step made, or a handle's value.
std::string objectName(const ObjectRef &ref);
// What stands out in a step's templates (self-containing or deep templates, mechanism
// lists, array-flagged bytes, null values with lengths), for grouping ends; empty if none.
std::string templateFeatures(const Step &step);
// The name of a return value, or its value in hex.
std::string returnValueName(CK_RV rv);

}  // namespace zorvel::robustness

#endif
