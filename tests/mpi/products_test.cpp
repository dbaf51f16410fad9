// Both MPI products, and the blocked SUMMA, bit for bit against the reference product, on any rank
// count.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <dense/mpi_products.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mpi/mpi_test_support.hpp"
#include "mpi/overlap.hpp"
#include "support/capture.hpp"
#include "support/matrices.hpp"

namespace {

using dense_core::matriz;
using test_support::owned_matrix;

struct shape_case {
  const char* name;
  int32_t m, k, n;
  bool limits;  // values at the 32-bit limits instead of small random ones
};

// Run at 1 to 4 ranks: with 3 and 4 ranks "more ranks than rows" leaves ranks
// (and grid rows) with nothing; tall and flat leave the grid's cuts of the
// inner index unaligned.
const shape_case kShapes[] = {
    {"1x1x1", 1, 1, 1, false},
    {"7x13x5", 7, 13, 5, false},
    {"more ranks than rows", 2, 9, 3, false},
    {"tall", 67, 3, 2, false},
    {"flat", 2, 3, 71, false},
    {"300x200x100", 300, 200, 100, false},
    {"32-bit limits", 9, 6, 5, true},
    // An inner index shorter than the grid: some ranks own no columns of a or rows of b.
    {"inner 1", 5, 1, 4, false},
    // Several panels per step, none dividing k, on every rank count above one:
    // panels multiplied where their owner holds them, and two buffers in turn
    // for the panels in flight.
    {"long inner", 5, 4100, 6, false},
    // Blocks of a and c that travel as several messages (on 2 ranks, 90000 rows of 3).
    {"several messages", 180000, 3, 3, false},
};

void fill(owned_matrix& m, uint32_t seed, bool limits) {
  if (!limits) {
    test_support::fill_random(m, seed);
    return;
  }
  const int32_t edge[] = {INT32_MAX, INT32_MIN, -1, INT32_MAX - 1, INT32_MIN + 1, 1};
  for (int32_t i = 0; i < m.get()->lin; ++i) {
    for (int32_t j = 0; j < m.get()->col; ++j) {
      m.at(i, j) = edge[(static_cast<uint32_t>(i) * 7u + static_cast<uint32_t>(j) + seed) % 6u];
    }
  }
}

struct product_case {
  const char* name;
  std::function<matriz*(const matriz*, const matriz*, int32_t, MPI_Comm)> call;
};

const product_case kProducts[] = {
    {"multiplicarMPI", mpi_products::multiplicarMPI},
    {"multiplicarSUMMA", mpi_products::multiplicarSUMMA},
};

// The products with their overlap off (mpi_compare --no-overlap) for one scope, on every rank.
class overlap_off {
 public:
  overlap_off() { mpi_detail::set_overlap(false); }
  overlap_off(const overlap_off&) = delete;
  overlap_off& operator=(const overlap_off&) = delete;
  ~overlap_off() { mpi_detail::set_overlap(true); }
};

void check_whole_products() {
  // The runtime's default team, one thread, and more threads than this machine has cores.
  const int32_t kThreadCounts[] = {0, 1, 3};
  size_t step = 0;
  for (const auto& s : kShapes) {
    owned_matrix a(s.m, s.k);
    owned_matrix b(s.k, s.n);
    fill(a, 1, s.limits);
    fill(b, 2, s.limits);
    const auto want = test_support::reference_product(a.get(), b.get());
    for (const auto& p : kProducts) {
      const int32_t threads = kThreadCounts[step++ % 3];
      const bool root = mpi_test::rank() == 0;
      matriz* c = nullptr;
      // Only rank 0's factors count; the others pass null.
      const std::string said = test_support::capture_stdout([&] {
        c = p.call(root ? a.get() : nullptr, root ? b.get() : nullptr, threads, MPI_COMM_WORLD);
      });
      bool ok = said.empty();
      if (root) {
        ok = ok && c != nullptr && c->lin == s.m && c->col == s.n &&
             test_support::values_of(c) == want;
      } else {
        ok = ok && c == nullptr;
      }
      test_support::result_ptr owned(c);
      const std::string bad = mpi_test::failing_ranks(ok);
      EXPECT_EQ(bad, "") << p.name << " on " << s.name << ", " << mpi_test::ranks() << " ranks, "
                         << threads << " threads, overlap "
                         << (mpi_detail::overlap() ? "on" : "off") << ": wrong on rank(s) " << bad;
    }
  }
}

void check_blocks() {
  MPI_Comm grid = MPI_COMM_NULL;
  ASSERT_EQ(mpi_products::criar_grade(MPI_COMM_WORLD, &grid), MPI_SUCCESS);
  int dims[2] = {0, 0}, periods[2] = {0, 0}, coords[2] = {0, 0};
  MPI_Cart_get(grid, 2, dims, periods, coords);
  const int rank = mpi_test::rank();
  for (const auto& s : kShapes) {
    owned_matrix a(s.m, s.k);
    owned_matrix b(s.k, s.n);
    fill(a, 3, s.limits);
    fill(b, 4, s.limits);
    const auto want = test_support::reference_product(a.get(), b.get());
    const auto ab = mpi_products::bloco_do_rank(s.m, s.k, dims[0], dims[1], rank);
    const auto bb = mpi_products::bloco_do_rank(s.k, s.n, dims[0], dims[1], rank);
    const auto cb = mpi_products::bloco_do_rank(s.m, s.n, dims[0], dims[1], rank);
    // Each rank builds only its own blocks (empty blocks go in as null).
    auto block_of = [](const owned_matrix& whole, const dense_arith::bloco& blk, int32_t start) {
      const int32_t rows = blk.lin_fim - blk.lin_inicio, cols = blk.col_fim - blk.col_inicio;
      std::unique_ptr<owned_matrix> part;
      if (rows > 0 && cols > 0) {
        part = std::make_unique<owned_matrix>(rows, cols);
        for (int32_t i = 0; i < rows; ++i) {
          for (int32_t j = 0; j < cols; ++j) {
            part->at(i, j) = start < 0 ? whole.at(blk.lin_inicio + i, blk.col_inicio + j) : start;
          }
        }
      }
      return part;
    };
    auto my_a = block_of(a, ab, -1);
    auto my_b = block_of(b, bb, -1);
    auto my_c = block_of(a, cb, 7);  // c is added into, not overwritten
    int rc = 0;
    const std::string said = test_support::capture_stdout([&] {
      rc = mpi_products::multiplicarSUMMAblocos(
          my_a ? my_a->get() : nullptr, my_b ? my_b->get() : nullptr, my_c ? my_c->get() : nullptr,
          s.m, s.k, s.n, 2, grid);
    });
    bool ok = rc == 0 && said.empty();
    for (int32_t i = cb.lin_inicio; ok && my_c && i < cb.lin_fim; ++i) {
      for (int32_t j = cb.col_inicio; ok && j < cb.col_fim; ++j) {
        const uint32_t expected =
            static_cast<uint32_t>(want[static_cast<size_t>(i) * s.n + j]) + 7u;
        ok = my_c->at(i - cb.lin_inicio, j - cb.col_inicio) == static_cast<int32_t>(expected);
      }
    }
    const std::string bad = mpi_test::failing_ranks(ok);
    EXPECT_EQ(bad, "") << s.name << " on a " << dims[0] << "x" << dims[1] << " grid, overlap "
                       << (mpi_detail::overlap() ? "on" : "off") << ": wrong block on rank(s) "
                       << bad;
  }
  MPI_Comm_free(&grid);
}

TEST(MpiProducts, WholeFactorsOnRankZeroGiveTheReferenceProduct) { check_whole_products(); }

TEST(MpiProducts, BlocksStayOnTheirRanksAndAreAddedInto) { check_blocks(); }

// Without overlap every rank waits at other places (rank 0 for its sends, the
// others for all their blocks, everyone for each panel before multiplying it):
// the same messages must still meet, in an order that never leaves two ranks
// waiting on each other, and give the same bits.
TEST(MpiProducts, WithTheOverlapOffTheSameProductsGiveTheSameResults) {
  const overlap_off off;
  check_whole_products();
  check_blocks();
}

TEST(MpiOwnership, PartsDifferByAtMostOneAndTheFirstAreLonger) {
  struct {
    int32_t total, parts;
    std::vector<mpi_products::faixa> want;
  } const cases[] = {
      {10, 4, {{0, 3}, {3, 6}, {6, 8}, {8, 10}}},
      {2, 4, {{0, 1}, {1, 2}, {2, 2}, {2, 2}}},
      {1, 1, {{0, 1}}},
      {INT32_MAX, 2, {{0, 1073741824}, {1073741824, INT32_MAX}}},
  };
  for (const auto& c : cases) {
    for (int32_t p = 0; p < c.parts; ++p) {
      const auto got = mpi_products::faixa_de(c.total, c.parts, p);
      EXPECT_EQ(got.inicio, c.want[static_cast<size_t>(p)].inicio) << c.total << "/" << c.parts;
      EXPECT_EQ(got.fim, c.want[static_cast<size_t>(p)].fim) << c.total << "/" << c.parts;
    }
  }
  // Rank 4 of a 2x3 grid is grid row 1, column 1.
  const auto blk = mpi_products::bloco_do_rank(5, 7, 2, 3, 4);
  EXPECT_EQ((std::vector<int32_t>{blk.lin_inicio, blk.lin_fim, blk.col_inicio, blk.col_fim}),
            (std::vector<int32_t>{3, 5, 3, 5}));
}

TEST(MpiOwnership, TheGridNumbersRanksRowByRowAsTheOwnershipRuleAssumes) {
  MPI_Comm grid = MPI_COMM_NULL;
  ASSERT_EQ(mpi_products::criar_grade(MPI_COMM_WORLD, &grid), MPI_SUCCESS);
  int dims[2] = {0, 0}, periods[2] = {0, 0}, coords[2] = {0, 0};
  MPI_Cart_get(grid, 2, dims, periods, coords);
  EXPECT_EQ(dims[0] * dims[1], mpi_test::ranks());
  EXPECT_GE(dims[0], dims[1]);
  for (int r = 0; r < mpi_test::ranks(); ++r) {
    MPI_Cart_coords(grid, r, 2, coords);
    EXPECT_EQ(coords[0], r / dims[1]) << "rank " << r;
    EXPECT_EQ(coords[1], r % dims[1]) << "rank " << r;
  }
  MPI_Comm_free(&grid);
}

}  // namespace
