// Seeded fill and row reversal of compare_products' factors.
#include "factors.hpp"

#include <utility>

#include "tools/common/seeded.hpp"

namespace compare_products {

void fill_seeded(dense_core::matriz* m, int32_t limit, uint64_t* state) {
  const auto range = static_cast<uint64_t>(limit);
  tool_common::splitmix64 gen{*state};
  for (int32_t i = 0; i < m->lin; ++i) {
    for (int32_t j = 0; j < m->col; ++j) {
      m->mat[i][j] = static_cast<int32_t>(1 + gen.next() % range);
    }
  }
  *state = gen.state;
}

void reverse_rows(dense_core::matriz* m) {
  for (int32_t i = 0, j = m->lin - 1; i < j; ++i, --j) {
    std::swap(m->mat[i], m->mat[j]);
  }
}

}  // namespace compare_products
