// Matrices for tests: built without the library, checked against a plain reference product.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <initializer_list>
#include <memory>
#include <vector>

namespace test_support {

// A matrix whose storage the test owns, laid out like the library's (one
// heap block per row), released when it goes out of scope.
class owned_matrix {
 public:
  owned_matrix(int32_t rows, int32_t cols);  // zero-filled
  owned_matrix(int32_t rows, int32_t cols, std::initializer_list<int32_t> row_major);
  owned_matrix(const owned_matrix&) = delete;
  owned_matrix& operator=(const owned_matrix&) = delete;
  ~owned_matrix();

  dense_core::matriz* get() { return &m_; }
  const dense_core::matriz* get() const { return &m_; }
  int32_t& at(int32_t i, int32_t j) { return m_.mat[i][j]; }
  int32_t at(int32_t i, int32_t j) const { return m_.mat[i][j]; }
  std::vector<int32_t> values() const;  // row by row

 private:
  dense_core::matriz m_{};
};

// Fills with values from a fixed-seed generator in [lo, hi].
void fill_random(owned_matrix& m, uint32_t seed, int32_t lo = -1000, int32_t hi = 1000);

// Row-by-row values of any matrix with storage.
std::vector<int32_t> values_of(const dense_core::matriz* m);

// The product a x b, row by row, wrapping at 32 bits: the truth every product is checked against.
std::vector<int32_t> reference_product(const dense_core::matriz* a, const dense_core::matriz* b);

// Rows [i0, i1), inner range [k0, k1) and columns [j0, j1) of a product, in
// whole-matrix indices.
struct product_block {
  int32_t i0, i1, k0, k1, j0, j1;
};

// The same truth on a block, as the block kernel computes it: adds
// a[i][k] * b[k][j] over k in [k0, k1), wrapping at 32 bits, into c[i][j] for
// every (i, j) of the block, where `c` holds a matrix of `c_cols` columns row
// by row.
void add_reference_product(const dense_core::matriz* a, const dense_core::matriz* b,
                           const product_block& block, std::vector<int32_t>& c, int32_t c_cols);

// Frees a matrix record that the library returned (its storage, then the record);
// accepts null and records without storage.
struct matrix_deleter {
  void operator()(dense_core::matriz* m) const;
};
using result_ptr = std::unique_ptr<dense_core::matriz, matrix_deleter>;

}  // namespace test_support
