// The OpenMP product and its block variant.
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dense/dense_arith.hpp>
#include <dense/team_rows.hpp>

#include "common/matrix_records.hpp"
#include "common/omp_team_end.hpp"
#include "product_cases.hpp"

namespace {

using parallel_cases::expect_right_product;
using parallel_cases::kMismatch;
using parallel_cases::shapes;
using parallel_cases::thread_counts;
using test_support::capture_stdout;
using test_support::owned_matrix;

// multiplicarOMP into a fresh zeroed matrix, shaped like the other products.
dense_core::matriz* omp_product(const dense_core::matriz* a, const dense_core::matriz* b,
                                int32_t n) {
  dense_core::matriz* c = dense_detail::new_zeroed_matrix(a->lin, b->col);
  EXPECT_EQ(team_rows::multiplicarOMP(a, b, c, n), 0);
  return c;
}

TEST(MultiplicarOMP, MatchesTheReferenceOnEveryShapeAndThreadCount) {
  uint32_t seed = 3000;
  for (const auto& s : shapes()) {
    for (int32_t n : thread_counts(s)) {
      expect_right_product(omp_product, s, n, seed++);
    }
  }
}

TEST(MultiplicarOMP, ThreadCountsBelowOneUseTheDefaultTeam) {
  for (int32_t n : {0, -1, INT32_MIN}) {
    expect_right_product(omp_product, {9, 4, 3}, n, 41);
  }
}

TEST(MultiplicarOMP, AHugeThreadCountIsHarmless) {
  expect_right_product(omp_product, {5, 3, 4}, INT32_MAX, 42);
}

TEST(MultiplicarOMP, AsManyThreadsAsAHundredThousandRowsGiveTheProduct) {
  // A team that size cannot be created here; the runtime used to end the
  // process (or crash) when asked for it.
  expect_right_product(omp_product, {100000, 1, 1}, 100000, 43);
}

// In a child: leaves 256 MiB of address space beyond what the process holds,
// room for a few dozen thread stacks, then asks for a hundred thousand
// threads. Prints "rc 0" when the product came out right.
void huge_team_under_low_address_space() {
  constexpr int32_t n = 100000;
  owned_matrix a(n, 1), b(1, 1, {3}), c(n, 1);
  for (int32_t i = 0; i < n; ++i) {
    a.at(i, 0) = i;
  }
  long long pages = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%lld", &pages) != 1) {
    std::exit(3);
  }
  std::fclose(statm);
  const auto room = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + (256 << 20));
  const rlimit low{room, room};
  if (setrlimit(RLIMIT_AS, &low) != 0) {
    std::exit(4);
  }
  const int32_t rc = team_rows::multiplicarOMP(a.get(), b.get(), c.get(), n);
  for (int32_t i = 0; i < n; ++i) {
    if (c.at(i, 0) != 3 * i) {
      std::exit(2);
    }
  }
  std::printf("rc %d", rc);
  std::exit(0);
}

// Sanitizers map terabytes of shadow memory and give every thread buffers of
// their own, so an address-space limit says nothing about thread stacks there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DENSE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DENSE_SANITIZED 1
#endif
#endif

TEST(MultiplicarOMPDeathTest, AHugeTeamUnderALowAddressSpaceLimitStillMultiplies) {
#ifdef DENSE_SANITIZED
  GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
#endif
  EXPECT_EXIT_STDOUT(huge_team_under_low_address_space(), 0, "rc 0");
}

// Its members spin on after the region; unrecorded, a small team-kernel call
// right after would count them as other programs' load and run alone.
TEST(MultiplicarOMP, LeavesTheRecordOfItsTeamWhoseMembersMayStillSpin) {
  expect_right_product(omp_product, {6, 5, 4}, 3, 77);
  const int64_t now = dense_detail::monotonic_ns();
  EXPECT_EQ(dense_detail::omp_members_spinning(now), 2);
  EXPECT_EQ(dense_detail::omp_members_spinning(now + dense_detail::kPoolSpinNs), 0);
}

TEST(MultiplicarOMP, WrapsAt32Bits) {
  expect_right_product(omp_product, {10, 7, 6}, 4, 97, INT32_MIN, INT32_MAX);
}

TEST(MultiplicarOMP, AddsOntoWhatCHolds) {
  owned_matrix a(10, 3), b(3, 4), c(10, 4);
  test_support::fill_random(a, 43);
  test_support::fill_random(b, 44);
  ASSERT_EQ(team_rows::multiplicarOMP(a.get(), b.get(), c.get(), 4), 0);
  ASSERT_EQ(team_rows::multiplicarOMP(a.get(), b.get(), c.get(), 3), 0);
  auto want = test_support::reference_product(a.get(), b.get());
  for (auto& v : want) {
    v = static_cast<int32_t>(2u * static_cast<uint32_t>(v));
  }
  EXPECT_EQ(c.values(), want);
}

TEST(MultiplicarOMP, ALargerCKeepsEverythingOutsideTheProduct) {
  owned_matrix a(2, 2, {1, 2, 3, 4}), b(2, 2, {5, 6, 7, 8});
  owned_matrix c(3, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1});
  ASSERT_EQ(team_rows::multiplicarOMP(a.get(), b.get(), c.get(), 2), 0);
  EXPECT_EQ(c.values(), (std::vector<int32_t>{20, 23, 1, 44, 51, 1, 1, 1, 1}));
}

TEST(MultiplicarOMP, NoInnerDimensionLeavesCUnchanged) {
  owned_matrix b(1, 3);  // only its column count matters
  dense_core::matriz b0{b.get()->mat, 0, 3};
  owned_matrix a(2, 1);
  dense_core::matriz a0{a.get()->mat, 2, 0};
  owned_matrix c(2, 3, {4, 4, 4, 4, 4, 4});
  EXPECT_EQ(team_rows::multiplicarOMP(&a0, &b0, c.get(), 2), 0);
  EXPECT_EQ(c.values(), std::vector<int32_t>(6, 4));
}

TEST(MultiplicarOMP, RefusesMismatchesAndASmallResultWithoutTouchingC) {
  owned_matrix a(3, 4), b(4, 2), wrong_b(3, 2);
  test_support::fill_random(a, 45);
  test_support::fill_random(b, 46);
  owned_matrix c(3, 2, {9, 9, 9, 9, 9, 9}), short_c(2, 2, {9, 9, 9, 9}), narrow_c(3, 1, {9, 9, 9});
  int32_t rc = 0;
  EXPECT_EQ(
      capture_stdout([&] { rc = team_rows::multiplicarOMP(a.get(), wrong_b.get(), c.get(), 2); }),
      kMismatch);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(
      capture_stdout([&] { rc = team_rows::multiplicarOMP(a.get(), b.get(), short_c.get(), 2); }),
      kMismatch);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(
      capture_stdout([&] { rc = team_rows::multiplicarOMP(a.get(), b.get(), narrow_c.get(), 2); }),
      kMismatch);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(c.values(), std::vector<int32_t>(6, 9));
  EXPECT_EQ(short_c.values(), std::vector<int32_t>(4, 9));
  EXPECT_EQ(narrow_c.values(), std::vector<int32_t>(3, 9));

  // c may not be one of the factors.
  owned_matrix sq(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(
      capture_stdout([&] { rc = team_rows::multiplicarOMP(sq.get(), sq.get(), sq.get(), 2); }),
      kMismatch);
  EXPECT_EQ(rc, -1);
  owned_matrix id(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  EXPECT_EQ(
      capture_stdout([&] { rc = team_rows::multiplicarOMP(id.get(), sq.get(), sq.get(), 2); }),
      kMismatch);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(sq.values(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));

  dense_core::matriz hollow{nullptr, 3, 2};
  EXPECT_EQ(capture_stdout([&] { rc = team_rows::multiplicarOMP(a.get(), b.get(), &hollow, 2); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(capture_stdout([&] { rc = team_rows::multiplicarOMP(nullptr, b.get(), c.get(), 2); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(rc, -1);
}

TEST(MultiplicarOMPblocos, HandsTheDescriptorsToTheKernel) {
  owned_matrix a(4, 6), b(6, 5);
  test_support::fill_random(a, 47);
  test_support::fill_random(b, 48);
  dense_arith::submatriz** ap = dense_arith::particionar_matriz(a.get()->mat, 4, 6, 1, 3);
  dense_arith::submatriz** bp = dense_arith::particionar_matriz(b.get()->mat, 6, 5, 0, 3);
  dense_arith::submatriz** cp = dense_arith::csubmatrizv2(4, 5, 1);
  // Every band pair added into the one part gives the whole product.
  for (int32_t t = 0; t < 3; ++t) {
    EXPECT_EQ(team_rows::multiplicarOMPblocos(ap[t], bp[t], cp[0]), 0);
  }
  EXPECT_EQ(test_support::values_of(cp[0]->matriz),
            test_support::reference_product(a.get(), b.get()));
  // A refusal of the kernel is the caller's -1, not a success.
  int32_t rc = -5;
  EXPECT_EQ(capture_stdout([&] { rc = team_rows::multiplicarOMPblocos(nullptr, bp[0], cp[0]); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(rc, -1);
  rc = -5;
  EXPECT_EQ(capture_stdout([&] { rc = team_rows::multiplicarOMPblocos(cp[0], cp[0], cp[0]); }),
            kMismatch);
  EXPECT_EQ(rc, -1);
  dense_arith::detail::release_parts(cp, 1);
  dense_arith::detail::release_partition(bp, 3);
  dense_arith::detail::release_partition(ap, 3);
}

}  // namespace
