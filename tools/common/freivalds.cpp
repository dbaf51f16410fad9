// Freivalds' test over the kit's row-table matrices, eight rounds per pass, in 32-bit wrapping
// arithmetic.
#include "tools/common/freivalds.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "tools/common/seeded.hpp"

namespace tool_common {
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

// Rounds are run G groups of eight at a time, each group one lane vector,
// so that one pass over the matrices serves 8 * G rounds. The helpers hand
// their lanes back through a pointer: a 32-byte vector returned by value
// has a different ABI with and without AVX.

// row * X for the vectors of a pass: lane r of out[g] sums row[j] over the
// columns j where vector 8g + r has a 1. The G bytes of column j's entries
// start at masks + j * G; the pointer steps over them, since j * G passes
// the int range on rows of more than 429,496,729 columns.
template <int G>
void row_times_vectors(const int32_t* row, int32_t n, const uint8_t* masks, lanes* out) {
  lanes acc[G] = {};
  for (int32_t j = 0; j < n; ++j, masks += G) {
    const uint32_t v = static_cast<uint32_t>(row[j]);
    for (int g = 0; g < G; ++g) {
      lanes select;
      std::memcpy(&select, kSelect[masks[g]].data(), sizeof select);
      acc[g] += select & v;
    }
  }
  for (int g = 0; g < G; ++g) {
    out[g] = acc[g];
  }
}

// row * Y, where y + k * G holds the G groups of row k of b * X (stepped
// over like the masks above).
template <int G>
void row_times_lanes(const int32_t* row, int32_t n, const lanes* y, lanes* out) {
  lanes acc[G] = {};
  for (int32_t k = 0; k < n; ++k, y += G) {
    const uint32_t v = static_cast<uint32_t>(row[k]);
    for (int g = 0; g < G; ++g) {
      acc[g] += y[g] * v;
    }
  }
  for (int g = 0; g < G; ++g) {
    out[g] = acc[g];
  }
}

// What a plan keeps: for every pass, the masks (one byte per column of c and
// group) and z = a * (b * X) (one lane vector per row of a and group).
struct prepared {
  int groups;
  uint8_t* masks;  // passes * n * groups bytes, pass after pass
  lanes* z;        // passes * m * groups vectors, pass after pass
};

// Draws every pass's vectors and computes z for each, with `y` (one lane
// vector per row of b and group) as scratch.
template <int G>
void prepare_rounds(const matriz* a, const matriz* b, splitmix64& gen, lanes* y,
                    const prepared& p) {
  const int32_t m = a->lin;
  const int32_t inner = a->col;
  const int32_t n = b->col;
  const size_t mask_bytes = static_cast<size_t>(n) * G;
  for (int pass = 0; pass < kFreivaldsRounds / (kLanes * G); ++pass) {
    uint8_t* masks = p.masks + static_cast<size_t>(pass) * mask_bytes;
    lanes* z = p.z + static_cast<size_t>(pass) * static_cast<size_t>(m) * G;
    for (size_t j = 0; j < mask_bytes; j += 8) {
      const uint64_t bits = gen.next();
      for (size_t q = 0; q < 8 && j + q < mask_bytes; ++q) {
        masks[j + q] = static_cast<uint8_t>(bits >> (8 * q));
      }
    }
    for (int32_t k = 0; k < inner; ++k) {
      row_times_vectors<G>(b->mat[k], n, masks, &y[static_cast<size_t>(k) * G]);
    }
    for (int32_t i = 0; i < m; ++i) {
      row_times_lanes<G>(a->mat[i], inner, y, &z[static_cast<size_t>(i) * G]);
    }
  }
}

// Compares c * X with the prepared z, pass by pass. Sets *first_row to the
// smallest row where some round saw a difference (or leaves it at -1) and
// returns how many rounds saw one.
template <int G>
int compare_rounds(const matriz* c, const prepared& p, int32_t* first_row) {
  const int32_t m = c->lin;
  const int32_t n = c->col;
  const size_t mask_bytes = static_cast<size_t>(n) * G;
  int rounds_caught = 0;
  for (int pass = 0; pass < kFreivaldsRounds / (kLanes * G); ++pass) {
    const uint8_t* masks = p.masks + static_cast<size_t>(pass) * mask_bytes;
    const lanes* z = p.z + static_cast<size_t>(pass) * static_cast<size_t>(m) * G;
    // Rows are compared in order, so the first one flagged in a pass is the
    // pass's smallest; a wrong row escapes every round with probability 2^-40.
    uint64_t caught = 0;
    for (int32_t i = 0; i < m; ++i) {
      lanes w[G];
      row_times_vectors<G>(c->mat[i], n, masks, w);
      uint64_t differs = 0;
      for (int g = 0; g < G; ++g) {
        const lanes& zi = z[static_cast<size_t>(i) * G + static_cast<size_t>(g)];
        for (int r = 0; r < kLanes; ++r) {
          differs |= zi[r] != w[g][r] ? uint64_t{1} << (g * kLanes + r) : 0;
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

// Groups per pass: all five (one pass) when the scratch y, 160 bytes per row
// of b, is no bigger than a row of b itself; else one (five passes), so y
// never needs more memory than the factor it multiplies.
constexpr int kGroups = kFreivaldsRounds / kLanes;
int groups_for(int32_t n) {
  return static_cast<int64_t>(n) * 4 >= kGroups * static_cast<int64_t>(sizeof(lanes)) ? kGroups : 1;
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

freivalds_plan::freivalds_plan(const matriz* a, const matriz* b, uint64_t seed) : a_(a), b_(b) {
  if (a == nullptr || a->mat == nullptr || b == nullptr || b->mat == nullptr || a->col != b->lin) {
    return;
  }
  const int32_t m = a->lin;
  const int32_t inner = a->col;
  const int32_t n = b->col;
  groups_ = groups_for(n);
  // Every pass together holds kGroups lane vectors per row of a and kGroups mask bytes per column.
  const size_t z_bytes = sizeof(lanes) * kGroups * static_cast<size_t>(m > 0 ? m : 1);
  const size_t y_bytes =
      sizeof(lanes) * static_cast<size_t>(groups_) * static_cast<size_t>(inner > 0 ? inner : 1);
  masks_ = static_cast<uint8_t*>(std::malloc(kGroups * static_cast<size_t>(n > 0 ? n : 1)));
  z_ = std::aligned_alloc(alignof(lanes), z_bytes);
  auto* y = static_cast<lanes*>(std::aligned_alloc(alignof(lanes), y_bytes));
  if (masks_ == nullptr || z_ == nullptr || y == nullptr) {
    std::free(y);
    out_of_memory_ = true;
    return;
  }
  splitmix64 gen{seed};
  const prepared p{groups_, masks_, static_cast<lanes*>(z_)};
  if (groups_ == kGroups) {
    prepare_rounds<kGroups>(a, b, gen, y, p);
  } else {
    prepare_rounds<1>(a, b, gen, y, p);
  }
  std::free(y);
  ready_ = true;
}

freivalds_plan::~freivalds_plan() {
  std::free(masks_);
  std::free(z_);
}

product_verdict freivalds_plan::check(const matriz* c) const {
  const matriz* a = a_;
  const matriz* b = b_;
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
  if (!ready_) {
    product_verdict v = failure("not enough memory to check the result");
    v.out_of_memory = out_of_memory_;
    return v;
  }

  const prepared p{groups_, masks_, static_cast<lanes*>(z_)};
  int32_t first_row = -1;
  const int rounds_caught = groups_ == kGroups ? compare_rounds<kGroups>(c, p, &first_row)
                                               : compare_rounds<1>(c, p, &first_row);
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

product_verdict freivalds_check(const matriz* a, const matriz* b, const matriz* c, uint64_t seed) {
  return freivalds_plan(a, b, seed).check(c);
}

}  // namespace tool_common
