// Values that follow from a seed alone: the same numbers on every machine, with every standard
// library, in every run.
#pragma once

#include <cstdint>

namespace tool_common {

// SplitMix64's output function: a 64-bit value scrambled so that nearby
// inputs give unrelated outputs.
inline uint64_t mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// SplitMix64: a generator fully defined by its state; every seed, 0
// included, starts a full-period sequence.
struct splitmix64 {
  uint64_t state;
  uint64_t next() { return mix64(state += 0x9E3779B97F4A7C15u); }
};

}  // namespace tool_common
