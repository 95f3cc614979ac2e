#include "conventions/dh_key_pair_template.h"

#include "layer/forwarding.h"
#include "layer/library.h"

#include <cstring>

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

}  // namespace

DhPrivateKeyTemplate::DhPrivateKeyTemplate(CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
                                           CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate,
                                           CK_ULONG privateCount)
    : TranslatedTemplate(privateTemplate, privateCount) {
  if (mechanism == nullptr || mechanism->mechanism != CKM_DH_PKCS_KEY_PAIR_GEN || privateTemplate == nullptr) return;
  const CK_ATTRIBUTE *publicPrime = findEntry(publicTemplate, publicCount, CKA_PRIME);
  const CK_ULONG primeBits = publicPrime != nullptr && readable(*publicPrime) ? bitLength(*publicPrime) : 0;

  for (CK_ULONG i = 0; i < privateCount; ++i) {
    const CK_ATTRIBUTE &entry = privateTemplate[i];
    if (entry.type == CKA_PRIME || entry.type == CKA_BASE) {
      if (!readable(entry)) {
        status_ = CKR_ATTRIBUTE_VALUE_INVALID;
        return;
      }
      const CK_ATTRIBUTE *publicValue = findEntry(publicTemplate, publicCount, entry.type);
      if (publicValue == nullptr || !readable(*publicValue) || !sameValue(entry, *publicValue)) {
        status_ = CKR_TEMPLATE_INCONSISTENT;
        return;
      }
      translated_ = true;  // the public template's value stands for both keys
      continue;
    }
    if (entry.type == CKA_VALUE_BITS && entry.pValue != nullptr && entry.ulValueLen == sizeof(CK_ULONG)) {
      CK_ULONG bits = 0;
      std::memcpy(&bits, entry.pValue, sizeof bits);  // need not be aligned
      if (primeBits > 0 && bits >= primeBits) {
        valueBits_ = primeBits - 1;
        local_.push_back({CKA_VALUE_BITS, &valueBits_, sizeof valueBits_});
        translated_ = true;
        continue;
      }
    }
    local_.push_back(entry);
  }
}

CK_RV generateKeyPairWithDhConventions(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                       CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                       CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                       CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
  return guarded([&] {
    ActiveCall active;
    if (!active.initialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall session(hSession);
    DhPrivateKeyTemplate privateTemplate(pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                                         pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
    if (privateTemplate.status() != CKR_OK) return privateTemplate.status();
    return exchangeWithMechanism(backendFunctions().C_GenerateKeyPair, hSession, pMechanism, pPublicKeyTemplate,
                                 ulPublicKeyAttributeCount, privateTemplate.data(), privateTemplate.count(),
                                 phPublicKey, phPrivateKey);
  });
}

}  // namespace zorvel::core
