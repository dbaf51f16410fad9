// How multiplicarOMP shares the rows out, observed through stand-ins for the
// GNU OpenMP entry points that g++ compiles the region into (this program is
// linked with --wrap for GOMP_parallel, omp_get_num_threads and
// omp_get_thread_num). A one-thread team that is told it is thread t of T
// computes exactly the rows that thread t of a T-thread team owns.
#include <omp.h>

#include <algorithm>
#include <climits>
#include <dense/team_rows.hpp>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"

// The linker's --wrap names the stand-ins __wrap_X and the runtime's own
// entry points __real_X: names that are reserved, on purpose.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void __real_GOMP_parallel(void (*fn)(void*), void* data, unsigned num_threads, unsigned flags);
int __real_omp_get_num_threads();
int __real_omp_get_thread_num();
}

namespace {

struct fake_team {
  bool active = false;
  int size = 1;
  int me = 0;
};
fake_team g_fake;                   // set only while no region runs
std::vector<unsigned> g_requested;  // team sizes asked of the runtime

}  // namespace

extern "C" {
void __wrap_GOMP_parallel(void (*fn)(void*), void* data, unsigned num_threads, unsigned flags) {
  g_requested.push_back(num_threads);
  __real_GOMP_parallel(fn, data, num_threads, flags);
}
int __wrap_omp_get_num_threads() {
  return g_fake.active ? g_fake.size : __real_omp_get_num_threads();
}
int __wrap_omp_get_thread_num() { return g_fake.active ? g_fake.me : __real_omp_get_thread_num(); }
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

using test_support::owned_matrix;

// Rows that thread `me` of a `size`-thread team writes in a `rows`-row product.
std::vector<int32_t> rows_of(int size, int me, int32_t rows) {
  owned_matrix a(rows, 3), b(3, 4), c(rows, 4);
  test_support::fill_random(a, 5, 1, 9);  // positive: every product row is non-zero
  test_support::fill_random(b, 6, 1, 9);
  g_fake = {true, size, me};
  const int32_t rc = team_rows::multiplicarOMP(a.get(), b.get(), c.get(), 1);
  g_fake = {};
  EXPECT_EQ(rc, 0);
  const auto want = test_support::reference_product(a.get(), b.get());
  std::vector<int32_t> written;
  for (int32_t i = 0; i < rows; ++i) {
    if (c.at(i, 0) == 0) {
      continue;
    }
    written.push_back(i);
    for (int32_t j = 0; j < 4; ++j) {
      EXPECT_EQ(c.at(i, j), want[static_cast<size_t>(i * 4 + j)]);
    }
  }
  return written;
}

TEST(TeamSplit, TenRowsOnFourThreadsGiveTheFirstTwoThreadsOneRowMore) {
  EXPECT_EQ(rows_of(4, 0, 10), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(rows_of(4, 1, 10), (std::vector<int32_t>{3, 4, 5}));
  EXPECT_EQ(rows_of(4, 2, 10), (std::vector<int32_t>{6, 7}));
  EXPECT_EQ(rows_of(4, 3, 10), (std::vector<int32_t>{8, 9}));
}

TEST(TeamSplit, ThreadsBeyondTheRowsGetNone) {
  for (int me = 0; me < 4; ++me) {
    EXPECT_EQ(rows_of(6, me, 4), std::vector<int32_t>{me});
  }
  EXPECT_TRUE(rows_of(6, 4, 4).empty());
  EXPECT_TRUE(rows_of(6, 5, 4).empty());
}

TEST(TeamSplit, TeamSizeIsTheRequestCappedAtTheRows) {
  owned_matrix a(10, 2), b(2, 2), c(10, 2);
  const auto requested = [&](int32_t n) {
    g_requested.clear();
    EXPECT_EQ(team_rows::multiplicarOMP(a.get(), b.get(), c.get(), n), 0);
    return g_requested;
  };
  EXPECT_EQ(requested(3), std::vector<unsigned>{3});
  EXPECT_EQ(requested(10), std::vector<unsigned>{10});
  EXPECT_EQ(requested(11), std::vector<unsigned>{10});
  EXPECT_EQ(requested(INT32_MAX), std::vector<unsigned>{10});
  // Below 1: the runtime's default team (as large as the rows allow).
  const auto fallback = static_cast<unsigned>(std::min(omp_get_max_threads(), 10));
  EXPECT_EQ(requested(0), std::vector<unsigned>{fallback});
  EXPECT_EQ(requested(-4), std::vector<unsigned>{fallback});
  // A refused product opens no region.
  owned_matrix wrong(3, 2);
  g_requested.clear();
  int32_t rc = 0;
  EXPECT_EQ(test_support::capture_stdout(
                [&] { rc = team_rows::multiplicarOMP(a.get(), wrong.get(), c.get(), 2); }),
            "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n");
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(g_requested.empty());
}

}  // namespace
