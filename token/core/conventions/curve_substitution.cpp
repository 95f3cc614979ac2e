#include "conventions/curve_substitution.h"

#include "building_blocks/secret_key_value.h"

#include <algorithm>
#include <cstring>

namespace zorvel::core {
namespace {

// FRP256v1 (ANSSI), 1.2.250.1.223.101.256.1: a = p - 3, cofactor 1. The parameters are
// checked in our tests: G lies on the curve and n·G is the point at infinity.
//   p  = F1FD178C0B3AD58F10126DE8CE42435B3961ADBCABC8CA6DE8FCF353D86E9C03
//   b  = EE353FCA5428A9300D4ABA754A44C00FDFEC0C9AE4B1A1803075ED967B7BB73F
//   Gx = B6B3D4C356C139EB31183D4749D423958C27D2DCAF98B70164C97A2DD98F5CFF
//   Gy = 6142E0F7C8B204911F9271F0F3ECEF8C2701C307E8E4C9E183115A1554062CFB
//   n  = F1FD178C0B3AD58F10126DE8CE42435B53DC67E140D2BF941FFDD459C6D655E1
const std::vector<SubstitutedCurve> kCurves = {
    {"FRP256v1",
     {0x06, 0x0A, 0x2A, 0x81, 0x7A, 0x01, 0x81, 0x5F, 0x65, 0x82, 0x00, 0x01},
     {
      0x30, 0x81, 0xE0, 0x02, 0x01, 0x01, 0x30, 0x2C, 0x06, 0x07, 0x2A, 0x86,
      0x48, 0xCE, 0x3D, 0x01, 0x01, 0x02, 0x21, 0x00, 0xF1, 0xFD, 0x17, 0x8C,
      0x0B, 0x3A, 0xD5, 0x8F, 0x10, 0x12, 0x6D, 0xE8, 0xCE, 0x42, 0x43, 0x5B,
      0x39, 0x61, 0xAD, 0xBC, 0xAB, 0xC8, 0xCA, 0x6D, 0xE8, 0xFC, 0xF3, 0x53,
      0xD8, 0x6E, 0x9C, 0x03, 0x30, 0x44, 0x04, 0x20, 0xF1, 0xFD, 0x17, 0x8C,
      0x0B, 0x3A, 0xD5, 0x8F, 0x10, 0x12, 0x6D, 0xE8, 0xCE, 0x42, 0x43, 0x5B,
      0x39, 0x61, 0xAD, 0xBC, 0xAB, 0xC8, 0xCA, 0x6D, 0xE8, 0xFC, 0xF3, 0x53,
      0xD8, 0x6E, 0x9C, 0x00, 0x04, 0x20, 0xEE, 0x35, 0x3F, 0xCA, 0x54, 0x28,
      0xA9, 0x30, 0x0D, 0x4A, 0xBA, 0x75, 0x4A, 0x44, 0xC0, 0x0F, 0xDF, 0xEC,
      0x0C, 0x9A, 0xE4, 0xB1, 0xA1, 0x80, 0x30, 0x75, 0xED, 0x96, 0x7B, 0x7B,
      0xB7, 0x3F, 0x04, 0x41, 0x04, 0xB6, 0xB3, 0xD4, 0xC3, 0x56, 0xC1, 0x39,
      0xEB, 0x31, 0x18, 0x3D, 0x47, 0x49, 0xD4, 0x23, 0x95, 0x8C, 0x27, 0xD2,
      0xDC, 0xAF, 0x98, 0xB7, 0x01, 0x64, 0xC9, 0x7A, 0x2D, 0xD9, 0x8F, 0x5C,
      0xFF, 0x61, 0x42, 0xE0, 0xF7, 0xC8, 0xB2, 0x04, 0x91, 0x1F, 0x92, 0x71,
      0xF0, 0xF3, 0xEC, 0xEF, 0x8C, 0x27, 0x01, 0xC3, 0x07, 0xE8, 0xE4, 0xC9,
      0xE1, 0x83, 0x11, 0x5A, 0x15, 0x54, 0x06, 0x2C, 0xFB, 0x02, 0x21, 0x00,
      0xF1, 0xFD, 0x17, 0x8C, 0x0B, 0x3A, 0xD5, 0x8F, 0x10, 0x12, 0x6D, 0xE8,
      0xCE, 0x42, 0x43, 0x5B, 0x53, 0xDC, 0x67, 0xE1, 0x40, 0xD2, 0xBF, 0x94,
      0x1F, 0xFD, 0xD4, 0x59, 0xC6, 0xD6, 0x55, 0xE1, 0x02, 0x01, 0x01
     }},
};

// Compared byte by byte: the namespace's memcmp reads whole words past the end of short
// buffers, which memcheck reports as invalid reads.
bool sameBytes(const CK_BYTE *value, std::size_t length, const std::vector<CK_BYTE> &bytes) {
  if (length != bytes.size()) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (value[i] != bytes[i]) return false;
  }
  return true;
}

bool holds(const CK_ATTRIBUTE &attribute, const std::vector<CK_BYTE> &bytes) {
  return attribute.pValue != nullptr &&
         sameBytes(static_cast<const CK_BYTE *>(attribute.pValue), attribute.ulValueLen, bytes);
}

// A template with the curves named by identifier given by parameters; false when it
// names none.
bool substitute(AttributeList caller, std::vector<CK_ATTRIBUTE> *local) {
  if (caller.attributes == nullptr) return false;
  bool substituted = false;
  for (CK_ULONG i = 0; i < caller.count; ++i) {
    if (caller.attributes[i].type != CKA_EC_PARAMS) continue;
    for (const SubstitutedCurve &curve : kCurves) {
      if (!holds(caller.attributes[i], curve.identifier)) continue;
      if (!substituted) local->assign(caller.attributes, caller.attributes + caller.count);
      (*local)[i].pValue = const_cast<CK_BYTE *>(curve.parameters.data());
      (*local)[i].ulValueLen = static_cast<CK_ULONG>(curve.parameters.size());
      substituted = true;
    }
  }
  return substituted;
}

CK_RV toModule(CallTemplates &templates, bool *applied) {
  for (std::size_t which = 0; which < templates.count(); ++which) {
    std::vector<CK_ATTRIBUTE> local;
    if (!substitute(templates.current(which), &local)) continue;
    templates.replace(which, std::move(local));
    *applied = true;
  }
  return CKR_OK;
}

// The substituted curve whose parameters the object holds; null for any other object.
const SubstitutedCurve *substitutedCurveOf(const AttributeReader &next) {
  std::vector<CK_BYTE> parameters;
  if (next.module().C_GetAttributeValue == nullptr) return nullptr;
  if (readAttributeBytes(next.module(), next.session(), next.object(), CKA_EC_PARAMS, &parameters) != CKR_OK) {
    return nullptr;
  }
  for (const SubstitutedCurve &curve : kCurves) {
    if (sameBytes(parameters.data(), parameters.size(), curve.parameters)) return &curve;
  }
  return nullptr;
}

// Answers one CKA_EC_PARAMS entry with the identifier, by the rules of C_GetAttributeValue.
CK_RV answerIdentifier(const SubstitutedCurve &curve, CK_ATTRIBUTE *entry) {
  const CK_ULONG length = static_cast<CK_ULONG>(curve.identifier.size());
  if (entry->pValue != nullptr) {
    if (entry->ulValueLen < length) {
      entry->ulValueLen = CK_UNAVAILABLE_INFORMATION;
      return CKR_BUFFER_TOO_SMALL;
    }
    std::memcpy(entry->pValue, curve.identifier.data(), length);
  }
  entry->ulValueLen = length;
  return CKR_OK;
}

CK_RV read(const AttributeReader &next, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, bool *applied) {
  const bool asksParameters =
      pTemplate != nullptr &&
      std::any_of(pTemplate, pTemplate + ulCount, [](const CK_ATTRIBUTE &a) { return a.type == CKA_EC_PARAMS; });
  const SubstitutedCurve *curve = asksParameters ? substitutedCurveOf(next) : nullptr;
  if (curve == nullptr) return next(pTemplate, ulCount);
  *applied = true;

  // The curve entries are answered here, the others by the module into the caller's
  // buffers.
  CK_RV curveAnswer = CKR_OK;
  std::vector<CK_ATTRIBUTE> others;
  std::vector<CK_ULONG> positions;
  for (CK_ULONG i = 0; i < ulCount; ++i) {
    if (pTemplate[i].type == CKA_EC_PARAMS) {
      if (answerIdentifier(*curve, &pTemplate[i]) != CKR_OK) curveAnswer = CKR_BUFFER_TOO_SMALL;
    } else {
      others.push_back(pTemplate[i]);
      positions.push_back(i);
    }
  }
  if (others.empty()) return curveAnswer;
  const CK_RV rv = next(others.data(), static_cast<CK_ULONG>(others.size()));
  for (std::size_t j = 0; j < others.size(); ++j) pTemplate[positions[j]].ulValueLen = others[j].ulValueLen;
  return rv == CKR_OK ? curveAnswer : rv;
}

}  // namespace

const TemplateTranslation kCurveSubstitution = {
    "FRP256v1 curve by parameters",
    templateCalls(TemplateCall::GenerateKeyPair, TemplateCall::CreateObject, TemplateCall::FindObjectsInit,
                  TemplateCall::UnwrapKey),
    toModule, nullptr, read};

const std::vector<SubstitutedCurve> &substitutedCurves() { return kCurves; }

}  // namespace zorvel::core
