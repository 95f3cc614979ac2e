#include "conventions/dh_key_pair_template.h"

#include <cstring>
#include <vector>

namespace zorvel::core {
namespace {

const CK_ATTRIBUTE *findEntry(const CK_ATTRIBUTE *list, CK_ULONG count, CK_ATTRIBUTE_TYPE type) {
  if (list == nullptr) return nullptr;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (list[i].type == type) return &list[i];
  }
  return nullptr;
}

bool readable(const CK_ATTRIBUTE &attribute) { return attribute.pValue != nullptr || attribute.ulValueLen == 0; }

bool sameValue(const CK_ATTRIBUTE &a, const CK_ATTRIBUTE &b) {
  return a.ulValueLen == b.ulValueLen && (a.ulValueLen == 0 || std::memcmp(a.pValue, b.pValue, a.ulValueLen) == 0);
}

// The bit length of a big-endian unsigned integer; 0 for zero or no bytes.
CK_ULONG bitLength(const CK_ATTRIBUTE &value) {
  const CK_BYTE *bytes = static_cast<const CK_BYTE *>(value.pValue);
  for (CK_ULONG i = 0; i < value.ulValueLen; ++i) {
    if (bytes[i] == 0) continue;
    CK_ULONG bits = (value.ulValueLen - i) * 8;
    for (unsigned int top = bytes[i]; (top & 0x80u) == 0; top <<= 1) --bits;
    return bits;
  }
  return 0;
}

// The private-key template (templates 1) with the public one's prime (templates 0).
CK_RV toModule(CallTemplates &templates, bool *applied) {
  const AttributeList privateTemplate = templates.current(1);
  if (templates.mechanism() != CKM_DH_PKCS_KEY_PAIR_GEN || privateTemplate.attributes == nullptr) return CKR_OK;
  const AttributeList publicTemplate = templates.current(0);
  const CK_ATTRIBUTE *publicPrime = findEntry(publicTemplate.attributes, publicTemplate.count, CKA_PRIME);
  const CK_ULONG primeBits = publicPrime != nullptr && readable(*publicPrime) ? bitLength(*publicPrime) : 0;

  std::vector<CK_ATTRIBUTE> local;
  for (CK_ULONG i = 0; i < privateTemplate.count; ++i) {
    const CK_ATTRIBUTE &entry = privateTemplate.attributes[i];
    if (entry.type == CKA_PRIME || entry.type == CKA_BASE) {
      if (!readable(entry)) return CKR_ATTRIBUTE_VALUE_INVALID;
      const CK_ATTRIBUTE *publicValue = findEntry(publicTemplate.attributes, publicTemplate.count, entry.type);
      if (publicValue == nullptr || !readable(*publicValue) || !sameValue(entry, *publicValue)) {
        return CKR_TEMPLATE_INCONSISTENT;
      }
      *applied = true;  // the public template's value stands for both keys
      continue;
    }
    if (entry.type == CKA_VALUE_BITS && entry.pValue != nullptr && entry.ulValueLen == sizeof(CK_ULONG)) {
      CK_ULONG bits = 0;
      std::memcpy(&bits, entry.pValue, sizeof bits);  // need not be aligned
      if (primeBits > 0 && bits >= primeBits) {
        local.push_back({CKA_VALUE_BITS, templates.keep(primeBits - 1), sizeof(CK_ULONG)});
        *applied = true;
        continue;
      }
    }
    local.push_back(entry);
  }
  if (*applied) templates.replace(1, std::move(local));
  return CKR_OK;
}

}  // namespace

const TemplateTranslation kDhKeyPairTemplate = {"Diffie-Hellman private-key template",
                                                templateCalls(TemplateCall::GenerateKeyPair), toModule, nullptr,
                                                nullptr};

}  // namespace zorvel::core
