// Step 3, solution: a small block of c held in registers while the inner index runs, so every
// element of a and b loaded serves several sums (docs/exercises.md, Step 3).
//
// Why: in the i-k-j loop every multiply-add loads and stores an element of c. Here a block of
// kRows x kCols elements of c lives in local sums (which the compiler keeps in vector registers:
// kCols = 16 is two AVX2 vectors of eight, so six rows are twelve of the sixteen registers, with
// two left for b's values and one for a broadcast value of a) while p runs over a piece of the
// inner index: per step of p, two vectors of b and six values of a are loaded, and they feed
// twelve vector multiplies (vpmulld) and twelve adds into twelve independent sums. Six rows rather
// than four: each vector of b loaded then feeds six multiplies instead of four, and the loop's
// own instructions (pointer steps, the test) are spread over twelve multiplies instead of eight.
// The multiplies are what limits this loop (vpmulld is one of AVX2's slower instructions), so
// what matters is that nothing else does. The blocks (given in the
// starter) keep what the registers read close: b's kCols-wide band of a piece is copied once per
// row block into a contiguous panel (kInner x 64 bytes, in L1), read as one stream by every
// small block of the row block.
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
