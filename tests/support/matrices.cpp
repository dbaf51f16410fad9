// Test matrices and the reference product.
#include "support/matrices.hpp"

#include <cstdlib>
#include <random>
#include <stdexcept>

#include "common/matrix_records.hpp"

namespace test_support {

owned_matrix::owned_matrix(int32_t rows, int32_t cols) {
  m_.lin = rows;
  m_.col = cols;
  m_.mat = nullptr;
  if (rows <= 0) {
    return;
  }
  m_.mat = static_cast<int32_t**>(std::calloc(static_cast<size_t>(rows), sizeof(int32_t*)));
  for (int32_t i = 0; i < rows; ++i) {
    m_.mat[i] = static_cast<int32_t*>(
        std::calloc(cols > 0 ? static_cast<size_t>(cols) : 1, sizeof(int32_t)));
  }
}

owned_matrix::owned_matrix(int32_t rows, int32_t cols, std::initializer_list<int32_t> row_major)
    : owned_matrix(rows, cols) {
  if (row_major.size() != static_cast<size_t>(rows) * static_cast<size_t>(cols)) {
    throw std::invalid_argument("owned_matrix: wrong number of values");
  }
  auto it = row_major.begin();
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) {
      m_.mat[i][j] = *it++;
    }
  }
}

owned_matrix::~owned_matrix() {
  if (!m_.mat) {
    return;
  }
  for (int32_t i = 0; i < m_.lin; ++i) {
    std::free(m_.mat[i]);
  }
  std::free(m_.mat);
}

std::vector<int32_t> owned_matrix::values() const { return values_of(&m_); }

void fill_random(owned_matrix& m, uint32_t seed, int32_t lo, int32_t hi) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> dist(lo, hi);
  for (int32_t i = 0; i < m.get()->lin; ++i) {
    for (int32_t j = 0; j < m.get()->col; ++j) {
      m.at(i, j) = dist(gen);
    }
  }
}

std::vector<int32_t> values_of(const dense_core::matriz* m) {
  std::vector<int32_t> out;
  if (!m || !m->mat) {
    return out;
  }
  for (int32_t i = 0; i < m->lin; ++i) {
    for (int32_t j = 0; j < m->col; ++j) {
      out.push_back(m->mat[i][j]);
    }
  }
  return out;
}

std::vector<int32_t> reference_product(const dense_core::matriz* a, const dense_core::matriz* b) {
  std::vector<int32_t> out(static_cast<size_t>(a->lin) * static_cast<size_t>(b->col), 0);
  add_reference_product(a, b, {0, a->lin, 0, a->col, 0, b->col}, out, b->col);
  return out;
}

void add_reference_product(const dense_core::matriz* a, const dense_core::matriz* b,
                           const product_block& block, std::vector<int32_t>& c, int32_t c_cols) {
  for (int32_t i = block.i0; i < block.i1; ++i) {
    for (int32_t j = block.j0; j < block.j1; ++j) {
      uint32_t sum = 0;
      for (int32_t k = block.k0; k < block.k1; ++k) {
        sum += static_cast<uint32_t>(a->mat[i][k]) * static_cast<uint32_t>(b->mat[k][j]);
      }
      int32_t& cell =
          c[static_cast<size_t>(i) * static_cast<size_t>(c_cols) + static_cast<size_t>(j)];
      cell = static_cast<int32_t>(static_cast<uint32_t>(cell) + sum);
    }
  }
}

void matrix_deleter::operator()(dense_core::matriz* m) const { dense_detail::release_matrix(m); }

}  // namespace test_support
