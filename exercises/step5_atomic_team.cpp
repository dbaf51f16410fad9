// Step 5 starter: a team that balances itself from an atomic counter (docs/exercises.md, Step 5).
//
// What it does now: step 4's answer, the row blocks shared out by schedule(static): right, and
// close to omp on a quiet machine. Beside a busy process it falls to about 1x on 2 threads: its
// shares are fixed before the loop starts, and the call waits for the thread that shares its
// core.
//
// Your part (marked TODO below): let each thread of the team take the next row block from one
// std::atomic counter until none is left. Run `make try` beside one busy process (the line
// below: scripts/busy.sh 1 make try ...) and compare your "vs 1 thread" on 2 threads with omp's.
//
// goal: speedup_vs_one_thread[2] >= 1.2 * omp.speedup_vs_one_thread[2]
// try: ARGS='--size 1024 --threads 1,2'
// busy: 1
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

namespace {

constexpr int32_t kRows = 4;       // rows of the block of c in registers
constexpr int32_t kCols = 16;      // columns of the block of c in registers
constexpr int32_t kRowBlock = 32;  // rows of c one pass over a piece of b serves
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

// Eight values from p into *v (rows need not be 32-byte aligned, so a copy, not a cast). Through
// a pointer: a vector returned by value would change the calling convention on a build without
// AVX.
void load(lanes* v, const uint32_t* p) { __builtin_memcpy(v, p, sizeof *v); }

// c[i .. i+R)[j .. j+kCols) += a[i .. i+R)[p0 .. p1) * b[p0 .. p1)[j .. j+kCols), the sums in
// registers until the end. The kit's arithmetic wraps at 32 bits: sums in unsigned lanes.
template <int32_t R>
void register_block(const matriz* a, const matriz* b, matriz* c, int32_t i, int32_t j, int32_t p0,
                    int32_t p1) {
  lanes sum[R][kVectors] = {};
  const int32_t* arow[R];
  for (int32_t r = 0; r < R; ++r) {
    arow[r] = a->mat[i + r];
  }
  for (int32_t p = p0; p < p1; ++p) {
    const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]) + j;
    lanes bv[kVectors];
    for (int32_t v = 0; v < kVectors; ++v) {
      load(&bv[v], bp + v * kLanes);
    }
    for (int32_t r = 0; r < R; ++r) {
      const auto arp = static_cast<uint32_t>(arow[r][p]);
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

// Rows [i0, i1) of c, whole.
void row_block(const matriz* a, const matriz* b, matriz* c, int32_t i0, int32_t i1) {
  const int32_t k = a->col;
  const int32_t n = c->col;
  const int32_t whole = n - n % kCols;
  for (int32_t p0 = 0; p0 < k; p0 += kInner) {
    const int32_t p1 = std::min(p0 + kInner, k);
    for (int32_t j = 0; j < whole; j += kCols) {
      int32_t i = i0;
      for (; i + kRows <= i1; i += kRows) {
        register_block<kRows>(a, b, c, i, j, p0, p1);
      }
      for (; i < i1; ++i) {
        register_block<1>(a, b, c, i, j, p0, p1);
      }
    }
    edge_columns(a, b, c, i0, i1, whole, p0, p1);
  }
}

}  // namespace

extern "C" matriz* step5_atomic_team(const matriz* a, const matriz* b, int32_t threads) {
  const int32_t m = a->lin;
  matriz* c = new_zero_result(m, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  const int32_t blocks = (m + kRowBlock - 1) / kRowBlock;
  // TODO(step 5): instead of `omp parallel for`, a `#pragma omp parallel num_threads(threads)`
  // region in which every thread takes block numbers from one std::atomic<int32_t> (fetch_add)
  // until they run past `blocks`. Which memory order does the counter need, and why is none
  // needed for c?
#pragma omp parallel for num_threads(threads) schedule(static)
  for (int32_t block = 0; block < blocks; ++block) {
    const int32_t i0 = block * kRowBlock;
    row_block(a, b, c, i0, std::min(i0 + kRowBlock, m));
  }
  return c;
}
