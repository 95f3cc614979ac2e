#include "command_line.h"

#include <cstdlib>
#include <cstring>

namespace zorvel::robustness {
namespace {

const char kUsage[] =
    "usage: standin_robustness [--seed N]... [--cases N | --seconds S] [--case I] [--module PATH]\n"
    "                          [--legitimate] [--jobs N] [--timeout S]\n"
    "  --seed N      a seed (repeatable); none: seeds 1, 2, 3 and one from the clock\n"
    "  --cases N     cases of each seed\n"
    "  --seconds S   start no case after S seconds (default 20 unless --cases is given)\n"
    "  --case I      replay case I of the one seed alone, its output shown\n"
    "  --module PATH the cases' target is this PKCS#11 module instead of the stand-in;\n"
    "                with --legitimate the module the stand-in is compared with\n"
    "                (default: SoftHSM2's)\n"
    "  --legitimate  generated legitimate input on the stand-in and the module; fails where\n"
    "                the stand-in refuses what the module takes, outside its conventions\n"
    "  --jobs N      N prepared processes per target, running cases side by side\n"
    "  --timeout S   seconds a case may take before it counts as a hang (default 5)\n";

bool number(const char *text, double *value) {
  char *end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && *value >= 0;
}

bool whole(const char *text, std::uint64_t *value) {
  char *end = nullptr;
  *value = std::strtoull(text, &end, 0);
  return end != text && *end == '\0';
}

}  // namespace

bool parseCommandLine(int argc, char **argv, Options *options, std::string *message) {
  for (int i = 1; i < argc; ++i) {
    const char *option = argv[i];
    if (std::strcmp(option, "--legitimate") == 0) {
      options->legitimate = true;
      continue;
    }
    if (std::strcmp(option, "--help") == 0) {
      *message = kUsage;
      return false;
    }
    if (i + 1 >= argc) {
      *message = std::string("unknown option or missing value: ") + option + "\n" + kUsage;
      return false;
    }
    const char *value = argv[++i];
    std::uint64_t n = 0;
    double seconds = 0;
    bool valid = true;
    if (std::strcmp(option, "--seed") == 0) {
      valid = whole(value, &n);
      options->seeds.push_back(n);
    } else if (std::strcmp(option, "--cases") == 0) {
      valid = whole(value, &n);
      options->casesPerSeed = n;
    } else if (std::strcmp(option, "--case") == 0) {
      valid = whole(value, &n);
      options->replay = n;
    } else if (std::strcmp(option, "--jobs") == 0) {
      valid = whole(value, &n) && n > 0 && n <= 64;
      options->jobs = static_cast<unsigned>(n);
    } else if (std::strcmp(option, "--seconds") == 0) {
      valid = number(value, &seconds);
      options->seconds = seconds;
    } else if (std::strcmp(option, "--timeout") == 0) {
      valid = number(value, &seconds) && seconds > 0;
      options->timeoutSeconds = seconds;
    } else if (std::strcmp(option, "--module") == 0) {
      options->modulePath = value;
    } else {
      *message = std::string("unknown option ") + option + "\n" + kUsage;
      return false;
    }
    if (!valid) {
      *message = std::string("bad value for ") + option + ": " + value + "\n";
      return false;
    }
  }
  if (options->replay && options->seeds.size() != 1) {
    *message = "--case needs exactly one --seed\n";
    return false;
  }
  return true;
}

}  // namespace zorvel::robustness
