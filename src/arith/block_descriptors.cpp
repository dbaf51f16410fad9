// Band descriptors over a caller's matrix, zeroed result parts, and the block
// product that adds one band's share of a product into a part.
#include <cstdio>
#include <cstdlib>

#include <dense/dense_arith.hpp>

#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "common/wrapping.hpp"

namespace dense_arith {
namespace {

using dense_detail::as_i32;
using dense_detail::as_u32;
using dense_msg::kMissingMatrix;
using dense_msg::kNoMemory;

[[noreturn]] void out_of_memory_exit() {
  std::puts(dense_msg::kOutOfMemory);
  std::exit(1);
}

// Frees the first `made` descriptors of a partition under construction, and
// the array itself.
void drop_partition(submatriz** parts, int32_t made) {
  for (int32_t t = 0; t < made; ++t) {
    std::free(parts[t]->bloco);
    std::free(parts[t]);
  }
  std::free(parts);
}

// True when [lo, hi) is empty or lies inside [0, limit).
bool inside(int32_t lo, int32_t hi, int32_t limit) { return lo >= hi || (lo >= 0 && hi <= limit); }

}  // namespace

submatriz** particionar_matriz(int32_t** mat, int32_t lin, int32_t col, int32_t orientacao,
                               int32_t divisor) {
  // A divisor below 1 describes no band at all: refused like an array that
  // cannot be had, before anything is allocated.
  if (mat == nullptr || divisor < 1) {
    std::puts(kNoMemory);
    return nullptr;
  }
  auto** parts =
      static_cast<submatriz**>(std::calloc(static_cast<size_t>(divisor), sizeof(submatriz*)));
  if (parts == nullptr) {
    std::puts(kNoMemory);
    return nullptr;
  }
  if (orientacao == 0 && divisor > lin) {
    std::printf(dense_msg::kDivisorOverRowsFmt, divisor, lin);
    std::free(parts);
    return nullptr;
  }
  if (orientacao == 1 && divisor > col) {
    std::printf(dense_msg::kDivisorOverColsFmt, divisor, col);
    std::free(parts);
    return nullptr;
  }

  for (int32_t t = 0; t < divisor; ++t) {
    auto* d = static_cast<submatriz*>(std::malloc(sizeof(submatriz)));
    auto* b = static_cast<bloco*>(std::malloc(sizeof(bloco)));
    if (d == nullptr || b == nullptr) {
      std::free(d);
      std::free(b);
      drop_partition(parts, t);
      std::puts(kNoMemory);
      return nullptr;
    }
    d->bloco = b;
    parts[t] = d;
  }
  // One record for the whole call: it wraps the caller's row table, so every
  // descriptor reads and writes the caller's own rows.
  matriz* shared = dense_detail::new_matrix_record(lin, col);
  if (shared == nullptr) {
    drop_partition(parts, divisor);
    std::puts(kNoMemory);
    return nullptr;
  }
  shared->mat = mat;

  // Every band gets count/divisor; the last one also takes the remainder.
  // Orientations other than 0 and 1 are cut into columns without the divisor
  // check, so their leading bands may be empty ([0, 0)).
  const int32_t step = (orientacao == 0 ? lin : col) / divisor;
  for (int32_t t = 0; t < divisor; ++t) {
    parts[t]->matriz = shared;
    bloco* b = parts[t]->bloco;
    const int32_t lo = t * step;
    const int32_t hi = t == divisor - 1 ? (orientacao == 0 ? lin : col) : lo + step;
    if (orientacao == 0) {
      *b = bloco{lo, hi, 0, col};
    } else {
      *b = bloco{0, lin, lo, hi};
    }
  }
  return parts;
}

submatriz** csubmatrizv2(int32_t lin, int32_t col, int32_t divisor) {
  if (divisor < 0) out_of_memory_exit();
  // Room for one entry even when divisor is 0, so the empty array is a real,
  // freeable block and never mistaken for a failure.
  auto** parts = static_cast<submatriz**>(
      std::calloc(static_cast<size_t>(divisor > 0 ? divisor : 1), sizeof(submatriz*)));
  if (parts == nullptr) out_of_memory_exit();

  for (int32_t t = 0; t < divisor; ++t) {
    auto* d = static_cast<submatriz*>(std::malloc(sizeof(submatriz)));
    auto* b = static_cast<bloco*>(std::malloc(sizeof(bloco)));
    if (d == nullptr || b == nullptr) {
      out_of_memory_exit();
    }
    *b = bloco{0, lin, 0, col};
    d->bloco = b;
    matriz* m = dense_detail::new_zeroed_matrix(lin, col);
    if (m == nullptr) {
      // A part whose storage is refused stays in the array without storage,
      // and every product refuses it. Bad counts malocar has explained; an
      // exhausted heap is said here.
      m = dense_detail::new_matrix_record(lin, col);
      if (m == nullptr) {
        out_of_memory_exit();
      }
      if (lin > 0 && col > 0) {
        std::puts(dense_msg::kOutOfMemory);
      }
    }
    d->matriz = m;
    parts[t] = d;
  }
  return parts;
}

int32_t multiplicar_submatriz(const submatriz* a, const submatriz* b, const submatriz* r) {
  if (a == nullptr || b == nullptr || r == nullptr || a->bloco == nullptr || b->bloco == nullptr) {
    std::puts(kNoMemory);
    return -1;
  }
  if (a->matriz == nullptr || b->matriz == nullptr || r->matriz == nullptr ||
      a->matriz->mat == nullptr || b->matriz->mat == nullptr || r->matriz->mat == nullptr) {
    std::puts(kMissingMatrix);
    return -1;
  }
  const bloco& ab = *a->bloco;
  const bloco& bb = *b->bloco;
  const matriz& am = *a->matriz;
  const matriz& bm = *b->matriz;
  const matriz& rm = *r->matriz;
  // Nothing is read or written when any of the three ranges is empty.
  if (ab.lin_inicio >= ab.lin_fim || bb.col_inicio >= bb.col_fim) return 0;
  if (ab.col_inicio >= ab.col_fim) return 0;
  // Bounds that leave a matrix would read or write foreign memory: refuse them.
  if (!inside(ab.lin_inicio, ab.lin_fim, am.lin) || !inside(ab.lin_inicio, ab.lin_fim, rm.lin) ||
      !inside(ab.col_inicio, ab.col_fim, am.col) || !inside(ab.col_inicio, ab.col_fim, bm.lin) ||
      !inside(bb.col_inicio, bb.col_fim, bm.col) || !inside(bb.col_inicio, bb.col_fim, rm.col)) {
    std::puts(dense_msg::kInvalidForProduct);
    return -1;
  }
  for (int32_t i = ab.lin_inicio; i < ab.lin_fim; ++i) {
    const int32_t* ai = am.mat[i];
    int32_t* ri = rm.mat[i];
    for (int32_t j = bb.col_inicio; j < bb.col_fim; ++j) {
      uint32_t sum = as_u32(ri[j]);
      for (int32_t k = ab.col_inicio; k < ab.col_fim; ++k) {
        sum += as_u32(ai[k]) * as_u32(bm.mat[k][j]);
      }
      ri[j] = as_i32(sum);
    }
  }
  return 0;
}

namespace detail {

void release_partition(submatriz** parts, int32_t divisor) {
  if (parts == nullptr) return;
  // All descriptors share one record; the rows it points to stay the caller's.
  if (divisor > 0 && parts[0] != nullptr) std::free(parts[0]->matriz);
  drop_partition(parts, divisor);
}

void release_parts(submatriz** parts, int32_t divisor) {
  if (parts == nullptr) return;
  for (int32_t t = 0; t < divisor; ++t) {
    if (parts[t] == nullptr) continue;
    dense_detail::release_matrix(parts[t]->matriz);
    std::free(parts[t]->bloco);
    std::free(parts[t]);
  }
  std::free(parts);
}

}  // namespace detail
}  // namespace dense_arith
