// Seeded fill and row reversal of compare_products' factors.
#include "compare_factors.hpp"

#include <utility>

namespace compare_tool {
namespace {

// splitmix64: every seed, 0 included, starts a full-period sequence.
uint64_t next_value(uint64_t* state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

void fill_seeded(dense_core::matriz* m, int32_t limit, uint64_t* state) {
  const auto range = static_cast<uint64_t>(limit);
  for (int32_t i = 0; i < m->lin; ++i) {
    for (int32_t j = 0; j < m->col; ++j) {
      m->mat[i][j] = static_cast<int32_t>(1 + next_value(state) % range);
    }
  }
}

void reverse_rows(dense_core::matriz* m) {
  for (int32_t i = 0, j = m->lin - 1; i < j; ++i, --j) {
    std::swap(m->mat[i], m->mat[j]);
  }
}

}  // namespace compare_tool
