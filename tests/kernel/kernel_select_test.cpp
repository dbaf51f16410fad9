// Choosing the instruction-set path: the pure selection rule, what this machine
// offers, and forcing a path that cannot run.
#include <gtest/gtest.h>

#include <vector>

#include "block_case.hpp"
#include <dense/block_kernel.hpp>
#include "kernel/paths.hpp"
#include "support/capture.hpp"

namespace {

using block_kernel::cpu_features;
using block_kernel::path;
using block_kernel::select_path;

TEST(KernelSelect, PrefersTheWidestVectorsTheCpuHas) {
  EXPECT_EQ(select_path(cpu_features{false, false}), path::scalar);
  EXPECT_EQ(select_path(cpu_features{true, false}), path::avx2);
  EXPECT_EQ(select_path(cpu_features{true, true}), path::avx512);
  EXPECT_EQ(select_path(cpu_features{false, true}), path::avx512);
}

TEST(KernelSelect, HostFeaturesMatchTheCpu) {
  const cpu_features f = block_kernel::host_features();
#if defined(__x86_64__)
  EXPECT_EQ(f.avx2, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(f.avx512f, __builtin_cpu_supports("avx512f") != 0);
#endif
  EXPECT_TRUE(block_kernel::path_available(path::scalar));
  EXPECT_EQ(block_kernel::path_available(path::avx2), f.avx2);
  EXPECT_EQ(block_kernel::path_available(path::avx512), f.avx512f);
  EXPECT_TRUE(block_kernel::path_available(select_path(f)));
}

TEST(KernelSelect, PathNames) {
  EXPECT_STREQ(block_kernel::path_name(path::scalar), "scalar");
  EXPECT_STREQ(block_kernel::path_name(path::avx2), "avx2");
  EXPECT_STREQ(block_kernel::path_name(path::avx512), "avx512");
  EXPECT_STREQ(block_kernel::path_name(static_cast<path>(9)), "?");
}

TEST(KernelSelect, AnUnavailablePathIsRefusedSilently) {
  kernel_test::block_case t(5, 5, 5, 5, 5, 5, 1U);
  const std::vector<int32_t> before = t.c.values();
  int rc = 0;
  EXPECT_EQ(test_support::capture_stdout([&] {
              rc = block_kernel::mmsubmatriz_on(static_cast<path>(9), &t.a_desc, &t.b_desc,
                                                &t.c_desc);
            }),
            "");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(t.c.values(), before);
  for (path p : {path::avx2, path::avx512}) {
    if (block_kernel::path_available(p)) continue;
    EXPECT_EQ(block_kernel::mmsubmatriz_on(p, &t.a_desc, &t.b_desc, &t.c_desc), -1);
    EXPECT_EQ(t.c.values(), before);
  }
}

TEST(KernelSelect, EveryPathGivesTheScalarPathsBits) {
  // The scalar path is the truth: each other path must agree with it bit for
  // bit on a block large enough for every loop and edge of the blocking.
  kernel_test::block_case truth(150, 290, 290, 140, 160, 150, 77U, INT32_MIN, INT32_MAX);
  truth.set_block(3, 149, 1, 289, 2, 139);
  ASSERT_EQ(block_kernel::mmsubmatriz_on(path::scalar, &truth.a_desc, &truth.b_desc, &truth.c_desc),
            0);
  for (path p : {path::avx2, path::avx512}) {
    if (!block_kernel::path_available(p)) continue;
    SCOPED_TRACE(block_kernel::path_name(p));
    kernel_test::block_case t(150, 290, 290, 140, 160, 150, 77U, INT32_MIN, INT32_MAX);
    t.set_block(3, 149, 1, 289, 2, 139);
    ASSERT_EQ(block_kernel::mmsubmatriz_on(p, &t.a_desc, &t.b_desc, &t.c_desc), 0);
    EXPECT_EQ(t.c.values(), truth.c.values());
  }
}

}  // namespace
