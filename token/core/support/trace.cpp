#include "support/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zorvel::core {
namespace {

std::atomic<bool> g_tracing{false};

// Trivially destructible: the namespace's C library never runs the destructors of a
// thread's objects (README.md).
constexpr std::size_t kServedByRoom = 200;
thread_local char t_servedBy[kServedByRoom];

std::string hex(CK_ULONG value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

bool startsWith(std::string_view name, std::string_view prefix) { return name.substr(0, prefix.size()) == prefix; }

bool contains(std::string_view name, std::string_view part) { return name.find(part) != std::string_view::npos; }

// Lengths of PINs tell something of them.
bool isSecretLength(std::string_view name) {
  return contains(name, "Pin") || name == "ulOldLen" || name == "ulNewLen";
}

}  // namespace

void setTracing(bool on) { g_tracing.store(on); }
bool tracing() { return g_tracing.load(std::memory_order_relaxed); }

void noteServedBy(const char *name) {
  if (!tracing()) return;
  const std::size_t used = std::strlen(t_servedBy);
  std::snprintf(t_servedBy + used, kServedByRoom - used, "%s%s", used == 0 ? "" : ", ", name);
}

void clearServedBy() { t_servedBy[0] = '\0'; }

// Parameters are "(TYPE name, TYPE name, ...)": the name is the last word of each.
std::string_view TraceLine::nextName() {
  while (!parameters_.empty() && (parameters_.front() == '(' || parameters_.front() == ',')) {
    parameters_.remove_prefix(1);
  }
  const std::size_t end = std::min(parameters_.find_first_of(",)"), parameters_.size());
  std::string_view parameter = parameters_.substr(0, end);
  parameters_.remove_prefix(end);
  while (!parameter.empty() && parameter.back() == ' ') parameter.remove_suffix(1);
  const std::size_t space = parameter.find_last_of(" *");
  return space == std::string_view::npos ? parameter : parameter.substr(space + 1);
}

void TraceLine::describe(std::string_view name, CK_ULONG value) {
  std::string shown;
  if (startsWith(name, "h") || name == "flags" || name == "type") {
    shown = hex(value);
  } else if (name == "slotID" || name == "userType" || (startsWith(name, "ul") && !isSecretLength(name))) {
    shown = std::to_string(value);
  } else {
    return;
  }
  text_ += " " + std::string(name) + "=" + shown;
}

// What the call returned there: a handle (ph...), a length or count (pul...; also after
// CKR_BUFFER_TOO_SMALL), the slot of an event. Nothing after other failures: the value
// is then the caller's, maybe never set. Nor the handles C_FindObjects found: an array
// of *pulObjectCount elements, maybe none.
void TraceLine::describe(std::string_view name, CK_ULONG_PTR value) {
  const bool isLength = startsWith(name, "pul");
  if (value == nullptr || !(isLength || startsWith(name, "ph") || name == "pSlot")) return;
  if (name == "phObject" && std::string_view(function_) == "C_FindObjects") return;
  if (rv_ != CKR_OK && !(isLength && rv_ == CKR_BUFFER_TOO_SMALL)) return;
  text_ += " " + std::string(name) + "=" + (isLength ? std::to_string(*value) : hex(*value));
}

void TraceLine::describe(std::string_view, CK_MECHANISM_PTR mechanism) {
  text_ += " mechanism=" + (mechanism != nullptr ? hex(mechanism->mechanism) : std::string("null"));
}

void TraceLine::describe(std::string_view name, CK_BYTE_PTR data) {
  if (data == nullptr && !contains(name, "Pin")) text_ += " " + std::string(name) + "=null";
}

void TraceLine::describe(std::string_view name, CK_BBOOL value) {
  text_ += " " + std::string(name) + "=" + std::to_string(value);
}

void TraceLine::write() {
  const std::string servedBy = t_servedBy[0] == '\0' ? "" : " [" + std::string(t_servedBy) + "]";
  std::fprintf(stderr, "libzorvelP11: %s%s%s -> %s\n", function_, text_.c_str(), servedBy.c_str(), hex(rv_).c_str());
}

}  // namespace zorvel::core
