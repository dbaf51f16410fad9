// The 16-bit-range paths: the range check that sends a call to them, and their results,
// bit for bit against the scalar int32 path, on every such path this CPU runs, alone and
// through the team kernel.
#include <gtest/gtest.h>

#include <array>
#include <dense/block_kernel.hpp>
#include <dense/team_kernel.hpp>
#include <vector>

#include "block_case.hpp"
#include "kernel/driver.hpp"
#include "kernel/testing.hpp"

namespace {

using block_kernel::path;
using kernel_test::block_case;
using kernel_test::owned_matrix;

// Every path that packs pairs.
std::vector<path> narrow_paths() {
  std::vector<path> paths;
  for (int32_t row = 0; row < block_kernel::path_count(); ++row) {
    if (block_kernel::is_narrow(static_cast<path>(row))) {
      paths.push_back(static_cast<path>(row));
    }
  }
  return paths;
}

// The block a x b of a block_case as the driver sees it.
block_kernel::detail::operands operands_of(block_case& t) {
  return {t.a.get()->mat,       t.b.get()->mat,       t.c.get()->mat,
          t.a_block.lin_inicio, t.a_block.lin_fim,    t.a_block.col_inicio,
          t.a_block.col_fim,    t.b_block.col_inicio, t.b_block.col_fim};
}

TEST(NarrowRange, OnlyValuesInsideTheBlockDecide) {
  // a is 8 x 9, b 9 x 7; the block is rows 1..6, k 2..8, columns 1..5. One
  // value is planted; the rest lie in [-32768, 32767].
  struct row {
    bool in_a;
    int32_t i, j, value;
    bool fits;
  };
  for (const row& r : std::vector<row>{{true, 1, 2, 32767, true},  // the edges fit
                                       {true, 5, 7, -32768, true},
                                       {true, 1, 2, 32768, false},   // first value read
                                       {true, 5, 7, -32769, false},  // last value of a
                                       {false, 7, 4, 32768, false},  // last value of b
                                       {false, 2, 1, INT32_MIN, false},
                                       {true, 3, 4, 65536, false},  // low half alone fits
                                       {true, 0, 4, 32768, true},   // rows outside a's block
                                       {true, 6, 4, 32768, true},
                                       {true, 3, 1, -32769, true},  // columns outside
                                       {true, 3, 8, -32769, true},
                                       {false, 1, 3, 32768, true},  // b's rows outside k
                                       {false, 4, 0, 32768, true},  // b's columns outside
                                       {false, 4, 6, INT32_MAX, true}}) {
    SCOPED_TRACE(testing::Message()
                 << (r.in_a ? "a" : "b") << "(" << r.i << "," << r.j << ") = " << r.value);
    block_case t(8, 9, 9, 7, 8, 7, 3U, -32768, 32767);
    t.set_block(1, 6, 2, 8, 1, 5);
    (r.in_a ? t.a : t.b).at(r.i, r.j) = r.value;
    EXPECT_EQ(block_kernel::detail::fits_int16(operands_of(t)), r.fits);
  }
}

// Values for the 16-bit-range tiles: random over the whole 16-bit range, only
// the two edges, or all -32768 (every pair sum is 2^31, which wraps).
enum class fill { full16, edges, all_min };

void fill_values(owned_matrix& m, fill how, uint32_t seed) {
  switch (how) {
    case fill::full16:
      test_support::fill_random(m, seed, -32768, 32767);
      break;
    case fill::edges:
      test_support::fill_random(m, seed, 0, 1);
      for (int32_t i = 0; i < m.get()->lin; ++i) {
        for (int32_t j = 0; j < m.get()->col; ++j) {
          m.at(i, j) = m.at(i, j) ? 32767 : -32768;
        }
      }
      break;
    case fill::all_min:
      test_support::fill_random(m, seed, -32768, -32768);
      break;
  }
}

struct shape {
  int32_t m, k, n;            // the block
  int32_t i0, k0, j0, extra;  // where it starts, and how much larger the matrices are
};

std::vector<shape> awkward_shapes() {
  std::vector<shape> shapes;
  for (int32_t s : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 16, 17, 31, 32, 33}) {
    shapes.push_back({s, s % 2 ? s + 4 : s + 5, 37 - s, 0, 0, 0, 0});  // odd and even k
  }
  for (const shape& s : std::vector<shape>{{3000, 8, 5, 0, 0, 0, 0},    // tall
                                           {5, 9, 3000, 0, 0, 0, 0},    // flat, odd k
                                           {20, 2051, 40, 0, 0, 0, 0},  // several blocks of k
                                           {29, 45, 43, 3, 5, 7, 11},   // inside larger matrices
                                           {17, 33, 65, 1, 2, 9, 6}}) {
    shapes.push_back(s);
  }
  return shapes;
}

// One block product on path `p` (team 0: the sequential kernel, else the team
// kernel on that many threads), compared with the scalar int32 path on the
// same inputs; `planted` (when not 0) replaces one value of a's block.
void expect_same_as_int32(path p, int32_t team, const shape& s, fill how, int32_t planted) {
  const int32_t rows = s.i0 + s.m + s.extra;
  const int32_t inner = s.k0 + s.k + s.extra;
  const int32_t cols = s.j0 + s.n + s.extra;
  block_case truth(rows, inner, inner, cols, rows, cols, 9U);
  block_case t(rows, inner, inner, cols, rows, cols, 9U);
  for (block_case* x : {&truth, &t}) {
    fill_values(x->a, how, 1U);
    fill_values(x->b, how, 2U);
    if (planted != 0) {
      x->a.at(s.i0 + s.m / 2, s.k0 + s.k - 1) = planted;
    }
    x->set_block(s.i0, s.i0 + s.m, s.k0, s.k0 + s.k, s.j0, s.j0 + s.n);
  }
  ASSERT_EQ(block_kernel::mmsubmatriz_on(block_kernel::path_named("scalar_i32"), &truth.a_desc,
                                         &truth.b_desc, &truth.c_desc),
            0);
  const int rc =
      team == 0 ? block_kernel::mmsubmatriz_on(p, &t.a_desc, &t.b_desc, &t.c_desc)
                : team_kernel::detail::mmsubmatrizOMP_on(p, &t.a_desc, &t.b_desc, &t.c_desc, team);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(t.c.values(), truth.c.values());
}

TEST(NarrowPath, SameBitsAsTheInt32PathOnAwkwardShapesAndEdgeValues) {
  for (path p : narrow_paths()) {
    if (!block_kernel::path_available(p)) {
      continue;
    }
    for (const shape& s : awkward_shapes()) {
      for (fill how : {fill::full16, fill::edges, fill::all_min}) {
        SCOPED_TRACE(testing::Message() << block_kernel::path_name(p) << " " << s.m << "x" << s.k
                                        << "x" << s.n << " fill " << static_cast<int>(how));
        expect_same_as_int32(p, 0, s, how, 0);
        if (HasFatalFailure()) {
          return;
        }
      }
    }
  }
}

TEST(NarrowPath, OneValueOutsideSixteenBitsSendsTheCallToTheInt32Path) {
  // Packed as int16 these values would read as -32768 and 32767: only the
  // int32 path gives the right sums.
  for (path p : narrow_paths()) {
    if (!block_kernel::path_available(p)) {
      continue;
    }
    for (int32_t planted : {32768, -32769}) {
      for (const shape& s : {shape{9, 17, 33, 0, 0, 0, 0}, shape{29, 45, 43, 3, 5, 7, 11}}) {
        SCOPED_TRACE(testing::Message() << block_kernel::path_name(p) << " " << planted << " "
                                        << s.m << "x" << s.k << "x" << s.n);
        expect_same_as_int32(p, 0, s, fill::full16, planted);
        expect_same_as_int32(p, 3, s, fill::full16, planted);
      }
    }
  }
}

TEST(NarrowPath, ThroughTheTeamKernelOnOneToEightThreads) {
  const std::vector<shape> shapes = {{1, 1, 1, 0, 0, 0, 0},    {7, 9, 33, 0, 0, 0, 0},
                                     {61, 31, 47, 2, 3, 1, 5}, {300, 8, 5, 0, 0, 0, 0},
                                     {5, 9, 700, 0, 0, 0, 0},  {40, 1030, 70, 0, 0, 0, 0}};
  for (path p : narrow_paths()) {
    if (!block_kernel::path_available(p)) {
      continue;
    }
    for (int32_t team = 1; team <= 8; ++team) {
      for (const shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << block_kernel::path_name(p) << " on " << team << " "
                                        << s.m << "x" << s.k << "x" << s.n);
        expect_same_as_int32(p, team, s, fill::edges, 0);
        if (HasFatalFailure()) {
          return;
        }
      }
    }
  }
}

}  // namespace
