// Step 3 starter: a vectorisable inner loop with a block of c in registers (docs/exercises.md,
// Step 3).
//
// What it does now: step 1's i-k-j loops, in blocks that are given here: the inner index in
// pieces of kInner, the rows of c in blocks of kRowBlock, and c cut into small blocks of
// kRows x kCols elements, so that the kCols-wide band of b's piece (kInner x 64 bytes) stays in
// L1 while the rows of a block of c go by. register_block computes one small block, right, but
// with step 1's loops, so every multiply-add still loads and stores an element of c.
//
// Your part (marked TODO below): keep the block's kRows x kCols sums in local variables while p
// runs, and add them into c once at the end. A plain uint32_t array of sums stays in memory (the
// compiler keeps it on the stack); GCC's vector type `lanes` below, eight uint32_t in one AVX2
// register, stays in a register: kCols / kLanes of them per row, kRows rows. Run `make try` with
// the line below and compare GOP/s with tipo1's.
//
// goal: gops[1] >= 2 * tipo1.gops[1]
// try: ARGS='--size 512 --threads 1 --methods tipo0,tipo1,kernel'
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

// Eight 32-bit lanes, one AVX2 register: GCC's vector extension. `x + y` and `x * y` work lane
// by lane, and a uint32_t times a lanes multiplies every lane.
using lanes = uint32_t __attribute__((vector_size(32)));
constexpr ptrdiff_t kLanes = 8;  // ptrdiff_t: it scales pointer offsets

// c[i .. i+R)[j .. j+kCols) += a[i .. i+R)[p0 .. p1) * b[p0 .. p1)[j .. j+kCols). The kit's
// arithmetic wraps at 32 bits: sums in uint32_t.
template <int32_t R>
void register_block(const matriz* a, const matriz* b, matriz* c, int32_t i, int32_t j, int32_t p0,
                    int32_t p1) {
  // TODO(step 3): sums in registers. Before the p loop, `lanes sum[R][kCols / kLanes] = {};`;
  // inside it, load b's kCols values once into kCols / kLanes lanes (copy them with
  // __builtin_memcpy: b's rows need not be 32-byte aligned) and add a[i + r][p] * those lanes
  // into sum[r][...] for every r; after it, add the sums into c. Hoist a's row pointers out of
  // the p loop.
  static_cast<void>(kLanes);
  for (int32_t r = 0; r < R; ++r) {
    auto* cr = reinterpret_cast<uint32_t*>(c->mat[i + r]);
    for (int32_t p = p0; p < p1; ++p) {
      const auto arp = static_cast<uint32_t>(a->mat[i + r][p]);
      const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]);
      for (int32_t x = j; x < j + kCols; ++x) {
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
