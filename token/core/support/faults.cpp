#include "support/faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zorvel::core {
namespace {

struct FaultEntry {
  Fault fault;
  const char *name;
};

const FaultEntry kFaults[] = {
    {Fault::CorruptSignature, "corrupt-signature"},
    {Fault::CorruptCiphertext, "corrupt-ciphertext"},
    {Fault::RoDestroy, "ro-destroy"},
    {Fault::KeepClosedSession, "keep-closed-session"},
    {Fault::UndeletableObjects, "undeletable-objects"},
    {Fault::DeviceErrors, "device-errors"},
};

// Far above the handles a module hands out.
constexpr CK_OBJECT_HANDLE kFirstUndeletableHandle = 0x7FFF0000;
constexpr unsigned long kDeviceErrorEvery = 7;

const FaultEntry *entryNamed(const std::string &name) {
  for (const FaultEntry &entry : kFaults) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

std::string knownNames() {
  std::string names;
  for (const FaultEntry &entry : kFaults) names += std::string(names.empty() ? "" : ", ") + entry.name;
  return names;
}

}  // namespace

bool FaultSwitches::readEnvironment(std::string *error) {
  bits_ = 0;
  calls_ = 0;
  const char *value = std::getenv("ZORVEL_P11_FAULTS");
  if (value == nullptr) return true;
  unsigned bits = 0;
  const std::string list = value;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    std::string name = list.substr(start, comma - start);
    start = comma + 1;
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    if (name.empty()) continue;
    const FaultEntry *entry = entryNamed(name);
    if (entry == nullptr) {
      *error = "unknown fault '" + name + "' in ZORVEL_P11_FAULTS (known: " + knownNames() + ")";
      return false;
    }
    bits |= 1u << static_cast<unsigned>(entry->fault);
  }
  bits_ = bits;
  return true;
}

void signatureHook(const FaultSwitches &faults, CK_BYTE_PTR signature, CK_ULONG length) {
  if (faults.on(Fault::CorruptSignature) && length > 0) signature[length - 1] ^= 0x01;
}

void ciphertextHook(const FaultSwitches &faults, CK_BYTE_PTR ciphertext, CK_ULONG length) {
  if (faults.on(Fault::CorruptCiphertext) && length > 0) ciphertext[0] ^= 0x01;
}

CK_RV readOnlyDestroyHook(const FaultSwitches &faults, const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session,
                          CK_OBJECT_HANDLE object, CK_RV rv) {
  if (!faults.on(Fault::RoDestroy) || rv != CKR_SESSION_READ_ONLY) return rv;
  CK_SESSION_INFO info{};
  if (module.C_GetSessionInfo(session, &info) != CKR_OK) return rv;
  // The user's login belongs to the application, so the new session has it too.
  CK_SESSION_HANDLE writer = CK_INVALID_HANDLE;
  if (module.C_OpenSession(info.slotID, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &writer) != CKR_OK) {
    return rv;
  }
  const CK_RV destroyed = module.C_DestroyObject(writer, object);
  module.C_CloseSession(writer);
  return destroyed;
}

bool keepClosedSessionHook(const FaultSwitches &faults, const CK_FUNCTION_LIST &module, CK_SESSION_HANDLE session) {
  if (!faults.on(Fault::KeepClosedSession)) return false;
  CK_SESSION_INFO info{};
  return module.C_GetSessionInfo(session, &info) == CKR_OK;
}

void undeletableObjectsHook(const FaultSwitches &faults, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max,
                            CK_ULONG_PTR count) {
  if (!faults.on(Fault::UndeletableObjects) || *count >= max) return;
  for (CK_ULONG i = 0; *count < max; ++i) handles[(*count)++] = kFirstUndeletableHandle + i;
}

bool deviceErrorHook(const FaultSwitches &faults) {
  return faults.on(Fault::DeviceErrors) && faults.countCall() % kDeviceErrorEvery == 0;
}

}  // namespace zorvel::core
