// Kernel test cases and their independently computed expected results.
#include "block_case.hpp"

#include <random>

namespace kernel_test {

block_case::block_case(int32_t a_rows, int32_t a_cols, int32_t b_rows, int32_t b_cols,
                       int32_t c_rows, int32_t c_cols, uint32_t seed, int32_t lo, int32_t hi)
    : a(a_rows, a_cols),
      b(b_rows, b_cols),
      c(c_rows, c_cols),
      a_block{0, a_rows, 0, a_cols},
      b_block{0, b_rows, 0, b_cols},
      c_block{0, c_rows, 0, c_cols},
      a_desc{a.get(), &a_block},
      b_desc{b.get(), &b_block},
      c_desc{c.get(), &c_block} {
  test_support::fill_random(a, seed, lo, hi);
  test_support::fill_random(b, seed + 1, lo, hi);
  test_support::fill_random(c, seed + 2, lo, hi);
}

void block_case::set_block(int32_t i0, int32_t i1, int32_t k0, int32_t k1, int32_t j0, int32_t j1) {
  a_block = {i0, i1, k0, k1};
  b_block.col_inicio = j0;
  b_block.col_fim = j1;
}

std::vector<int32_t> block_case::expected_c() const {
  std::vector<int32_t> out = c.values();
  test_support::add_reference_product(a.get(), b.get(),
                                      {a_block.lin_inicio, a_block.lin_fim, a_block.col_inicio,
                                       a_block.col_fim, b_block.col_inicio, b_block.col_fim},
                                      out, c.get()->col);
  return out;
}

void fill_extremes(owned_matrix& m, uint32_t seed) {
  static constexpr int32_t kValues[] = {
      INT32_MIN, INT32_MIN + 1, INT32_MAX,  INT32_MAX - 1, -1,    1,
      0,         1 << 30,       -(1 << 30), 65537,         -65536};
  std::mt19937 gen(seed);
  std::uniform_int_distribution<size_t> pick(0, std::size(kValues) - 1);
  for (int32_t i = 0; i < m.get()->lin; ++i) {
    for (int32_t j = 0; j < m.get()->col; ++j) {
      m.at(i, j) = kValues[pick(gen)];
    }
  }
}

}  // namespace kernel_test
