// The kernel when the heap refuses its packing buffers: the same sums, computed without
// buffers, and still no message. Linked with -Wl,--wrap=malloc so that the
// library's malloc calls can be made to fail on demand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dense/block_kernel.hpp>
#include <dense/team_kernel.hpp>
#include <vector>

#include "block_case.hpp"
#include "kernel/testing.hpp"
#include "support/capture.hpp"

namespace {
bool g_refuse_malloc = false;  // test-only switch; the library itself keeps no state
int g_refused = 0;
}  // namespace

// The names --wrap=malloc gives the stand-in and the real one: reserved on purpose.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void* __real_malloc(size_t size);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void* __wrap_malloc(size_t size) {
  if (g_refuse_malloc) {
    ++g_refused;
    return nullptr;
  }
  return __real_malloc(size);
}

namespace {

using block_kernel::path;

TEST(KernelWithoutMemory, FallsBackToThePlainLoopOnEveryPath) {
  // team 0: the sequential kernel; otherwise the team kernel on that many threads.
  for (int32_t row = 0; row < block_kernel::path_count(); ++row) {
    const auto p = static_cast<path>(row);
    for (int32_t team : {0, 1, 3}) {
      if (!block_kernel::path_available(p)) {
        continue;
      }
      SCOPED_TRACE(testing::Message() << block_kernel::path_name(p) << " team " << team);
      kernel_test::block_case t(30, 41, 41, 35, 32, 37, 8U);
      t.set_block(1, 29, 2, 40, 3, 34);
      const std::vector<int32_t> want = t.expected_c();
      int rc = 1;
      g_refused = 0;
      std::fflush(stdout);
      g_refuse_malloc = true;
      rc = team == 0
               ? block_kernel::mmsubmatriz_on(p, &t.a_desc, &t.b_desc, &t.c_desc)
               : team_kernel::detail::mmsubmatrizOMP_on(p, &t.a_desc, &t.b_desc, &t.c_desc, team);
      g_refuse_malloc = false;
      EXPECT_GT(g_refused, 0) << "the kernel asked for no buffer, so this test checks nothing";
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(t.c.values(), want);
    }
  }
}

TEST(KernelWithoutMemory, PrintsNothing) {
  kernel_test::block_case t(9, 9, 9, 9, 9, 9, 4U);
  const std::vector<int32_t> want = t.expected_c();
  const std::string out = test_support::capture_stdout([&] {
    g_refuse_malloc = true;
    block_kernel::mmsubmatriz(&t.a_desc, &t.b_desc, &t.c_desc);
    g_refuse_malloc = false;
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(t.c.values(), want);
}

TEST(KernelWithoutMemory, MultiplicarKernelOMPReportsAResultItCannotGet) {
  test_support::owned_matrix a(4, 5);
  test_support::owned_matrix b(5, 6);
  dense_core::matriz* r = a.get();
  const std::string out = test_support::capture_stdout([&] {
    g_refuse_malloc = true;
    r = team_kernel::multiplicarKernelOMP(a.get(), b.get(), 2);
    g_refuse_malloc = false;
  });
  EXPECT_EQ(out, "ERROR: Out of memory\n");
  EXPECT_EQ(r, nullptr);
}

}  // namespace
