// Step 3 starter: a vectorisable inner loop with a block of c in registers (docs/exercises.md,
// Step 3).
//
// What it does now: step 1's i-k-j loops, in blocks that are given here: the inner index in
// pieces of kInner, the rows of c in blocks of kRowBlock, and c cut into small blocks of
// kRows x kCols elements. For each piece and each kCols-wide band, row_block first copies b's
// part (kInner rows of 64 bytes, each in a heap block of its own) into one contiguous panel on
// the stack, which stays in L1 while every small block of the row block reads it as one stream.
// register_block computes one small block, right, but with step 1's loops, so every multiply-add
// still loads and stores an element of c.
//
// Your part (marked TODO below): keep the block's kRows x kCols sums in local variables while p
// runs, and add them into c once at the end. A plain uint32_t array of sums stays in memory (the
// compiler keeps it on the stack); GCC's vector type `lanes` below, eight uint32_t in one AVX2
// register, stays in a register: kCols / kLanes of them per row, kRows rows (twelve of the
// sixteen AVX2 registers). Run `make try` with the line below and compare GOP/s with tipo1's.
//
// goal: gops[1] >= 1.5 * tipo1.gops[1]
// try: ARGS='--size 512 --threads 1 --methods tipo0,tipo1,kernel'
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

// Eight 32-bit lanes, one AVX2 register: GCC's vector extension. `x + y` and `x * y` work lane
// by lane, and a uint32_t times a lanes multiplies every lane.
using lanes = uint32_t __attribute__((vector_size(32)));
constexpr ptrdiff_t kLanes = 8;  // ptrdiff_t: it scales pointer offsets
// Eight values from p into *v (a copy, not a cast: a row of c need not be 32-byte aligned).
// Through a pointer: a vector returned by value would change the calling convention on a build
// without AVX. Yours to call in register_block ([[maybe_unused]] until you do).
[[maybe_unused]] void load(lanes* v, const uint32_t* p) { __builtin_memcpy(v, p, sizeof *v); }

// b[p0 .. p0+len)[j .. j+kCols) copied into panel, one row of kCols values after another, so
// that register_block reads it as one stream instead of len rows in len separate heap blocks.
void pack_panel(const matriz* b, uint32_t* panel, int32_t j, int32_t p0, int32_t len) {
  for (int32_t p = 0; p < len; ++p, panel += kCols) {
    __builtin_memcpy(panel, reinterpret_cast<const uint32_t*>(b->mat[p0 + p]) + j,
                     sizeof(uint32_t) * kCols);
  }
}

// c[i .. i+R)[j .. j+kCols) += a[i .. i+R)[p0 .. p0+len) * the panel. The kit's arithmetic
// wraps at 32 bits: sums in uint32_t.
template <int32_t R>
void register_block(const matriz* a, const uint32_t* panel, matriz* c, int32_t i, int32_t j,
                    int32_t p0, int32_t len) {
  // TODO(step 3): sums in registers. Before the p loop, `lanes sum[R][kCols / kLanes] = {};`;
  // inside it, load the panel's kCols values of row p once into kCols / kLanes lanes (with
  // load() below) and add a[i + r][p0 + p] * those lanes into sum[r][...] for every r; after it,
  // add the sums into c. Hoist a's row pointers out of the p loop.
  for (int32_t r = 0; r < R; ++r) {
    auto* cr = reinterpret_cast<uint32_t*>(c->mat[i + r]) + j;
    const auto* ar = reinterpret_cast<const uint32_t*>(a->mat[i + r]) + p0;
    const uint32_t* bp = panel;
    for (int32_t p = 0; p < len; ++p, bp += kCols) {
      const uint32_t arp = ar[p];
      for (int32_t x = 0; x < kCols; ++x) {
        cr[x] += arp * bp[x];
      }
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

extern "C" matriz* step3_registers(const matriz* a, const matriz* b, int32_t /*threads*/) {
  const int32_t m = a->lin;
  matriz* c = new_zero_result(m, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  for (int32_t i0 = 0; i0 < m; i0 += kRowBlock) {
    row_block(a, b, c, i0, std::min(i0 + kRowBlock, m));
  }
  return c;
}
