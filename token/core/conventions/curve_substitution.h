// Named curves the module's OpenSSL does not know by name (OpenSSL 3.0 lacks FRP256v1):
// the stand-in gives the module the curve's explicit ECParameters (SEC 1) wherever a
// template names the curve by its object identifier, and gives the identifier back
// where the module shows the explicit parameters in CKA_EC_PARAMS. Keys on such a curve
// then generate, import, sign, verify and derive as the module does for any curve.
//
//   C_GenerateKeyPair, C_CreateObject, C_FindObjectsInit,
//   C_UnwrapKey                                              identifier -> parameters
//   C_GetAttributeValue                                      parameters -> identifier
//
// The translation kCurveSubstitution (template_translation.h).
#ifndef ZORVEL_TOKEN_CORE_CONVENTIONS_CURVE_SUBSTITUTION_H
#define ZORVEL_TOKEN_CORE_CONVENTIONS_CURVE_SUBSTITUTION_H

#include "conventions/template_translation.h"
#include "pkcs11.h"

#include <vector>

namespace zorvel::core {

struct SubstitutedCurve {
  const char *name;
  std::vector<CK_BYTE> identifier;  // DER OBJECT IDENTIFIER
  std::vector<CK_BYTE> parameters;  // DER ECParameters, explicit
};

// The curves substituted.
const std::vector<SubstitutedCurve> &substitutedCurves();

extern const TemplateTranslation kCurveSubstitution;

}  // namespace zorvel::core

#endif
