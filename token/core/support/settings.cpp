#include "support/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zorvel::core {
namespace {

const char *variable(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

void reportIgnored(const char *name, const char *value, const char *expected) {
  std::fprintf(stderr, "libzorvelP11: ignoring %s=%s (expected %s)\n", name, value, expected);
}

bool parseNumber(const char *text, const char **end, CK_ULONG *number) {
  if (*text < '0' || *text > '9') return false;
  char *stop = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &stop, 10);
  if (errno != 0) return false;
  *number = static_cast<CK_ULONG>(value);
  *end = stop;
  return true;
}

// "MIN:MAX", MIN <= MAX.
void readRange(const char *name, KeySizeRange *range) {
  const char *value = variable(name);
  if (value == nullptr) return;
  KeySizeRange parsed{};
  const char *rest = nullptr;
  if (parseNumber(value, &rest, &parsed.min) && *rest == ':' && parseNumber(rest + 1, &rest, &parsed.max) &&
      *rest == '\0' && parsed.min <= parsed.max) {
    *range = parsed;
  } else {
    reportIgnored(name, value, "MIN:MAX with MIN <= MAX");
  }
}

void readSwitch(const char *name, bool *on) {
  const char *value = variable(name);
  if (value == nullptr) return;
  for (const char *yes : {"1", "on", "yes", "true"}) {
    if (std::strcmp(value, yes) == 0) {
      *on = true;
      return;
    }
  }
  for (const char *no : {"0", "off", "no", "false"}) {
    if (std::strcmp(value, no) == 0) {
      *on = false;
      return;
    }
  }
  reportIgnored(name, value, "1 or 0");
}

void readProvokedFailureMode(bool *surface) {
  const char *name = "ZORVEL_P11_PROVOKED_FAILURE";
  const char *value = variable(name);
  if (value == nullptr) return;
  if (std::strcmp(value, "absorb") == 0) {
    *surface = false;
  } else if (std::strcmp(value, "surface") == 0) {
    *surface = true;
  } else {
    reportIgnored(name, value, "absorb or surface");
  }
}

}  // namespace

Settings readSettings() {
  Settings settings;
  if (const char *module = variable("ZORVEL_P11_MODULE")) settings.modulePath = module;
  readRange("ZORVEL_P11_RSA_BITS", &settings.rsaBits);
  readRange("ZORVEL_P11_DSA_BITS", &settings.dsaBits);
  readRange("ZORVEL_P11_DH_BITS", &settings.dhBits);
  readSwitch("ZORVEL_P11_SERIALIZE_SESSIONS", &settings.serializeSessions);
  readProvokedFailureMode(&settings.surfaceProvokedFailure);
  readSwitch("ZORVEL_P11_TRACE", &settings.trace);
  return settings;
}

}  // namespace zorvel::core
