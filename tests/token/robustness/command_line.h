// The program's options.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_COMMAND_LINE_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_COMMAND_LINE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvel::robustness {

struct Options {
  std::vector<std::uint64_t> seeds;   // empty: the fixed seeds and one from the clock
  std::optional<std::uint64_t> casesPerSeed;
  std::optional<double> seconds;      // stop starting cases after this long
  std::optional<std::uint64_t> replay;  // --case: run this case of the one seed alone
  std::string modulePath;             // --module: the target (the reference with --legitimate)
  bool legitimate = false;
  unsigned jobs = 1;
  double timeoutSeconds = 5;
};

// Parses argv; false with a message on error (or --help).
bool parseCommandLine(int argc, char **argv, Options *options, std::string *message);

}  // namespace zorvel::robustness

#endif
