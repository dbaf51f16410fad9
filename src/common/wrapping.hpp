// Element arithmetic that wraps at 32 bits, as every product of the library does.
//
// Signed overflow is undefined behaviour in C++, so the arithmetic itself is
// done in uint32_t, where it wraps by definition, and only the stored values
// are int32_t. Both conversions are free at run time.
#pragma once

#include <cstdint>

namespace dense_detail {

// An element as the unsigned value the arithmetic is done in.
inline uint32_t as_u32(int32_t v) { return static_cast<uint32_t>(v); }

// A wrapped result back as the element it is stored as.
inline int32_t as_i32(uint32_t v) { return static_cast<int32_t>(v); }

// c_row[j] += a_ik * b_row[j] for every j < cols, wrapping at 32 bits. The
// rows are separate heap blocks that never overlap; saying so lets the
// compiler vectorise the loop without run-time overlap checks.
inline void add_scaled_row(int32_t* __restrict c_row, const int32_t* __restrict b_row,
                           uint32_t a_ik, int32_t cols) {
  for (int32_t j = 0; j < cols; ++j) {
    c_row[j] = as_i32(as_u32(c_row[j]) + a_ik * as_u32(b_row[j]));
  }
}

}  // namespace dense_detail
