// Threaded products with one row range per thread and two bands on two threads.
#include <climits>
#include <dense/workers_ranges.hpp>

#include "product_cases.hpp"

namespace {

using parallel_cases::expect_right_product;
using parallel_cases::kMismatch;
using parallel_cases::shapes;
using parallel_cases::thread_counts;
using test_support::capture_stdout;
using test_support::owned_matrix;
using test_support::result_ptr;

TEST(RangesMultiplicarTh, MatchesTheReferenceOnEveryShapeAndThreadCount) {
  uint32_t seed = 1000;
  for (const auto& s : shapes()) {
    for (int32_t n : thread_counts(s)) {
      expect_right_product(workers_ranges::multiplicarTh, s, n, seed++);
    }
  }
}

TEST(RangesMultiplicarTh, ThreadCountsBelowOneComputeOnOneThread) {
  for (int32_t n : {0, -1, INT32_MIN}) {
    expect_right_product(workers_ranges::multiplicarTh, {5, 4, 3}, n, 40);
  }
}

TEST(RangesMultiplicarTh, WrapsAt32Bits) {
  expect_right_product(workers_ranges::multiplicarTh, {5, 7, 6}, 2, 98, INT32_MIN, INT32_MAX);
}

TEST(RangesMultiplicarThDeathTest, MismatchEndsTheProcessBeforeAnyThread) {
  owned_matrix a(3, 4), b(3, 2);
  EXPECT_EXIT_STDOUT(workers_ranges::multiplicarTh(a.get(), b.get(), 2), 1, kMismatch);
}

TEST(RangesMultiplicarThDeathTest, AResultThatCannotBeAllocatedEndsTheProcess) {
  owned_matrix b(2, 2);
  int32_t* row = b.get()->mat[0];
  dense_core::matriz a{&row, 0, 2};
  EXPECT_EXIT_STDOUT(workers_ranges::multiplicarTh(&a, b.get(), 2), 1,
                     "ERRO: n\xc3\xbamero de linhas indefinido.\nERROR: Out of memory\n");
}

TEST(RangesMultiplicarTh, MissingFactorsAreRefused) {
  owned_matrix a(2, 2);
  dense_core::matriz hollow{nullptr, 2, 2};
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_ranges::multiplicarTh(&hollow, a.get(), 2); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(c, nullptr);
}

// Runs exec_thread on rows [lo, hi) of a 10-row product into a result
// pre-filled with 7, and returns which rows it changed.
std::vector<int32_t> rows_written(int32_t lo, int32_t hi, int32_t id) {
  owned_matrix a(10, 3), b(3, 4), c(10, 4);
  test_support::fill_random(a, 61);
  test_support::fill_random(b, 62);
  for (int32_t i = 0; i < 10; ++i) {
    for (int32_t j = 0; j < 4; ++j) {
      c.at(i, j) = 7;
    }
  }
  const auto want = test_support::reference_product(a.get(), b.get());
  workers_ranges::thread_arg job{id, 4, lo, hi, c.get(), a.get(), b.get()};
  EXPECT_EQ(workers_ranges::exec_thread(&job), nullptr);
  std::vector<int32_t> changed;
  for (int32_t i = 0; i < 10; ++i) {
    bool row_changed = false;
    for (int32_t j = 0; j < 4; ++j) {
      if (c.at(i, j) == 7) {
        continue;
      }
      row_changed = true;
      EXPECT_EQ(c.at(i, j), 7 + want[static_cast<size_t>(i * 4 + j)]) << i << "," << j;
    }
    if (row_changed) {
      changed.push_back(i);
    }
  }
  return changed;
}

TEST(RangesExecThread, WritesExactlyItsRange) {
  // 10 rows on 4 threads: 0-1, 2-3, 4-5 and 6-9.
  EXPECT_EQ(rows_written(0, 2, 0), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(rows_written(4, 6, 2), (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(rows_written(6, 10, 3), (std::vector<int32_t>{6, 7, 8, 9}));
  EXPECT_EQ(rows_written(3, 3, 1), std::vector<int32_t>{});
}

TEST(RangesExecThread, ARangeOutsideTheMatrixIsCutToItsRows) {
  EXPECT_EQ(rows_written(-5, 2, 0), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(rows_written(8, 50, 3), (std::vector<int32_t>{8, 9}));
}

TEST(RangesMultiplicarThblocos, MatchesTheReferenceWhateverTheThreadCount) {
  uint32_t seed = 2000;
  for (const auto& s : shapes()) {
    if (s.inner < 2) {
      continue;
    }
    for (int32_t n : {-1, 0, 1, 2, 3, 5, 64}) {
      expect_right_product(workers_ranges::multiplicarThblocos, s, n, seed++);
    }
  }
}

TEST(RangesMultiplicarThblocos, WrapsAt32Bits) {
  expect_right_product(workers_ranges::multiplicarThblocos, {6, 9, 5}, 2, 78, INT32_MIN, INT32_MAX);
}

TEST(RangesMultiplicarThblocos, ASingleInnerColumnIsRefusedByThePartition) {
  owned_matrix a(3, 1), b(1, 4);
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_ranges::multiplicarThblocos(a.get(), b.get(), 2); }),
            "** Erro: Divisor (2) maior que o n\xc3\xbamero de colunas (1) **\n");
  EXPECT_EQ(c, nullptr);
}

TEST(RangesMultiplicarThblocosDeathTest, MismatchEndsTheProcessLikeMultiplicarTh) {
  owned_matrix a(3, 4), b(3, 2);
  EXPECT_EXIT_STDOUT(workers_ranges::multiplicarThblocos(a.get(), b.get(), 2), 1, kMismatch);
}

TEST(RangesMultiplicarThblocos, AResultWithoutColumnsIsNullNotACrash) {
  owned_matrix a(2, 2);
  int32_t* rows[2] = {a.get()->mat[0], a.get()->mat[1]};
  dense_core::matriz b{rows, 2, 0};
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  const std::string out =
      capture_stdout([&] { c = workers_ranges::multiplicarThblocos(a.get(), &b, 2); });
  EXPECT_EQ(c, nullptr);
  EXPECT_THAT(out, testing::StartsWith("ERRO: n\xc3\xbamero de colunas indefinido.\n"));
}

TEST(RangesExecThreadBlocos, MultipliesTheBandOfItsId) {
  owned_matrix a(3, 4), b(4, 2);
  test_support::fill_random(a, 71);
  test_support::fill_random(b, 72);
  dense_arith::submatriz** ap = dense_arith::particionar_matriz(a.get()->mat, 3, 4, 1, 2);
  dense_arith::submatriz** bp = dense_arith::particionar_matriz(b.get()->mat, 4, 2, 0, 2);
  dense_arith::submatriz** cp = dense_arith::csubmatrizv2(3, 2, 2);
  workers_ranges::thread_arg_blocos job{1, 2, ap, bp, cp};
  workers_ranges::exec_thread_blocos(&job);
  // Result part 0 is untouched; result part 1 holds columns 2..3 of a times rows 2..3 of b.
  EXPECT_EQ(test_support::values_of(cp[0]->matriz), std::vector<int32_t>(6, 0));
  std::vector<int32_t> band_1(6, 0);
  test_support::add_reference_product(a.get(), b.get(), {0, 3, 2, 4, 0, 2}, band_1, 2);
  EXPECT_EQ(test_support::values_of(cp[1]->matriz), band_1);
  dense_arith::detail::release_parts(cp, 2);
  dense_arith::detail::release_partition(bp, 2);
  dense_arith::detail::release_partition(ap, 2);
}

}  // namespace
