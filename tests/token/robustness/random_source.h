// The deterministic random source of one case: seeded from the run's seed and the case's
// index alone, so that a case can be generated again on its own (--seed S --case I).
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_RANDOM_SOURCE_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_RANDOM_SOURCE_H

#include "case_model.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace zorvel::robustness {

class RandomSource {
 public:
  RandomSource(std::uint64_t seed, std::uint64_t caseIndex);

  std::uint64_t next();
  // A number in [0, bound); bound > 0.
  std::uint64_t below(std::uint64_t bound);
  // True with the given chance in percent.
  bool percent(unsigned chance);
  Bytes bytes(std::size_t length);

  template <typename T>
  const T &pick(const std::vector<T> &choices) {
    return choices[below(choices.size())];
  }
  template <typename T>
  T pick(std::initializer_list<T> choices) {
    return choices.begin()[below(choices.size())];
  }
  template <typename T, std::size_t N>
  const T &pick(const T (&choices)[N]) {
    return choices[below(N)];
  }

 private:
  std::uint64_t state_;
};

}  // namespace zorvel::robustness

#endif
