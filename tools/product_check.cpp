// Freivalds' test over the kit's row-table matrices, in 32-bit wrapping
// arithmetic.
#include "product_check.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>

namespace compare_tool {
namespace {

using dense_core::matriz;

// Eight rounds side by side: lane r holds round r's sum. A compiler vector
// type rather than intrinsics, so the lanes become one AVX2 register (or two
// SSE2 registers) on whatever instruction set the tool is built for.
typedef uint32_t lanes __attribute__((vector_size(32)));
constexpr int kLanes = 8;
static_assert(kFreivaldsRounds % kLanes == 0, "rounds come in passes of eight");

// One byte per column holds that column's entry of the eight vectors of a
// pass, bit r for round r. kSelect[m] has lane r all ones where bit r of m
// is set, so `value & kSelect[m]` multiplies a value by eight 0/1 entries
// at once without a multiplication.
constexpr std::array<std::array<uint32_t, kLanes>, 256> make_select() {
  std::array<std::array<uint32_t, kLanes>, 256> t{};
  for (int m = 0; m < 256; ++m) {
    for (int r = 0; r < kLanes; ++r) {
      t[m][r] = ((m >> r) & 1) != 0 ? 0xFFFFFFFFu : 0u;
    }
  }
  return t;
}
constexpr auto kSelect = make_select();

// SplitMix64: a small generator fully defined by its seed, so a seed names
// the same vectors on every machine and with every standard library.
struct splitmix64 {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
};

// Rounds are run G groups of eight at a time, each group one lane vector,
// so that one pass over the matrices serves 8 * G rounds. The helpers hand
// their lanes back through a pointer: a 32-byte vector returned by value
// has a different ABI with and without AVX.

// row * X for the vectors of a pass: lane r of out[g] sums row[j] over the
// columns j where vector 8g + r has a 1. masks[j * G + g] holds column j's
// entries of group g.
template <int G>
void row_times_vectors(const int32_t* row, int32_t n, const uint8_t* masks, lanes* out) {
  lanes acc[G] = {};
  for (int32_t j = 0; j < n; ++j) {
    const uint32_t v = static_cast<uint32_t>(row[j]);
    for (int g = 0; g < G; ++g) {
      lanes select;
      std::memcpy(&select, kSelect[masks[j * G + g]].data(), sizeof select);
      acc[g] += select & v;
    }
  }
  for (int g = 0; g < G; ++g) {
    out[g] = acc[g];
  }
}

// row * Y, where y[k * G + g] holds group g of row k of b * X.
template <int G>
void row_times_lanes(const int32_t* row, int32_t n, const lanes* y, lanes* out) {
  lanes acc[G] = {};
  for (int32_t k = 0; k < n; ++k) {
    const uint32_t v = static_cast<uint32_t>(row[k]);
    for (int g = 0; g < G; ++g) {
      acc[g] += y[k * G + g] * v;
    }
  }
  for (int g = 0; g < G; ++g) {
    out[g] = acc[g];
  }
}

// Scratch of one pass: y, one lane vector per row of b and group, and the
// masks, one byte per column of c and group.
struct scratch {
  lanes* y;
  uint8_t* masks;
};

// All kFreivaldsRounds rounds, 8 * G per pass. Sets *first_row to the
// smallest row where some round saw a difference (or leaves it at -1) and
// returns how many rounds saw one.
template <int G>
int run_rounds(const matriz* a, const matriz* b, const matriz* c, splitmix64& gen, const scratch& s,
               int32_t* first_row) {
  const int32_t m = a->lin;
  const int32_t inner = a->col;
  const int32_t n = b->col;
  const size_t mask_bytes = static_cast<size_t>(n) * G;
  int rounds_caught = 0;
  for (int pass = 0; pass < kFreivaldsRounds / (kLanes * G); ++pass) {
    for (size_t j = 0; j < mask_bytes; j += 8) {
      const uint64_t bits = gen.next();
      for (size_t q = 0; q < 8 && j + q < mask_bytes; ++q) {
        s.masks[j + q] = static_cast<uint8_t>(bits >> (8 * q));
      }
    }
    for (int32_t k = 0; k < inner; ++k) {
      row_times_vectors<G>(b->mat[k], n, s.masks, &s.y[static_cast<size_t>(k) * G]);
    }
    // Rows are compared in order, so the first one flagged in a pass is the
    // pass's smallest; a wrong row escapes every round with probability 2^-40.
    uint64_t caught = 0;
    for (int32_t i = 0; i < m; ++i) {
      lanes z[G];
      lanes w[G];
      row_times_lanes<G>(a->mat[i], inner, s.y, z);
      row_times_vectors<G>(c->mat[i], n, s.masks, w);
      uint64_t differs = 0;
      for (int g = 0; g < G; ++g) {
        for (int r = 0; r < kLanes; ++r) {
          differs |= z[g][r] != w[g][r] ? uint64_t{1} << (g * kLanes + r) : 0;
        }
      }
      if (differs != 0 && (*first_row < 0 || i < *first_row)) {
        *first_row = i;
      }
      caught |= differs;
    }
    rounds_caught += std::popcount(caught);
  }
  return rounds_caught;
}

// Groups per pass: all five (one pass) when that scratch, 160 bytes per row
// of b, is no bigger than a row of b itself; else one (five passes), so the
// check never needs more memory than the factor it multiplies.
constexpr int kGroups = kFreivaldsRounds / kLanes;
int groups_for(int32_t n) {
  return static_cast<int64_t>(n) * 4 >= kGroups * static_cast<int64_t>(sizeof(lanes)) ? kGroups : 1;
}

// The wide path, for c of 80 columns or more: every round in one pass, each
// inner loop a plain reduction along one row that the compiler vectorizes
// across the row. The vectors are made and used one block of columns at a
// time (kBlock columns, 40 x 1024 words = 160 KiB, which stays in a core's
// L2 while every row of b and c goes by); b * X, a * (b * X) and c * X keep
// 40 words per row, which for 80 columns or more is no more than the
// matrices themselves hold.
constexpr int32_t kBlock = 1024;
constexpr int32_t kWideColumns = 2 * kFreivaldsRounds;
constexpr int kRounds = kFreivaldsRounds;

// out[r * m->lin + i] += sum over j in [j0, j1) of m[i][j] * v[r * kBlock + j - j0], where for
// kAnd the words of v are 0 or all ones and the product is an AND. Rows go
// four at a time, so that each word of v, read from L2, serves four rows
// held in L1.
template <bool kAnd>
uint32_t times(uint32_t e, uint32_t x) {
  return kAnd ? (e & x) : e * x;
}

template <bool kAnd>
void accumulate(const matriz* m, int32_t j0, int32_t j1, const uint32_t* v, uint32_t* out) {
  const auto rows = static_cast<size_t>(m->lin);
  const int32_t width = j1 - j0;
  size_t i = 0;
  for (; i + 4 <= rows; i += 4) {
    const int32_t* r0 = m->mat[i] + j0;
    const int32_t* r1 = m->mat[i + 1] + j0;
    const int32_t* r2 = m->mat[i + 2] + j0;
    const int32_t* r3 = m->mat[i + 3] + j0;
    for (int r = 0; r < kRounds; ++r) {
      const uint32_t* vr = v + static_cast<size_t>(r) * kBlock;
      uint32_t s0 = 0;
      uint32_t s1 = 0;
      uint32_t s2 = 0;
      uint32_t s3 = 0;
      for (int32_t j = 0; j < width; ++j) {
        const uint32_t x = vr[j];
        s0 += times<kAnd>(static_cast<uint32_t>(r0[j]), x);
        s1 += times<kAnd>(static_cast<uint32_t>(r1[j]), x);
        s2 += times<kAnd>(static_cast<uint32_t>(r2[j]), x);
        s3 += times<kAnd>(static_cast<uint32_t>(r3[j]), x);
      }
      uint32_t* o = out + static_cast<size_t>(r) * rows + i;
      o[0] += s0;
      o[1] += s1;
      o[2] += s2;
      o[3] += s3;
    }
  }
  for (; i < rows; ++i) {
    const int32_t* row = m->mat[i] + j0;
    for (int r = 0; r < kRounds; ++r) {
      const uint32_t* vr = v + static_cast<size_t>(r) * kBlock;
      uint32_t sum = 0;
      for (int32_t j = 0; j < width; ++j) {
        sum += times<kAnd>(static_cast<uint32_t>(row[j]), vr[j]);
      }
      out[static_cast<size_t>(r) * rows + i] += sum;
    }
  }
}

// Runs every round; returns how many saw a difference and sets *first_row,
// or returns -1 when the scratch cannot be allocated.
int wide_rounds(const matriz* a, const matriz* b, const matriz* c, splitmix64& gen,
                int32_t* first_row) {
  const auto m = static_cast<size_t>(a->lin);
  const auto inner = static_cast<size_t>(a->col);
  const int32_t n = b->col;
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * kRounds * kBlock));
  auto* y = static_cast<uint32_t*>(std::calloc(kRounds * inner, sizeof(uint32_t)));
  auto* z = static_cast<uint32_t*>(std::calloc(kRounds * m, sizeof(uint32_t)));
  auto* w = static_cast<uint32_t*>(std::calloc(kRounds * m, sizeof(uint32_t)));
  int caught = -1;
  if (block != nullptr && y != nullptr && z != nullptr && w != nullptr) {
    // y = b * X and w = c * X, one block of X's rows (c's columns) at a time.
    for (int32_t j0 = 0; j0 < n; j0 += kBlock) {
      const int32_t j1 = n - j0 > kBlock ? j0 + kBlock : n;
      for (int r = 0; r < kRounds; ++r) {
        uint32_t* xr = block + static_cast<size_t>(r) * kBlock;
        for (int32_t j = 0; j < j1 - j0; j += 64) {
          const uint64_t bits = gen.next();
          for (int32_t q = 0; q < 64 && j + q < j1 - j0; ++q) {
            xr[j + q] = ((bits >> q) & 1) != 0 ? 0xFFFFFFFFu : 0u;
          }
        }
      }
      accumulate<true>(b, j0, j1, block, y);
      accumulate<true>(c, j0, j1, block, w);
    }
    // z = a * y, one block of y's rows (a's columns) at a time, copied so
    // that each round's words lie side by side.
    for (size_t k0 = 0; k0 < inner; k0 += kBlock) {
      const size_t k1 = inner - k0 > kBlock ? k0 + kBlock : inner;
      for (int r = 0; r < kRounds; ++r) {
        std::memcpy(block + static_cast<size_t>(r) * kBlock, y + r * inner + k0,
                    sizeof(uint32_t) * (k1 - k0));
      }
      accumulate<false>(a, static_cast<int32_t>(k0), static_cast<int32_t>(k1), block, z);
    }
    uint64_t seen = 0;
    for (size_t i = 0; i < m; ++i) {
      uint64_t differs = 0;
      for (int r = 0; r < kRounds; ++r) {
        differs |= z[r * m + i] != w[r * m + i] ? uint64_t{1} << r : 0;
      }
      if (differs != 0 && *first_row < 0) {
        *first_row = static_cast<int32_t>(i);
      }
      seen |= differs;
    }
    caught = std::popcount(seen);
  }
  std::free(block);
  std::free(y);
  std::free(z);
  std::free(w);
  return caught;
}

// The first column where row i of c differs from row i of a x b, or -1.
// Fills *expected with the exact element there.
int32_t first_differing_column(const matriz* a, const matriz* b, const matriz* c, int32_t i,
                               uint32_t* expected) {
  const int32_t* ar = a->mat[i];
  const int32_t* cr = c->mat[i];
  const int32_t inner = a->col;
  const int32_t n = b->col;
  auto* exact = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(n), sizeof(uint32_t)));
  if (exact == nullptr) {
    // No room for the row: one element at a time, down b's columns.
    for (int32_t j = 0; j < n; ++j) {
      uint32_t sum = 0;
      for (int32_t k = 0; k < inner; ++k) {
        sum += static_cast<uint32_t>(ar[k]) * static_cast<uint32_t>(b->mat[k][j]);
      }
      if (sum != static_cast<uint32_t>(cr[j])) {
        *expected = sum;
        return j;
      }
    }
    return -1;
  }
  for (int32_t k = 0; k < inner; ++k) {
    const uint32_t aik = static_cast<uint32_t>(ar[k]);
    const int32_t* br = b->mat[k];
    for (int32_t j = 0; j < n; ++j) {
      exact[j] += aik * static_cast<uint32_t>(br[j]);
    }
  }
  int32_t found = -1;
  for (int32_t j = 0; j < n && found < 0; ++j) {
    if (exact[j] != static_cast<uint32_t>(cr[j])) {
      found = j;
      *expected = exact[j];
    }
  }
  std::free(exact);
  return found;
}

product_verdict failure(std::string report) {
  product_verdict v;
  v.passed = false;
  v.report = std::move(report);
  return v;
}

// The exact check's words for a result of the wrong shape (rows first).
product_verdict shape_failure(const char* what, int32_t want, int32_t got) {
  return failure(std::string("ERRO: Matrizes com n\xc3\xbamero de ") + what +
                 " diferentes.; matriz A " + std::to_string(want) + " " + what + ".; matriz B " +
                 std::to_string(got) + " " + what + ".");
}

}  // namespace

product_verdict freivalds_check(const matriz* a, const matriz* b, const matriz* c, uint64_t seed) {
  if (a == nullptr || a->mat == nullptr || b == nullptr || b->mat == nullptr || a->col != b->lin) {
    return failure("the factors do not multiply");
  }
  if (c == nullptr || c->mat == nullptr) {
    return failure("ERRO: Matriz B inexistente");
  }
  if (c->lin != a->lin) {
    return shape_failure("linhas", a->lin, c->lin);
  }
  if (c->col != b->col) {
    return shape_failure("colunas", b->col, c->col);
  }

  const int32_t inner = a->col;
  const int32_t n = b->col;
  splitmix64 gen{seed};
  int32_t first_row = -1;
  int rounds_caught = n >= kWideColumns ? wide_rounds(a, b, c, gen, &first_row) : -1;
  if (rounds_caught < 0) {
    // Narrow c, or no room for the wide path's scratch: passes of eight
    // rounds need only 32 bytes per row of b and one byte per column.
    gen = splitmix64{seed};
    first_row = -1;
    const int groups = groups_for(n);
    scratch s{};
    s.y = static_cast<lanes*>(std::aligned_alloc(
        alignof(lanes),
        sizeof(lanes) * static_cast<size_t>(groups) * static_cast<size_t>(inner > 0 ? inner : 1)));
    s.masks = static_cast<uint8_t*>(
        std::malloc(static_cast<size_t>(groups) * static_cast<size_t>(n > 0 ? n : 1)));
    if (s.y == nullptr || s.masks == nullptr) {
      std::free(s.y);
      std::free(s.masks);
      product_verdict v = failure("not enough memory to check the result");
      v.out_of_memory = true;
      return v;
    }
    rounds_caught = groups == kGroups ? run_rounds<kGroups>(a, b, c, gen, s, &first_row)
                                      : run_rounds<1>(a, b, c, gen, s, &first_row);
    std::free(s.y);
    std::free(s.masks);
  }

  product_verdict v;
  if (first_row < 0) {
    return v;
  }
  // a*(b*x) != c*x in row i means row i of a*b - c is not zero, wrapping or
  // not, so the exact row always shows a differing column.
  uint32_t expected = 0;
  const int32_t col = first_differing_column(a, b, c, first_row, &expected);
  assert(col >= 0);
  v.passed = false;
  if (col < 0) {
    v.report = "differs in row " + std::to_string(first_row + 1);
    return v;
  }
  v.rounds_caught = rounds_caught;
  v.row = first_row + 1;
  v.col = col + 1;
  v.expected = static_cast<int32_t>(expected);
  v.found = c->mat[first_row][col];
  v.report = "ERRO: Matriz diferente.; elemento: linha " + std::to_string(v.row) + ", coluna " +
             std::to_string(v.col) + "; valor na matriz A " + std::to_string(v.expected) +
             "; valor na matriz B " + std::to_string(v.found);
  return v;
}

}  // namespace compare_tool
