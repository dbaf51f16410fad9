// Inputs shared by the benchmark programs: random square matrices built outside the timing loops.
#pragma once

#include <cstdint>
#include <random>

#include <dense/dense_core.hpp>

namespace bench_support {

// A random n x n matrix (values in [-1000, 1000]) with storage from the
// library, freed on scope exit.
class square {
 public:
  square(int32_t n, uint32_t seed) : m_{nullptr, n, n} {
    dense_core::malocar(&m_);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> dist(-1000, 1000);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < n; ++j) m_.mat[i][j] = dist(gen);
  }
  square(const square&) = delete;
  square& operator=(const square&) = delete;
  ~square() { dense_core::mliberar(&m_); }
  dense_core::matriz* get() { return &m_; }

 private:
  dense_core::matriz m_;
};

}  // namespace bench_support
