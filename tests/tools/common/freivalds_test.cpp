// Freivalds' check of a product: catches any single wrong element, passes every correct product,
// and repeats exactly with the same seed.
#include "tools/common/freivalds.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <set>
#include <string>

#include "support/matrices.hpp"

namespace {

using test_support::owned_matrix;
using tool_common::freivalds_check;

struct shape {
  int32_t m, k, n;
};
// Under 40 columns the rounds run in five passes, from 40 on in one.
constexpr shape kShapes[] = {{1, 1, 1},   {3, 4, 2},  {1, 40, 7}, {100, 1, 3},
                             {17, 33, 9}, {6, 5, 40}, {9, 2, 71}};

// Factors with values over the whole int32 range, so the products wrap.
struct product_case {
  explicit product_case(shape s, int32_t lo = INT32_MIN, int32_t hi = INT32_MAX)
      : a(s.m, s.k), b(s.k, s.n), c(s.m, s.n) {
    test_support::fill_random(a, 1u + static_cast<uint32_t>(s.m * 7 + s.k), lo, hi);
    test_support::fill_random(b, 2u + static_cast<uint32_t>(s.n * 5 + s.k), lo, hi);
    const auto exact = test_support::reference_product(a.get(), b.get());
    for (int32_t i = 0; i < s.m; ++i) {
      for (int32_t j = 0; j < s.n; ++j) {
        c.at(i, j) =
            exact[static_cast<size_t>(i) * static_cast<size_t>(s.n) + static_cast<size_t>(j)];
      }
    }
  }
  owned_matrix a, b, c;
};

TEST(Freivalds, PassesCorrectProductsIncludingWrappedOnes) {
  for (const shape s : kShapes) {
    product_case p(s);
    const auto v = freivalds_check(p.a.get(), p.b.get(), p.c.get(), 7);
    EXPECT_TRUE(v.passed) << s.m << "x" << s.k << "x" << s.n << ": " << v.report;
    EXPECT_EQ(v.report, "");
  }
}

TEST(Freivalds, NamesTheSingleChangedElementAnywhere) {
  for (const shape s : kShapes) {
    const int32_t where[][2] = {{0, 0}, {s.m / 2, s.n / 2}, {s.m - 1, s.n - 1}};
    for (const auto& at : where) {
      for (const uint32_t delta : {1u, 0x80000000u}) {
        product_case p(s);
        const int32_t exact = p.c.at(at[0], at[1]);
        p.c.at(at[0], at[1]) = static_cast<int32_t>(static_cast<uint32_t>(exact) + delta);
        const auto v = freivalds_check(p.a.get(), p.b.get(), p.c.get(), 3);
        SCOPED_TRACE(std::to_string(s.m) + "x" + std::to_string(s.k) + "x" + std::to_string(s.n) +
                     " at " + std::to_string(at[0]) + "," + std::to_string(at[1]));
        ASSERT_FALSE(v.passed);
        EXPECT_EQ(v.row, at[0] + 1);
        EXPECT_EQ(v.col, at[1] + 1);
        EXPECT_EQ(v.expected, exact);
        EXPECT_EQ(v.found, p.c.at(at[0], at[1]));
      }
    }
  }
}

TEST(Freivalds, ReportsInTheExactChecksWords) {
  product_case p({3, 4, 2}, -9, 9);
  // Two changes that cancel for an all-ones vector, so only random vectors see them.
  p.c.at(2, 1) = p.c.at(2, 1) + 1;
  p.c.at(2, 0) = p.c.at(2, 0) - 1;
  EXPECT_EQ(freivalds_check(p.a.get(), p.b.get(), p.c.get(), 5).report,
            "ERRO: Matriz diferente.; elemento: linha 3, coluna 1; valor na matriz A " +
                std::to_string(p.c.at(2, 0) + 1) + "; valor na matriz B " +
                std::to_string(p.c.at(2, 0)));
  p.c.at(1, 1) = p.c.at(1, 1) + 4;  // now the first in row-major order
  EXPECT_EQ(freivalds_check(p.a.get(), p.b.get(), p.c.get(), 5).report,
            "ERRO: Matriz diferente.; elemento: linha 2, coluna 2; valor na matriz A " +
                std::to_string(p.c.at(1, 1) - 4) + "; valor na matriz B " +
                std::to_string(p.c.at(1, 1)));

  owned_matrix wrong_rows(2, 2);
  owned_matrix wrong_cols(3, 5);
  dense_core::matriz missing{nullptr, 3, 2};
  EXPECT_EQ(freivalds_check(p.a.get(), p.b.get(), wrong_rows.get(), 5).report,
            "ERRO: Matrizes com n\xc3\xbamero de linhas diferentes.; matriz A 3 linhas.; "
            "matriz B 2 linhas.");
  EXPECT_EQ(freivalds_check(p.a.get(), p.b.get(), wrong_cols.get(), 5).report,
            "ERRO: Matrizes com n\xc3\xbamero de colunas diferentes.; matriz A 2 colunas.; "
            "matriz B 5 colunas.");
  EXPECT_EQ(freivalds_check(p.a.get(), p.b.get(), &missing, 5).report,
            "ERRO: Matriz B inexistente");
}

TEST(Freivalds, SameSeedSameVectorsAndAboutHalfTheRoundsCatchOneChange) {
  // A change by 2^31 is seen exactly by the rounds whose vector has a 1 in
  // its column, so the count of catching rounds shows the vectors drawn.
  product_case p({17, 33, 49});
  p.c.at(16, 48) = static_cast<int32_t>(static_cast<uint32_t>(p.c.at(16, 48)) + 0x80000000u);
  std::set<int> counts;
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    const auto first = freivalds_check(p.a.get(), p.b.get(), p.c.get(), seed);
    const auto again = freivalds_check(p.a.get(), p.b.get(), p.c.get(), seed);
    EXPECT_EQ(first.rounds_caught, again.rounds_caught);
    EXPECT_GE(first.rounds_caught, 8);
    EXPECT_LE(first.rounds_caught, 32);
    counts.insert(first.rounds_caught);
  }
  EXPECT_GT(counts.size(), 1u) << "every seed drew the same vectors";
}

TEST(Freivalds, OnePlanChecksManyResultsAsAWholeCheckWould) {
  // compare_products prepares a*(b*X) once and checks every repetition with it.
  for (const shape s : {shape{9, 2, 71}, shape{17, 33, 9}}) {
    product_case p(s);
    const tool_common::freivalds_plan plan(p.a.get(), p.b.get(), 21);
    EXPECT_TRUE(plan.check(p.c.get()).passed);
    const int32_t exact = p.c.at(s.m - 1, 0);
    p.c.at(s.m - 1, 0) = exact ^ 1;
    const auto by_plan = plan.check(p.c.get());
    const auto whole = freivalds_check(p.a.get(), p.b.get(), p.c.get(), 21);
    EXPECT_FALSE(by_plan.passed);
    EXPECT_EQ(by_plan.report, whole.report);
    EXPECT_EQ(by_plan.rounds_caught, whole.rounds_caught);
    p.c.at(s.m - 1, 0) = exact;
    EXPECT_TRUE(plan.check(p.c.get()).passed);
  }
}

// A row of more than 429,496,729 columns: the check's index of a column's
// entries, the column times the five groups of a pass, passes the int range
// there. b's and c's rows sit on untouched anonymous pages, which all read
// as the one zero page, so the factors cost no memory; the check's own
// masks (5 bytes a column) and the exact row it recomputes for a failure
// (4 bytes a column) are real: about 4 GiB.
TEST(Freivalds, ChecksRowsLongerThanItsIndicesCouldCountInAnInt) {
  constexpr int32_t kCols = 430000000;
  const size_t bytes = static_cast<size_t>(kCols) * sizeof(int32_t);
  void* b_row = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  void* c_row = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(b_row, MAP_FAILED);
  ASSERT_NE(c_row, MAP_FAILED);
  owned_matrix a(1, 1, {3});
  int32_t* b_rows[] = {static_cast<int32_t*>(b_row)};
  int32_t* c_rows[] = {static_cast<int32_t*>(c_row)};
  const dense_core::matriz b{b_rows, 1, kCols};
  const dense_core::matriz c{c_rows, 1, kCols};

  // One wrong element near the end: every column before it must check out,
  // and the failure must name its column.
  c_rows[0][kCols - 2] = 9;
  const auto v = freivalds_check(a.get(), &b, &c, 5);
  EXPECT_FALSE(v.passed);
  EXPECT_EQ(v.col, kCols - 1);
  EXPECT_EQ(v.expected, 0);
  EXPECT_EQ(v.found, 9);
  munmap(b_row, bytes);
  munmap(c_row, bytes);
}

}  // namespace
