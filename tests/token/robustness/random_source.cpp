#include "random_source.h"

namespace zorvel::robustness {
namespace {

// SplitMix64's output function: a good mix of 64 bits.
std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

RandomSource::RandomSource(std::uint64_t seed, std::uint64_t caseIndex)
    : state_(mix(mix(seed) ^ (caseIndex * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL))) {}

std::uint64_t RandomSource::next() {
  state_ += 0x9E3779B97F4A7C15ULL;
  return mix(state_);
}

std::uint64_t RandomSource::below(std::uint64_t bound) { return next() % bound; }

bool RandomSource::percent(unsigned chance) { return below(100) < chance; }

Bytes RandomSource::bytes(std::size_t length) {
  Bytes out(length);
  for (CK_BYTE &b : out) b = static_cast<CK_BYTE>(next());
  return out;
}

}  // namespace zorvel::robustness
