// The block kernel's contract, checked on every instruction-set path this CPU runs and
// through the public entry points: sums, bounds, what is written, refusals. The team
// kernel has the same contract, so the same cases run on it with teams of several sizes.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <dense/block_kernel.hpp>
#include <dense/team_kernel.hpp>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "block_case.hpp"
#include "kernel/testing.hpp"
#include "support/capture.hpp"

namespace {

using block_kernel::path;
using kernel_test::block_case;
using test_support::owned_matrix;

// Which entry point runs: the sequential kernel (team 0) or the team kernel
// on `team` threads, on the path the entry point picks (null) or on the one
// of that name.
struct kernel_run {
  const char* path;
  int32_t team;
};
// How a run reads in test names and failures: "avx2_i32 on 3", "auto on 0".
void PrintTo(const kernel_run& r, std::ostream* os) {
  *os << (r.path != nullptr ? r.path : "auto") << " on " << r.team;
}

class KernelPath : public testing::TestWithParam<kernel_run> {
 protected:
  void SetUp() override {
    if (GetParam().path != nullptr &&
        !block_kernel::path_available(block_kernel::path_named(GetParam().path))) {
      GTEST_SKIP() << "this CPU or build lacks the path";
    }
  }

  int run(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
          const dense_arith::submatriz* c) const {
    const auto [name, team] = GetParam();
    const path p = block_kernel::path_named(name != nullptr ? name : "");
    if (team == 0) {
      return name == nullptr ? block_kernel::mmsubmatriz(a, b, c)
                             : block_kernel::mmsubmatriz_on(p, a, b, c);
    }
    return name == nullptr ? team_kernel::mmsubmatrizOMP(a, b, c, team)
                           : team_kernel::detail::mmsubmatrizOMP_on(p, a, b, c, team);
  }

  // One call on the case's descriptors: returns 0, prints nothing, and leaves
  // c exactly as the independent computation says (inside and outside the block).
  void expect_block_product(block_case& t) const {
    const std::vector<int32_t> want = t.expected_c();
    const std::vector<int32_t> a_before = t.a.values();
    const std::vector<int32_t> b_before = t.b.values();
    int rc = 1;
    const std::string out =
        test_support::capture_stdout([&] { rc = run(&t.a_desc, &t.b_desc, &t.c_desc); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(t.c.values(), want);
    EXPECT_EQ(t.a.values(), a_before);
    EXPECT_EQ(t.b.values(), b_before);
  }

  // A refused call returns -1 after exactly `message` and writes nothing.
  void expect_refused(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                      const dense_arith::submatriz* c, const owned_matrix& watched,
                      const std::string& message) const {
    const std::vector<int32_t> before = watched.values();
    int rc = 0;
    EXPECT_EQ(test_support::capture_stdout([&] { rc = run(a, b, c); }), message);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(watched.values(), before);
  }
};

const char kMissing[] = "ERRO: Matriz inexistente.\n";
const char kInvalid[] = "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n";

TEST_P(KernelPath, WholeMatricesIntoZerosGiveTheProduct) {
  // One band covering everything: the result part ends up holding a x b.
  for (const auto& [m, k, n] : std::vector<std::array<int32_t, 3>>{
           {1, 1, 1}, {2, 3, 4}, {12, 32, 32}, {40, 70, 50}, {97, 300, 65}}) {
    SCOPED_TRACE(testing::Message() << m << "x" << k << "x" << n);
    block_case t(m, k, k, n, m, n, 7U);
    test_support::fill_random(t.c, 0, 0, 0);
    ASSERT_EQ(run(&t.a_desc, &t.b_desc, &t.c_desc), 0);
    EXPECT_EQ(t.c.values(), test_support::reference_product(t.a.get(), t.b.get()));
  }
}

TEST_P(KernelPath, AwkwardShapesAroundTheTileSizes) {
  // Sizes on both sides of every register-tile and vector width (4, 6, 8,
  // 12, 16, 32, 64), each dimension varied against the others.
  const std::vector<int32_t> sizes = {1,  2,  3,  4,  5,  6,  7,  8,  9, 10,
                                      15, 16, 17, 31, 32, 33, 63, 64, 65};
  const size_t count = sizes.size();
  for (size_t x = 0; x < count; ++x) {
    for (size_t y = 0; y < count; ++y) {
      const int32_t m = sizes[x];
      const int32_t n = sizes[y];
      const int32_t k = sizes[(x * 7 + y * 3) % count];
      SCOPED_TRACE(testing::Message() << m << "x" << k << "x" << n);
      block_case t(m, k, k, n, m, n, static_cast<uint32_t>(x * 100 + y));
      expect_block_product(t);
      if (HasFailure()) {
        return;
      }
    }
  }
}

TEST_P(KernelPath, ShapesSpanningSeveralCacheBlocks) {
  // More rows, depth and columns than one packed block holds on any path, so
  // every blocking loop runs more than once and ends on a partial block.
  for (const auto& [m, k, n] : std::vector<std::array<int32_t, 3>>{
           {13, 513, 2080}, {200, 300, 70}, {5, 1030, 9}, {130, 17, 4100}}) {
    SCOPED_TRACE(testing::Message() << m << "x" << k << "x" << n);
    block_case t(m, k, k, n, m, n, 11U);
    expect_block_product(t);
  }
}

TEST_P(KernelPath, LongThinShapes) {
  block_case row_times_column(1, 1000, 1000, 1, 1, 1, 3U);
  expect_block_product(row_times_column);
  block_case column_times_row(1000, 1, 1, 1000, 1000, 1000, 4U);
  expect_block_product(column_times_row);
}

TEST_P(KernelPath, BlocksThatStartInsideTheMatrices) {
  // a is 40 x 50, b 50 x 45, c 60 x 70: bigger than the block needs, so any
  // write outside rows [i0, i1) x columns [j0, j1) shows up in c.
  const std::vector<std::array<int32_t, 6>> blocks = {{3, 17, 5, 38, 7, 40},
                                                      {0, 40, 49, 50, 44, 45},
                                                      {39, 40, 0, 50, 0, 45},
                                                      {13, 26, 12, 13, 1, 34},
                                                      {1, 38, 2, 47, 3, 42}};
  for (const auto& [i0, i1, k0, k1, j0, j1] : blocks) {
    SCOPED_TRACE(testing::Message() << "rows " << i0 << ".." << i1 << " k " << k0 << ".." << k1
                                    << " cols " << j0 << ".." << j1);
    block_case t(40, 50, 50, 45, 60, 70, 21U);
    t.set_block(i0, i1, k0, k1, j0, j1);
    expect_block_product(t);
  }
}

TEST_P(KernelPath, RowBoundsOfBAndBlocoOfCAreNotRead) {
  block_case t(20, 30, 30, 25, 20, 25, 5U);
  t.set_block(2, 19, 4, 29, 3, 22);
  t.b_block.lin_inicio = 28;  // an empty, unrelated row range of b
  t.b_block.lin_fim = 1;
  t.c_block = {-7, -3, 900, 2};
  expect_block_product(t);
  t.c_desc.bloco = nullptr;  // c's bloco may even be missing
  expect_block_product(t);
}

TEST_P(KernelPath, EmptyRangesChangeNothingAndReadNothing) {
  block_case t(10, 10, 10, 10, 10, 10, 9U);
  // Empty or inverted ranges, some with bounds far outside the matrices:
  // nothing is read, so nothing needs to fit.
  const std::vector<std::array<int32_t, 6>> blocks = {
      {4, 4, 0, 10, 0, 10}, {0, 10, 6, 6, 0, 10},  {0, 10, 0, 10, 9, 9},    {7, 2, 0, 10, 0, 10},
      {0, 10, 8, 1, 0, 10}, {0, 10, 0, 10, 10, 0}, {50, 50, -9, 99, 0, 10}, {0, 10, 0, 10, -5, -5}};
  for (const auto& [i0, i1, k0, k1, j0, j1] : blocks) {
    t.set_block(i0, i1, k0, k1, j0, j1);
    expect_block_product(t);
  }
}

TEST_P(KernelPath, AddsOntoWhatTheResultHolds) {
  block_case t(33, 40, 40, 31, 33, 31, 13U);
  const std::vector<int32_t> once = t.expected_c();
  ASSERT_EQ(run(&t.a_desc, &t.b_desc, &t.c_desc), 0);
  ASSERT_EQ(t.c.values(), once);
  expect_block_product(t);  // the second call adds the same product again
}

TEST_P(KernelPath, WrapsAt32BitsLikeTheReference) {
  for (const auto& [m, k, n] :
       std::vector<std::array<int32_t, 3>>{{1, 1, 1}, {17, 65, 33}, {64, 300, 40}}) {
    SCOPED_TRACE(testing::Message() << m << "x" << k << "x" << n);
    block_case t(m, k, k, n, m, n, 1U);
    kernel_test::fill_extremes(t.a, 101U);
    kernel_test::fill_extremes(t.b, 202U);
    kernel_test::fill_extremes(t.c, 303U);
    expect_block_product(t);
  }
  // The single worst case: INT32_MIN * INT32_MIN + INT32_MAX * INT32_MAX, onto INT32_MAX.
  block_case worst(1, 2, 2, 1, 1, 1, 1U);
  worst.a.at(0, 0) = INT32_MIN;
  worst.a.at(0, 1) = INT32_MAX;
  worst.b.at(0, 0) = INT32_MIN;
  worst.b.at(1, 0) = INT32_MAX;
  worst.c.at(0, 0) = INT32_MAX;
  ASSERT_EQ(run(&worst.a_desc, &worst.b_desc, &worst.c_desc), 0);
  EXPECT_EQ(worst.c.at(0, 0), INT32_MIN);  // 0 + 1 + (2^31 - 1), modulo 2^32
}

TEST_P(KernelPath, BandsOfTheInnerDimensionAddUpToTheProduct) {
  // The band products' way of using the kernel: a cut into column bands, b
  // into row bands with the same bounds, one zeroed part per band, parts added.
  block_case t(45, 103, 103, 38, 45, 38, 17U);
  const std::vector<int32_t> bounds = {0, 1, 34, 35, 90, 103};
  std::vector<int32_t> sum(static_cast<size_t>(45 * 38), 0);
  for (size_t band = 0; band + 1 < bounds.size(); ++band) {
    owned_matrix part(45, 38);
    dense_arith::bloco a_band{0, 45, bounds[band], bounds[band + 1]};
    dense_arith::bloco b_band{bounds[band], bounds[band + 1], 0, 38};
    dense_arith::bloco part_block{0, 45, 0, 38};
    dense_arith::submatriz a_desc{t.a.get(), &a_band};
    dense_arith::submatriz b_desc{t.b.get(), &b_band};
    dense_arith::submatriz part_desc{part.get(), &part_block};
    ASSERT_EQ(run(&a_desc, &b_desc, &part_desc), 0);
    const std::vector<int32_t> values = part.values();
    for (size_t i = 0; i < sum.size(); ++i) {
      sum[i] =
          static_cast<int32_t>(static_cast<uint32_t>(sum[i]) + static_cast<uint32_t>(values[i]));
    }
  }
  EXPECT_EQ(sum, test_support::reference_product(t.a.get(), t.b.get()));
}

TEST_P(KernelPath, MissingDescriptorsOrStorageAreRefused) {
  block_case t(6, 6, 6, 6, 6, 6, 2U);
  expect_refused(nullptr, &t.b_desc, &t.c_desc, t.c, kMissing);
  expect_refused(&t.a_desc, nullptr, &t.c_desc, t.c, kMissing);
  expect_refused(&t.a_desc, &t.b_desc, nullptr, t.c, kMissing);

  dense_arith::submatriz no_matrix{nullptr, &t.a_block};
  expect_refused(&no_matrix, &t.b_desc, &t.c_desc, t.c, kMissing);
  expect_refused(&t.a_desc, &t.b_desc, &no_matrix, t.c, kMissing);
  dense_arith::submatriz no_bloco{t.a.get(), nullptr};
  expect_refused(&no_bloco, &t.b_desc, &t.c_desc, t.c, kMissing);
  dense_arith::submatriz b_no_bloco{t.b.get(), nullptr};
  expect_refused(&t.a_desc, &b_no_bloco, &t.c_desc, t.c, kMissing);

  // Records whose matrix has no storage, one operand at a time.
  dense_core::matriz empty{nullptr, 6, 6};
  dense_arith::submatriz no_storage{&empty, &t.a_block};
  expect_refused(&no_storage, &t.b_desc, &t.c_desc, t.c, kMissing);
  expect_refused(&t.a_desc, &no_storage, &t.c_desc, t.c, kMissing);
  expect_refused(&t.a_desc, &t.b_desc, &no_storage, t.a, kMissing);
}

TEST_P(KernelPath, BlocksOutsideTheirMatricesAreRefused) {
  // a 8 x 9, b 9 x 7, c 8 x 7 exactly: each case pushes one bound one step out.
  const std::vector<std::array<int32_t, 6>> blocks = {{-1, 8, 0, 9, 0, 7}, {0, 9, 0, 9, 0, 7},
                                                      {0, 8, -1, 9, 0, 7}, {0, 8, 0, 10, 0, 7},
                                                      {0, 8, 0, 9, -1, 7}, {0, 8, 0, 9, 0, 8}};
  for (const auto& [i0, i1, k0, k1, j0, j1] : blocks) {
    SCOPED_TRACE(testing::Message()
                 << i0 << " " << i1 << " " << k0 << " " << k1 << " " << j0 << " " << j1);
    block_case t(8, 9, 9, 7, 8, 7, 6U);
    t.set_block(i0, i1, k0, k1, j0, j1);
    expect_refused(&t.a_desc, &t.b_desc, &t.c_desc, t.c, kInvalid);
  }
  // The inner range must also fit b's rows, and the block c's matrix.
  block_case short_b(8, 9, 5, 7, 8, 7, 6U);
  expect_refused(&short_b.a_desc, &short_b.b_desc, &short_b.c_desc, short_b.c, kInvalid);
  block_case small_c(8, 9, 9, 7, 8, 6, 6U);
  expect_refused(&small_c.a_desc, &small_c.b_desc, &small_c.c_desc, small_c.c, kInvalid);
  block_case low_c(8, 9, 9, 7, 7, 7, 6U);
  expect_refused(&low_c.a_desc, &low_c.b_desc, &low_c.c_desc, low_c.c, kInvalid);
}

TEST_P(KernelPath, AResultThatOverlapsItsOwnFactorsIsRefused) {
  // One 12 x 12 matrix m; descriptors carve blocks out of it.
  block_case t(12, 12, 12, 12, 12, 12, 31U);
  dense_arith::bloco left{0, 6, 0, 6};
  dense_arith::bloco right{0, 12, 6, 12};
  dense_arith::submatriz m_left{t.a.get(), &left};
  dense_arith::submatriz m_right{t.a.get(), &right};
  dense_arith::submatriz m_whole{t.a.get(), &t.c_block};
  // c = m: writes rows 0..5, columns 6..11 and reads m's columns 0..5 of the
  // same rows (disjoint), but b = m reads rows 0..5 of columns 6..11: overlap.
  expect_refused(&m_left, &m_right, &m_whole, t.a, kInvalid);
  // a x a into a.
  expect_refused(&m_whole, &t.a_desc, &m_whole, t.a, kInvalid);
  // c = a with written columns 6..11 and read columns 0..5 on the same rows: no
  // overlap, so the product is allowed and equals the independent computation.
  block_case self(12, 12, 12, 12, 12, 12, 32U);
  dense_arith::bloco rows_0_6_cols_0_6{0, 6, 0, 6};
  dense_arith::bloco cols_6_12{6, 12, 6, 12};
  dense_arith::submatriz a_part{self.a.get(), &rows_0_6_cols_0_6};
  dense_arith::submatriz b_other{self.b.get(), &cols_6_12};
  dense_arith::submatriz c_in_a{self.a.get(), &self.c_block};
  std::vector<int32_t> want = self.a.values();
  test_support::add_reference_product(self.a.get(), self.b.get(), {0, 6, 0, 6, 6, 12}, want, 12);
  EXPECT_EQ(run(&a_part, &b_other, &c_in_a), 0);
  EXPECT_EQ(self.a.values(), want);
}

TEST_P(KernelPath, ConcurrentCallsOverSharedFactors) {
  // Four threads, one band of the inner dimension each, one result part each,
  // all reading the same a and b: no state and no lock, so no interference.
  block_case t(70, 200, 200, 90, 70, 90, 23U);
  constexpr int kThreads = 4;
  std::vector<std::unique_ptr<owned_matrix>> parts;
  std::vector<dense_arith::bloco> a_bands(kThreads);
  std::vector<dense_arith::bloco> b_bands(kThreads);
  std::vector<dense_arith::bloco> part_blocks(kThreads, dense_arith::bloco{0, 70, 0, 90});
  std::vector<dense_arith::submatriz> descs(size_t{3} * kThreads);
  std::vector<int> results(kThreads, 1);
  for (int w = 0; w < kThreads; ++w) {
    parts.push_back(std::make_unique<owned_matrix>(70, 90));
    a_bands[w] = {0, 70, 50 * w, 50 * (w + 1)};
    b_bands[w] = {50 * w, 50 * (w + 1), 0, 90};
    const size_t first = size_t{3} * static_cast<size_t>(w);
    descs[first] = {t.a.get(), &a_bands[w]};
    descs[first + 1] = {t.b.get(), &b_bands[w]};
    descs[first + 2] = {parts[w]->get(), &part_blocks[w]};
  }
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int w = 0; w < kThreads; ++w) {
    const size_t first = size_t{3} * static_cast<size_t>(w);
    threads.emplace_back(
        [&, w, first] { results[w] = run(&descs[first], &descs[first + 1], &descs[first + 2]); });
  }
  for (auto& th : threads) {
    th.join();
  }

  std::vector<int32_t> sum(static_cast<size_t>(70 * 90), 0);
  for (int w = 0; w < kThreads; ++w) {
    EXPECT_EQ(results[w], 0);
    const std::vector<int32_t> values = parts[w]->values();
    for (size_t i = 0; i < sum.size(); ++i) {
      sum[i] =
          static_cast<int32_t>(static_cast<uint32_t>(sum[i]) + static_cast<uint32_t>(values[i]));
    }
  }
  EXPECT_EQ(sum, test_support::reference_product(t.a.get(), t.b.get()));
}

std::string param_name(const testing::TestParamInfo<kernel_run>& info) {
  const auto [name, team] = info.param;
  if (team == 0) {
    return name == nullptr ? "mmsubmatriz" : name;
  }
  return (name == nullptr ? std::string("mmsubmatrizOMP") : name) + "_team" + std::to_string(team);
}

constexpr char kScalar[] = "scalar_i32";
constexpr char kAvx2[] = "avx2_i32";
constexpr char kAvx512[] = "avx512_i32";

INSTANTIATE_TEST_SUITE_P(Paths, KernelPath,
                         testing::Values(kernel_run{nullptr, 0}, kernel_run{kScalar, 0},
                                         kernel_run{kAvx2, 0}, kernel_run{kAvx512, 0}),
                         param_name);

// Teams of 3 and 5 (more threads than many of the blocks have row tiles);
// every path and team size is compared with the sequential kernel in
// team_kernel_test.cpp.
INSTANTIATE_TEST_SUITE_P(Team, KernelPath,
                         testing::Values(kernel_run{nullptr, 3}, kernel_run{kScalar, 5}),
                         param_name);

}  // namespace
