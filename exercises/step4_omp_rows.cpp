// Step 4 starter: threads by rows with OpenMP (docs/exercises.md, Step 4).
//
// What it does now: step 3's answer, the register blocks, on one thread whatever `threads` says:
// right, and its "vs 1 thread" stays at 1x.
//
// Your part (marked TODO below): share the row blocks of c out on an OpenMP team of `threads`
// threads. Run `make try` with the line below and compare your "vs 1 thread" on 2 threads with
// omp's in the same table.
//
// goal: speedup_vs_one_thread[2] >= 1.2
// try: ARGS='--size 1024 --threads 1,2 --time 30'
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

namespace {

constexpr int32_t kRows = 6;       // rows of the block of c in registers
constexpr int32_t kCols = 16;      // columns of the block of c in registers
constexpr int32_t kRowBlock = 24;  // rows of c that one packed panel of b serves
constexpr int32_t kInner = 256;    // length of the piece of the inner index

matriz* new_zero_result(int32_t m, int32_t n) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (c == nullptr) {
    return nullptr;
  }
  *c = {nullptr, m, n};
  if (dense_core::malocar(c) == 0) {
    std::free(c);
    return nullptr;
  }
  dense_core::mzerar(c);
  return c;
}

// Eight 32-bit lanes, one AVX2 register: GCC's vector extension, so that the compiler keeps each
// sum in a register (a plain uint32_t array of sums is kept in memory, on the stack).
using lanes = uint32_t __attribute__((vector_size(32)));
constexpr ptrdiff_t kLanes = 8;  // ptrdiff_t: it scales pointer offsets
constexpr int32_t kVectors = kCols / kLanes;

// Eight values from p into *v (a copy, not a cast: a row of c need not be 32-byte aligned).
// Through a pointer: a vector returned by value would change the calling convention on a build
// without AVX.
void load(lanes* v, const uint32_t* p) { __builtin_memcpy(v, p, sizeof *v); }

// b[p0 .. p0+len)[j .. j+kCols) copied into panel, one row of kCols values after another, so
// that register_block reads it as one stream instead of len rows in len separate heap blocks.
void pack_panel(const matriz* b, uint32_t* panel, int32_t j, int32_t p0, int32_t len) {
  for (int32_t p = 0; p < len; ++p, panel += kCols) {
    __builtin_memcpy(panel, reinterpret_cast<const uint32_t*>(b->mat[p0 + p]) + j,
                     sizeof(uint32_t) * kCols);
  }
}

// c[i .. i+R)[j .. j+kCols) += a[i .. i+R)[p0 .. p0+len) * the panel, the sums in registers
// until the end. The kit's arithmetic wraps at 32 bits: sums in unsigned lanes.
template <int32_t R>
void register_block(const matriz* a, const uint32_t* panel, matriz* c, int32_t i, int32_t j,
                    int32_t p0, int32_t len) {
  lanes sum[R][kVectors] = {};
  const uint32_t* arow[R];
  for (int32_t r = 0; r < R; ++r) {
    arow[r] = reinterpret_cast<const uint32_t*>(a->mat[i + r]) + p0;
  }
  for (int32_t p = 0; p < len; ++p, panel += kCols) {  // panel: the panel's row p
    lanes bv[kVectors];
    for (int32_t v = 0; v < kVectors; ++v) {
      load(&bv[v], panel + v * kLanes);
    }
    for (int32_t r = 0; r < R; ++r) {
      const uint32_t arp = arow[r][p];  // one value of a, multiplied into every lane
      for (int32_t v = 0; v < kVectors; ++v) {
        sum[r][v] += arp * bv[v];
      }
    }
  }
  for (int32_t r = 0; r < R; ++r) {
    auto* cr = reinterpret_cast<uint32_t*>(c->mat[i + r]) + j;
    for (int32_t v = 0; v < kVectors; ++v) {
      lanes total;
      load(&total, cr + v * kLanes);
      total += sum[r][v];
      __builtin_memcpy(cr + v * kLanes, &total, sizeof total);
    }
  }
}

// The columns right of the last whole band of kCols: the plain i-k-j loop.
void edge_columns(const matriz* a, const matriz* b, matriz* c, int32_t i0, int32_t i1, int32_t j0,
                  int32_t p0, int32_t p1) {
  const int32_t n = c->col;
  for (int32_t i = i0; i < i1; ++i) {
    auto* ci = reinterpret_cast<uint32_t*>(c->mat[i]);
    for (int32_t p = p0; p < p1; ++p) {
      const auto aip = static_cast<uint32_t>(a->mat[i][p]);
      const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]);
      for (int32_t j = j0; j < n; ++j) {
        ci[j] += aip * bp[j];
      }
    }
  }
}

// Rows [i0, i1) of c, whole. The panel lives on the stack (16 KiB): every thread that runs a
// row block has its own.
void row_block(const matriz* a, const matriz* b, matriz* c, int32_t i0, int32_t i1) {
  alignas(32) uint32_t panel[kInner * kCols];
  const int32_t k = a->col;
  const int32_t n = c->col;
  const int32_t whole = n - n % kCols;
  for (int32_t p0 = 0; p0 < k; p0 += kInner) {
    const int32_t len = std::min(kInner, k - p0);
    for (int32_t j = 0; j < whole; j += kCols) {
      pack_panel(b, panel, j, p0, len);
      int32_t i = i0;
      for (; i + kRows <= i1; i += kRows) {
        register_block<kRows>(a, panel, c, i, j, p0, len);
      }
      for (; i < i1; ++i) {
        register_block<1>(a, panel, c, i, j, p0, len);
      }
    }
    edge_columns(a, b, c, i0, i1, whole, p0, p0 + len);
  }
}

}  // namespace

extern "C" matriz* step4_omp_rows(const matriz* a, const matriz* b, int32_t threads) {
  const int32_t m = a->lin;
  matriz* c = new_zero_result(m, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  // TODO(step 4): one `#pragma omp parallel for` with num_threads(threads) and a schedule over
  // the row blocks (a loop over block numbers 0 .. blocks - 1 reads most easily). Does anything
  // need a lock? Which thread writes which rows of c, and who writes a and b?
  static_cast<void>(threads);
  for (int32_t i0 = 0; i0 < m; i0 += kRowBlock) {
    row_block(a, b, c, i0, std::min(i0 + kRowBlock, m));
  }
  return c;
}
