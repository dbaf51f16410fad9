// The team kernel: how a product is cut into pieces of work, the same bits as the
// sequential kernel on every path and team size, and multiplicarKernelOMP.
#include <gtest/gtest.h>

#include <array>
#include <dense/block_kernel.hpp>
#include <dense/team_kernel.hpp>
#include <string>
#include <utility>
#include <vector>

#include "block_case.hpp"
#include "common/even_split.hpp"
#include "common/trace.hpp"
#include "kernel/team_plan.hpp"
#include "kernel/testing.hpp"
#include "support/capture.hpp"

namespace {

using block_kernel::path;
using kernel_test::block_case;
using test_support::owned_matrix;

// Tile kernels by their blocks only (the plan never calls a tile): the
// machine's AVX-512 path, and small blocks that give many blocks of b, a
// narrow last column and a shallow last depth on small products.
const block_kernel::detail::tile_kernel kZmm{12, 32, 96, 1024, 2048, {}, nullptr};
const block_kernel::detail::tile_kernel kSmall{4, 8, 16, 8, 24, {}, nullptr};
const block_kernel::detail::tile_kernel kSmallPairs{
    4, 8, 16, 8, 24, block_kernel::detail::packing::int16_pairs, nullptr};

TEST(TeamPlan, TallItemsThenAFinerTailColumnsOnlyWhenRowsAreTooFew) {
  struct row {
    int32_t m, n, threads, row_items, col_items;
  };
  for (const row& r : std::vector<row>{
           // 86 row tiles: 9 body items of mc = 96 rows or less, the last 16 tiles in 8 of 2
           {1024, 1024, 2, 9 + 8, 1},
           {4096, 4096, 2, 41 + 8, 1},  // 342 row tiles: 326 in 41 body items
           {1024, 1024, 1, 10 + 4, 1},  // one thread: a tail of one body item
           {100, 1000, 2, 3 + 2, 4},    // 9 row tiles: body and tail items of 2, 4 column runs
           {64, 4096, 2, 1, 16},        // at most mc rows: one item tall, 16 column runs
           {5, 3000, 8, 1, 16},         // one row tile: columns only, at least 4 tiles wide
           {5, 100, 8, 1, 1},           // ... and never narrower
           {1, 1, 8, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << r.m << "x" << r.n << " on " << r.threads);
    const auto plan = team_kernel::detail::plan_team(kZmm, r.m, 100, r.n, r.threads);
    EXPECT_EQ(plan.row_items, r.row_items);
    EXPECT_EQ(plan.col_items, r.col_items);
  }
}

// Every piece as the counter hands it out: per block, every panel of b packed
// once before any item, every element of c added once; every piece waits only
// for pieces handed out before it, and a block that follows another in the
// same columns repeats its items' rectangles in the same order. Each buffer of
// b is followed word by word: a pack piece must wait for every item that read
// a word it overwrites since that word was last written, whatever the depths
// and widths of the blocks in between.
TEST(TeamPlan, EveryPanelPackedAndEveryElementAddedOncePerBlockWaitingOnlyOnEarlierPieces) {
  using team_kernel::detail::block_at;
  using team_kernel::detail::packed_block;
  for (const auto& tile : {kSmall, kSmallPairs, kZmm}) {
    for (int32_t m : {1, 5, 13, 64, 100}) {
      for (int32_t k : {1, 8, 9, 30}) {
        for (int32_t n : {1, 7, 40, 200}) {
          for (int32_t threads : {1, 2, 3, 8}) {
            SCOPED_TRACE(testing::Message() << "mr " << tile.mr << ": " << m << "x" << k << "x" << n
                                            << " on " << threads);
            const auto plan = team_kernel::detail::plan_team(tile, m, k, n, threads);
            const int32_t blocks = team_kernel::detail::block_count(plan);
            const int32_t steps = tile.pack == block_kernel::detail::packing::int16_pairs ? 2 : 1;
            const auto stride = [&](const packed_block& b) {  // words per panel
              return int64_t{(b.kc + steps - 1) / steps} * tile.nr;
            };
            const auto panels_in = [&](const packed_block& b) {
              return (b.nc + tile.nr - 1) / tile.nr;
            };
            std::vector<std::vector<int>> panels(static_cast<size_t>(blocks));
            std::vector<std::vector<int>> adds(static_cast<size_t>(blocks));
            std::vector<int64_t> last_pack(static_cast<size_t>(blocks), -1);
            std::vector<int64_t> first_item(static_cast<size_t>(blocks), -1);
            int64_t depth_covered = 0;  // columns of [0, n) x inner range, summed over blocks
            for (int32_t s = 0; s < blocks; ++s) {
              const auto b = block_at(plan, s);
              panels[static_cast<size_t>(s)].assign(static_cast<size_t>(panels_in(b)), 0);
              adds[static_cast<size_t>(s)].assign(
                  static_cast<size_t>(m) * static_cast<size_t>(b.nc), 0);
              depth_covered += int64_t{b.nc} * b.kc;
            }
            EXPECT_EQ(depth_covered, int64_t{n} * k);
            // Per buffer and word: the block that wrote it last, or -1.
            const auto words =
                static_cast<size_t>(stride(block_at(plan, 0)) * panels_in(block_at(plan, 0)));
            std::vector<std::vector<int32_t>> writer(static_cast<size_t>(plan.b_buffers),
                                                     std::vector<int32_t>(words, -1));
            std::vector<std::pair<int32_t, int64_t>> written;  // by the block being packed
            const int64_t pieces = team_kernel::detail::piece_count(plan);
            for (int64_t p = 0; p < pieces; ++p) {
              const auto piece = team_kernel::detail::piece_at(plan, p);
              const auto& b = piece.block;
              const auto s = static_cast<size_t>(b.index);
              if (piece.packs_b) {
                const auto run = team_kernel::detail::panels_of(plan, b, piece.index);
                const int32_t buffer = b.index % plan.b_buffers;
                for (int32_t q = run.begin; q < run.end; ++q) {
                  ++panels[s][static_cast<size_t>(q)];
                  for (int64_t w = q * stride(b); w < (q + 1) * stride(b); ++w) {
                    written.emplace_back(buffer, w);
                    const int32_t last =
                        writer[static_cast<size_t>(buffer)][static_cast<size_t>(w)];
                    if (last < 0) {
                      continue;
                    }
                    const auto before = block_at(plan, last);
                    const int64_t panel = w / stride(before);
                    if (panel >= panels_in(before)) {
                      continue;  // no item of it read the word
                    }
                    ASSERT_TRUE(last == b.index - plan.b_buffers ||
                                last == b.index - 2 * plan.b_buffers)
                        << "block " << b.index << " overwrites block " << last << " unwatched";
                    const auto waited =
                        team_kernel::detail::overwritten_readers(plan, b, piece.index, before);
                    const int32_t reader = dense_detail::part_holding(
                        panels_in(before), before.col_items, static_cast<int32_t>(panel));
                    ASSERT_TRUE(waited.begin <= reader && reader < waited.end)
                        << "block " << b.index << " piece " << piece.index << " word " << w;
                  }
                }
                last_pack[s] = p;
                continue;
              }
              for (const auto& [buffer, w] : written) {  // the block's packing is over
                writer[static_cast<size_t>(buffer)][static_cast<size_t>(w)] = b.index;
              }
              written.clear();
              if (first_item[s] < 0) {
                first_item[s] = p;
              }
              const auto area = team_kernel::detail::item_at(plan, b, piece.index);
              ASSERT_LE(area.rows.end - area.rows.begin, tile.mc);
              ASSERT_EQ(area.cols.begin % tile.nr, 0);
              for (int32_t i = area.rows.begin; i < area.rows.end; ++i) {
                for (int32_t j = area.cols.begin; j < area.cols.end; ++j) {
                  ++adds[s][static_cast<size_t>(i) * static_cast<size_t>(b.nc) +
                            static_cast<size_t>(j)];
                }
              }
              if (b.follows) {  // the same rectangle of c, one block earlier
                const auto before = block_at(plan, b.index - 1);
                ASSERT_EQ(before.jc, b.jc);
                const auto earlier = team_kernel::detail::item_at(plan, before, piece.index);
                EXPECT_EQ(std::make_pair(earlier.rows.begin, earlier.rows.end),
                          std::make_pair(area.rows.begin, area.rows.end));
                EXPECT_EQ(std::make_pair(earlier.cols.begin, earlier.cols.end),
                          std::make_pair(area.cols.begin, area.cols.end));
                EXPECT_LT(before.first_piece + before.packs + piece.index, p);
              }
            }
            for (int32_t s = 0; s < blocks; ++s) {
              const auto i = static_cast<size_t>(s);
              EXPECT_EQ(panels[i], std::vector<int>(panels[i].size(), 1)) << "block " << s;
              EXPECT_EQ(adds[i], std::vector<int>(adds[i].size(), 1)) << "block " << s;
              EXPECT_LT(last_pack[i], first_item[i]) << "block " << s;
            }
          }
        }
      }
    }
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
  for (int32_t s : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 16, 17, 31, 32, 33}) {
    shapes.push_back({s, 41 - s, s + 3, 0, 0, 0, 0});
  }
  for (const shape& s : std::vector<shape>{{37, 53, 101, 0, 0, 0, 0},
                                           {211, 7, 97, 0, 0, 0, 0},
                                           {3000, 8, 5, 0, 0, 0, 0},     // tall
                                           {5, 8, 3000, 0, 0, 0, 0},     // flat
                                           {29, 300, 1100, 0, 0, 0, 0},  // several blocks of b
                                           {31, 45, 43, 3, 5, 7, 11},
                                           {17, 33, 65, 1, 2, 9, 6}}) {
    shapes.push_back(s);
  }

  for (const char* name : {"scalar_i32", "avx2_i32", "avx512_i32"}) {
    const path p = block_kernel::path_named(name);
    if (!block_kernel::path_available(p)) {
      continue;
    }
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
              rc = team_kernel::detail::mmsubmatrizOMP_on(
                  static_cast<path>(block_kernel::path_count()), &t.a_desc, &t.b_desc, &t.c_desc,
                  2);
            }),
            "");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(t.c.values(), before);
}

// A team of one (asked for, or cut down by the load) runs the sequential
// kernel; a timeline still shows the product on the caller's lane.
TEST(TeamKernel, ATeamOfOneShowsItsWholeProductOnTheCallersLane) {
  block_case t(40, 50, 50, 30, 40, 30, 9U);
  dense_detail::trace::start();
  EXPECT_EQ(team_kernel::mmsubmatrizOMP(&t.a_desc, &t.b_desc, &t.c_desc, 1), 0);
  const auto spans = dense_detail::trace::stop();
  ASSERT_EQ(spans.size(), 1U);
  EXPECT_STREQ(spans[0].phase, dense_detail::trace::kMultiply);
  EXPECT_EQ(spans[0].thread, dense_detail::trace::this_thread());
  EXPECT_EQ(spans[0].worker, 0);
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
