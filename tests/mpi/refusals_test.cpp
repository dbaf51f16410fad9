// Refusals of the MPI products: agreed by every rank, printed once by rank 0, and nobody left
// waiting.
//
// A rank left waiting would hang this program; CTest's timeout turns that into a failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <dense/mpi_products.hpp>
#include <functional>
#include <string>

#include "mpi/mpi_test_support.hpp"
#include "support/capture.hpp"
#include "support/matrices.hpp"

namespace {

using dense_core::matriz;
using test_support::owned_matrix;

const std::string kMissing = "ERRO: Matriz inexistente.\n";
const std::string kMismatch = "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n";

std::string mpi_error_line(int code) {
  char text[MPI_MAX_ERROR_STRING] = {};
  int length = 0;
  MPI_Error_string(code, text, &length);
  return "ERRO: MPI: " + std::string(text, static_cast<size_t>(length)) + "\n";
}

// What the call printed and whether it gave nothing back, on this rank.
struct outcome {
  std::string said;
  bool refused = false;
};

// Rank 0 printed `rank0_says` (others `others_say`) and every rank refused.
void expect_everywhere(const char* what, const outcome& o, const std::string& rank0_says,
                       const std::string& others_say) {
  const bool ok = o.refused && o.said == (mpi_test::rank() == 0 ? rank0_says : others_say);
  const std::string bad = mpi_test::failing_ranks(ok);
  EXPECT_EQ(bad, "") << what << ": wrong on rank(s) " << bad << "; rank 0 said '"
                     << (mpi_test::rank() == 0 ? o.said : "") << "'";
}

TEST(MpiRefusals, WholeProductsRefuseOnRankZerosWordAndEveryRankReturnsNull) {
  owned_matrix a(3, 4), b(4, 2), wrong(3, 2);
  matriz freed{nullptr, 3, 4};
  struct {
    const char* name;
    const matriz* a;
    const matriz* b;
    const std::string& says;
  } const cases[] = {
      {"missing left factor", nullptr, b.get(), kMissing},
      {"missing right factor", a.get(), nullptr, kMissing},
      {"factor without storage", &freed, b.get(), kMissing},
      {"columns unequal to rows", a.get(), wrong.get(), kMismatch},
  };
  const std::function<matriz*(const matriz*, const matriz*, int32_t, MPI_Comm)> products[] = {
      mpi_products::multiplicarMPI, mpi_products::multiplicarSUMMA};
  for (const auto& product : products) {
    for (const auto& c : cases) {
      // The other ranks pass good factors: only rank 0's count.
      const bool root = mpi_test::rank() == 0;
      outcome o;
      matriz* got = nullptr;
      o.said = test_support::capture_stdout(
          [&] { got = product(root ? c.a : a.get(), root ? c.b : b.get(), 1, MPI_COMM_WORLD); });
      o.refused = got == nullptr;
      test_support::result_ptr owned(got);
      expect_everywhere(c.name, o, c.says, "");
    }
    // No communicator at all: each rank says so itself.
    outcome o;
    o.said = test_support::capture_stdout(
        [&] { o.refused = product(a.get(), b.get(), 1, MPI_COMM_NULL) == nullptr; });
    const std::string line = mpi_error_line(MPI_ERR_COMM);
    expect_everywhere("MPI_COMM_NULL", o, line, line);
  }
}

TEST(MpiRefusals, BlockedSummaAgreesOnAnyRanksBadBlock) {
  MPI_Comm grid = MPI_COMM_NULL;
  ASSERT_EQ(mpi_products::criar_grade(MPI_COMM_WORLD, &grid), MPI_SUCCESS);
  int dims[2] = {0, 0}, periods[2] = {0, 0}, coords[2] = {0, 0};
  MPI_Cart_get(grid, 2, dims, periods, coords);
  const int rank = mpi_test::rank();
  const bool last = rank == mpi_test::ranks() - 1;
  // 8x8 times 8x8: every rank of every grid up to 4 ranks has non-empty blocks.
  constexpr int32_t kN = 8;
  auto block = [&](int32_t extra_rows) {
    const auto blk = mpi_products::bloco_do_rank(kN, kN, dims[0], dims[1], rank);
    return std::make_unique<owned_matrix>(blk.lin_fim - blk.lin_inicio + extra_rows,
                                          blk.col_fim - blk.col_inicio);
  };
  auto a = block(0), b = block(0), c = block(0), too_tall = block(1);
  struct {
    const char* name;
    const matriz* a;  // what the last rank passes as a
    int32_t k;        // what the last rank passes as k
    MPI_Comm comm;
    const std::string says;
  } const cases[] = {
      {"the last rank's block missing", nullptr, kN, grid, kMissing},
      {"the last rank's block of the wrong size", too_tall->get(), kN, grid, kMismatch},
      {"the last rank disagreeing on k", a->get(), kN + 1, grid, kMismatch},
      {"a dimension of 0", a->get(), 0, grid, kMismatch},
      {"a communicator without a grid", a->get(), kN, MPI_COMM_WORLD,
       mpi_error_line(MPI_ERR_TOPOLOGY)},
  };
  for (const auto& cs : cases) {
    const bool zero_everywhere = cs.k == 0;
    const matriz* my_a = last ? cs.a : a->get();
    const int32_t my_k = last || zero_everywhere ? cs.k : kN;
    outcome o;
    o.said = test_support::capture_stdout([&] {
      o.refused = mpi_products::multiplicarSUMMAblocos(my_a, b->get(), c->get(), kN, my_k, kN, 1,
                                                       cs.comm) == -1;
    });
    expect_everywhere(cs.name, o, cs.says, "");
  }
  MPI_Comm_free(&grid);
}

}  // namespace
