// The copying partition: bands of rows or columns held as separate matrices.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dense/dense_core.hpp>

#include "common/matrix_records.hpp"
#include "common/messages.hpp"

namespace dense_core {
namespace {

// Frees everything a partial result holds: band storage, records, bandas, array.
void discard(banda** bands, int32_t made) {
  for (int32_t k = 0; k < made; ++k) {
    if (bands[k] == nullptr) {
      continue;
    }
    dense_detail::release_matrix(bands[k]->matriz);
    std::free(bands[k]);
  }
  std::free(bands);
}

// Creates band `k` of `bands` as a zeroed lin x col matrix. A band whose
// storage is refused stays in the array with a null `mat` (malocar has said
// why; the zeroing then reports the missing matrix). Returns false only when
// the band's own records cannot be allocated.
bool make_band(banda** bands, int32_t k, int32_t lin, int32_t col) {
  auto* b = static_cast<banda*>(std::malloc(sizeof(banda)));
  if (b == nullptr) {
    return false;
  }
  b->matriz = nullptr;
  bands[k] = b;
  matriz* m = dense_detail::new_zeroed_matrix(lin, col);
  if (m == nullptr) {
    m = dense_detail::new_matrix_record(lin, col);
    if (m == nullptr) {
      return false;
    }
    std::puts(dense_msg::kOutOfMemory);
    mzerar(m);  // reports the band's missing matrix
  }
  b->matriz = m;
  return true;
}

// The band-size rule shared by both operations: d / n each, the last band
// also taking the remainder when it is positive.
int32_t band_size(int32_t d, int32_t n, int32_t k) {
  int32_t size = d / n;
  if (k == n - 1 && d % n > 0) {
    size += d % n;
  }
  return size;
}

// Allocates the array and creates the bands; null (after freeing whatever was
// made) when the records themselves cannot be allocated.
banda** make_bands(int32_t n, int32_t lin_of_band0, int32_t col_of_band0, int32_t lin_last,
                   int32_t col_last) {
  auto** bands = static_cast<banda**>(std::calloc(static_cast<size_t>(n), sizeof(banda*)));
  if (bands == nullptr) {
    std::puts(dense_msg::kOutOfMemory);
    return nullptr;
  }
  for (int32_t k = 0; k < n; ++k) {
    const bool last = k == n - 1;
    if (!make_band(bands, k, last ? lin_last : lin_of_band0, last ? col_last : col_of_band0)) {
      std::puts(dense_msg::kOutOfMemory);
      discard(bands, k + 1);
      return nullptr;
    }
  }
  return bands;
}

}  // namespace

banda** csubmatrizv2(int32_t lin, int32_t col, int32_t divisor) {
  if (divisor < 1) {
    return nullptr;
  }
  return make_bands(divisor, lin, col, lin, col);
}

banda** particionar_matriz(int32_t** mat, int32_t lin, int32_t col, int32_t orientacao,
                           int32_t divisor) {
  if (divisor < 1) {
    return nullptr;
  }
  // Copying from a source without a row table would read through null.
  if (mat == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return nullptr;
  }
  // Every orientation other than 0 cuts columns, for sizing and copying alike.
  const bool by_rows = orientacao == 0;
  const int32_t d = by_rows ? lin : col;
  const int32_t first = band_size(d, divisor, 0);
  const int32_t last = band_size(d, divisor, divisor - 1);
  banda** bands = by_rows ? make_bands(divisor, first, col, last, col)
                          : make_bands(divisor, lin, first, lin, last);
  if (bands == nullptr) {
    return nullptr;
  }

  // Band k covers [k * first, k * first + its size); the last band ends at d.
  // Bands whose storage was refused (no rows or columns, or no memory) are
  // skipped: nothing is ever written outside a band's own rows.
  for (int32_t i = 0; i < lin; ++i) {
    const int32_t* src = mat[i];
    if (by_rows) {
      const int32_t k = (first == 0 || i / first >= divisor) ? divisor - 1 : i / first;
      matriz* band = bands[k]->matriz;
      if (band->mat == nullptr) {
        continue;
      }
      std::memcpy(band->mat[i - k * first], src, static_cast<size_t>(col) * sizeof(int32_t));
    } else {
      for (int32_t k = 0; k < divisor; ++k) {
        matriz* band = bands[k]->matriz;
        if (band->mat == nullptr) {
          continue;
        }
        std::memcpy(band->mat[i], src + static_cast<ptrdiff_t>(k) * first,
                    static_cast<size_t>(band->col) * sizeof(int32_t));
      }
    }
  }
  return bands;
}

}  // namespace dense_core
