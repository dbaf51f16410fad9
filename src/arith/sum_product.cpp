// Element-wise sum and the sequential product, each in the visiting order its `tipo` selects.
//
// Why the loops look the way they do: every `tipo` of the product is a lesson
// in memory traffic, so each runs exactly its own nest, never interchanged,
// blocked or transposed. Within a nest the code only hoists row pointers and
// loop-invariant elements and tells the compiler that the fresh result does
// not alias the operands; that lets the unit-stride nests vectorise and keeps
// the strided ones honestly slow. Arithmetic is done in uint32_t so that it
// wraps at 32 bits without undefined behaviour.
#include <cstdio>
#include <cstdlib>

#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "common/wrapping.hpp"

namespace dense_arith {
namespace {

using u32 = uint32_t;
using dense_detail::as_i32;
using dense_detail::as_u32;

// The refusals both operations share, in order: a null operand, then an
// operand without storage. True when both operands can be read.
bool operands_usable(const matriz* a, const matriz* b) {
  if (a == nullptr || b == nullptr) {
    std::puts(dense_msg::kNoMemory);
    return false;
  }
  if (a->mat == nullptr || b->mat == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return false;
  }
  return true;
}

// A new zeroed lin x col result. A result that cannot be allocated is fatal:
// the callers have no way to go on without it.
matriz* new_result(int32_t lin, int32_t col) {
  matriz* r = dense_detail::new_zeroed_matrix(lin, col);
  if (r == nullptr) {
    std::puts(dense_msg::kOutOfMemory);
    std::exit(1);
  }
  return r;
}

// tipo 0: i, j, k.
void nest_ijk(int32_t* const* a, int32_t* const* b, int32_t* const* r, int32_t n_i, int32_t n_j,
              int32_t n_k) {
  for (int32_t i = 0; i < n_i; ++i) {
    const int32_t* __restrict ai = a[i];
    int32_t* __restrict ri = r[i];
    for (int32_t j = 0; j < n_j; ++j) {
      u32 acc = as_u32(ri[j]);
      for (int32_t k = 0; k < n_k; ++k) {
        acc += as_u32(ai[k]) * as_u32(b[k][j]);
      }
      ri[j] = as_i32(acc);
    }
  }
}

// tipo 1: i, k, j.
void nest_ikj(int32_t* const* a, int32_t* const* b, int32_t* const* r, int32_t n_i, int32_t n_j,
              int32_t n_k) {
  for (int32_t i = 0; i < n_i; ++i) {
    int32_t* __restrict ri = r[i];
    for (int32_t k = 0; k < n_k; ++k) {
      const u32 aik = as_u32(a[i][k]);
      const int32_t* __restrict bk = b[k];
      for (int32_t j = 0; j < n_j; ++j) {
        ri[j] = as_i32(as_u32(ri[j]) + aik * as_u32(bk[j]));
      }
    }
  }
}

// tipo 2 and 3: k, i, j.
void nest_kij(int32_t* const* a, int32_t* const* b, int32_t* const* r, int32_t n_i, int32_t n_j,
              int32_t n_k) {
  for (int32_t k = 0; k < n_k; ++k) {
    const int32_t* __restrict bk = b[k];
    for (int32_t i = 0; i < n_i; ++i) {
      const u32 aik = as_u32(a[i][k]);
      int32_t* __restrict ri = r[i];
      for (int32_t j = 0; j < n_j; ++j) {
        ri[j] = as_i32(as_u32(ri[j]) + aik * as_u32(bk[j]));
      }
    }
  }
}

// tipo 4: j, i, k.
void nest_jik(int32_t* const* a, int32_t* const* b, int32_t* const* r, int32_t n_i, int32_t n_j,
              int32_t n_k) {
  for (int32_t j = 0; j < n_j; ++j) {
    for (int32_t i = 0; i < n_i; ++i) {
      const int32_t* __restrict ai = a[i];
      u32 acc = as_u32(r[i][j]);
      for (int32_t k = 0; k < n_k; ++k) {
        acc += as_u32(ai[k]) * as_u32(b[k][j]);
      }
      r[i][j] = as_i32(acc);
    }
  }
}

// tipo 5 and every other value: j, k, i.
void nest_jki(int32_t* const* a, int32_t* const* b, int32_t* const* r, int32_t n_i, int32_t n_j,
              int32_t n_k) {
  for (int32_t j = 0; j < n_j; ++j) {
    for (int32_t k = 0; k < n_k; ++k) {
      const u32 bkj = as_u32(b[k][j]);
      for (int32_t i = 0; i < n_i; ++i) {
        r[i][j] = as_i32(as_u32(r[i][j]) + as_u32(a[i][k]) * bkj);
      }
    }
  }
}

}  // namespace

matriz* msomar(const matriz* a, const matriz* b, int32_t tipo) {
  if (!operands_usable(a, b)) {
    return nullptr;
  }
  if (a->lin != b->lin || a->col != b->col) {
    std::puts(dense_msg::kSumShapes);
    return nullptr;
  }
  matriz* r = new_result(a->lin, a->col);
  const int32_t lin = a->lin;
  const int32_t col = a->col;
  if (tipo == 0) {
    for (int32_t i = 0; i < lin; ++i) {
      const int32_t* __restrict ai = a->mat[i];
      const int32_t* __restrict bi = b->mat[i];
      int32_t* __restrict ri = r->mat[i];
      for (int32_t j = 0; j < col; ++j) {
        ri[j] = as_i32(as_u32(ai[j]) + as_u32(bi[j]));
      }
    }
  } else {
    // Every value other than 0 walks column by column, whatever the shape.
    for (int32_t j = 0; j < col; ++j) {
      for (int32_t i = 0; i < lin; ++i) {
        r->mat[i][j] = as_i32(as_u32(a->mat[i][j]) + as_u32(b->mat[i][j]));
      }
    }
  }
  return r;
}

matriz* mmultiplicar(const matriz* a, const matriz* b, int32_t tipo) {
  if (!operands_usable(a, b)) {
    return nullptr;
  }
  if (a->col != b->lin) {
    std::puts(dense_msg::kProductShapes);
    return nullptr;
  }
  matriz* r = new_result(a->lin, b->col);
  const int32_t n_i = a->lin;
  const int32_t n_j = b->col;
  const int32_t n_k = a->col;
  switch (tipo) {
    case 0:
      nest_ijk(a->mat, b->mat, r->mat, n_i, n_j, n_k);
      break;
    case 1:
      nest_ikj(a->mat, b->mat, r->mat, n_i, n_j, n_k);
      break;
    case 2:
    case 3:
      nest_kij(a->mat, b->mat, r->mat, n_i, n_j, n_k);
      break;
    case 4:
      nest_jik(a->mat, b->mat, r->mat, n_i, n_j, n_k);
      break;
    default:
      nest_jki(a->mat, b->mat, r->mat, n_i, n_j, n_k);
      break;
  }
  return r;
}

}  // namespace dense_arith
