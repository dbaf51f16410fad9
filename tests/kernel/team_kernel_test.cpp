// The team kernel: how the result is split among the threads, the same bits as the
// sequential kernel on every path and team size, and multiplicarKernelOMP.
#include <gtest/gtest.h>

#include <array>
#include <dense/block_kernel.hpp>
#include <dense/team_kernel.hpp>
#include <string>
#include <vector>

#include "block_case.hpp"
#include "common/even_split.hpp"
#include "kernel/testing.hpp"
#include "support/capture.hpp"

namespace {

using block_kernel::path;
using kernel_test::block_case;
using dense_detail::even_part;
using team_kernel::detail::split_result;
using test_support::owned_matrix;

TEST(TeamSplit, RowsFirstColumnsWhenRowsCannotKeepTheTeamBusy) {
  struct row {
    int32_t m, n, mr, nr, threads, row_parts, col_parts;
  };
  for (const row& r : std::vector<row>{
           {1024, 1024, 12, 32, 2, 2, 1},  // square: rows only
           {4096, 4096, 6, 16, 4, 4, 1},
           {1024, 1024, 12, 32, 1, 1, 1},  // one thread: the whole result
           {64, 4096, 12, 32, 2, 1, 2},    // 6 row tiles split 3 + 3 would be 36 + 28 rows
           {5, 3000, 4, 8, 8, 1, 8},       // one row tile: columns only
           {24, 3000, 12, 32, 4, 2, 2},    // two row tiles: a 2 x 2 grid
           {3000, 5, 12, 32, 8, 8, 1},     // one column tile: rows only
           {1, 1, 12, 32, 8, 1, 1}}) {     // more threads than tiles
    SCOPED_TRACE(testing::Message() << r.m << "x" << r.n << " on " << r.threads);
    const auto got = split_result(r.m, r.n, r.mr, r.nr, r.threads);
    EXPECT_EQ(got.row_parts, r.row_parts);
    EXPECT_EQ(got.col_parts, r.col_parts);
  }
}

TEST(TeamSplit, EveryElementOfTheResultBelongsToExactlyOneThread) {
  for (int32_t m : {1, 5, 13, 64, 100})
    for (int32_t n : {1, 7, 40, 200})
      for (int32_t threads : {1, 2, 3, 4, 7, 8, 40}) {
        const auto split = split_result(m, n, 6, 16, threads);
        ASSERT_LE(split.row_parts * split.col_parts, threads);
        std::vector<int> owners(static_cast<size_t>(m * n), 0);
        for (int32_t t = 0; t < split.row_parts * split.col_parts; ++t) {
          const auto rows = even_part(m, split.row_parts, t / split.col_parts, 6);
          const auto cols = even_part(n, split.col_parts, t % split.col_parts, 16);
          for (int32_t i = rows.begin; i < rows.end; ++i)
            for (int32_t j = cols.begin; j < cols.end; ++j)
              ++owners[static_cast<size_t>(i * n + j)];
        }
        EXPECT_EQ(owners, std::vector<int>(owners.size(), 1)) << m << "x" << n << " on " << threads;
      }
}

// The team kernel must give the sequential kernel's bits on the same path,
// whatever the team: sizes around every tile width, primes, tall and flat
// results, and blocks that start inside larger matrices; values from the
// extremes of int32, so every product and sum wraps.
TEST(TeamKernel, SameBitsAsTheSequentialKernelOnEveryPathAndTeam) {
  struct shape {
    int32_t m, k, n;            // the block
    int32_t i0, k0, j0, extra;  // where it starts, and how much larger the matrices are
  };
  std::vector<shape> shapes;
  for (int32_t s : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 16, 17, 31, 32, 33})
    shapes.push_back({s, 41 - s, s + 3, 0, 0, 0, 0});
  for (const shape& s : std::vector<shape>{{37, 53, 101, 0, 0, 0, 0},
                                           {211, 7, 97, 0, 0, 0, 0},
                                           {3000, 8, 5, 0, 0, 0, 0},     // tall
                                           {5, 8, 3000, 0, 0, 0, 0},     // flat
                                           {29, 300, 1100, 0, 0, 0, 0},  // several blocks of b
                                           {31, 45, 43, 3, 5, 7, 11},
                                           {17, 33, 65, 1, 2, 9, 6}})
    shapes.push_back(s);

  for (path p : {path::scalar_i32, path::avx2_i32, path::avx512_i32}) {
    if (!block_kernel::path_available(p)) continue;
    for (const shape& s : shapes) {
      const int32_t rows = s.i0 + s.m + s.extra;
      const int32_t inner = s.k0 + s.k + s.extra;
      const int32_t cols = s.j0 + s.n + s.extra;
      block_case truth(rows, inner, inner, cols, rows, cols, 5U, INT32_MIN, INT32_MAX);
      truth.set_block(s.i0, s.i0 + s.m, s.k0, s.k0 + s.k, s.j0, s.j0 + s.n);
      ASSERT_EQ(block_kernel::mmsubmatriz_on(p, &truth.a_desc, &truth.b_desc, &truth.c_desc), 0);
      for (int32_t team : {1, 2, 3, 4, 5, 6, 7, 8, s.m + 5}) {
        SCOPED_TRACE(testing::Message() << block_kernel::path_name(p) << " " << s.m << "x" << s.k
                                        << "x" << s.n << " at " << s.i0 << "," << s.k0 << ","
                                        << s.j0 << " on " << team << " threads");
        block_case t(rows, inner, inner, cols, rows, cols, 5U, INT32_MIN, INT32_MAX);
        t.set_block(s.i0, s.i0 + s.m, s.k0, s.k0 + s.k, s.j0, s.j0 + s.n);
        ASSERT_EQ(team_kernel::detail::mmsubmatrizOMP_on(p, &t.a_desc, &t.b_desc, &t.c_desc, team),
                  0);
        ASSERT_EQ(t.c.values(), truth.c.values());
      }
    }
  }
}

TEST(TeamKernel, DefaultTeamAndAPathThatCannotRun) {
  block_case t(50, 60, 60, 70, 50, 70, 3U);
  const std::vector<int32_t> want = t.expected_c();
  for (int32_t n : {0, -1}) {  // below 1: the runtime's default team
    block_case u(50, 60, 60, 70, 50, 70, 3U);
    EXPECT_EQ(team_kernel::mmsubmatrizOMP(&u.a_desc, &u.b_desc, &u.c_desc, n), 0);
    EXPECT_EQ(u.c.values(), want);
  }
  const std::vector<int32_t> before = t.c.values();
  int rc = 0;
  EXPECT_EQ(test_support::capture_stdout([&] {
              rc = team_kernel::detail::mmsubmatrizOMP_on(static_cast<path>(9), &t.a_desc,
                                                          &t.b_desc, &t.c_desc, 2);
            }),
            "");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(t.c.values(), before);
}

TEST(MultiplicarKernelOMP, ReturnsANewProductOnAnyTeam) {
  for (const auto& [m, k, n, team] : std::vector<std::array<int32_t, 4>>{
           {1, 1, 1, 1}, {7, 3, 5, 4}, {100, 37, 90, 2}, {65, 130, 33, 8}, {20, 20, 20, 0}}) {
    SCOPED_TRACE(testing::Message() << m << "x" << k << "x" << n << " on " << team);
    owned_matrix a(m, k);
    owned_matrix b(k, n);
    test_support::fill_random(a, 1U, INT32_MIN, INT32_MAX);
    test_support::fill_random(b, 2U, INT32_MIN, INT32_MAX);
    const int32_t threads =
        team;  // a structured binding cannot be captured before C++20's clang 16
    test_support::result_ptr r;
    const std::string out = test_support::capture_stdout(
        [&] { r.reset(team_kernel::multiplicarKernelOMP(a.get(), b.get(), threads)); });
    EXPECT_EQ(out, "");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lin, m);
    EXPECT_EQ(r->col, n);
    EXPECT_EQ(test_support::values_of(r.get()), test_support::reference_product(a.get(), b.get()));
  }
}

TEST(MultiplicarKernelOMP, MissingOrMismatchedFactorsAreRefused) {
  const std::string missing = "ERRO: Matriz inexistente.\n";
  const std::string invalid = "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n";
  owned_matrix a(3, 4);
  owned_matrix b(4, 2);
  owned_matrix wrong(3, 2);
  dense_core::matriz empty{nullptr, 4, 2};
  struct row {
    const dense_core::matriz* a;
    const dense_core::matriz* b;
    const std::string& message;
  };
  for (const row& r : std::vector<row>{{nullptr, b.get(), missing},
                                       {a.get(), nullptr, missing},
                                       {a.get(), &empty, missing},
                                       {&empty, b.get(), missing},
                                       {a.get(), wrong.get(), invalid},
                                       {b.get(), a.get(), invalid}}) {
    dense_core::matriz* result = &empty;
    EXPECT_EQ(test_support::capture_stdout(
                  [&] { result = team_kernel::multiplicarKernelOMP(r.a, r.b, 2); }),
              r.message);
    EXPECT_EQ(result, nullptr);
  }
}

}  // namespace
