// Choosing the instruction-set path: the pure selection rule, what this machine
// offers, and forcing a path that cannot run.
#include <gtest/gtest.h>

#include <dense/block_kernel.hpp>
#include <fstream>
#include <string>
#include <vector>

#include "block_case.hpp"
#include "kernel/testing.hpp"
#include "support/capture.hpp"

namespace {

using block_kernel::cpu_features;
using block_kernel::path;
using block_kernel::select_path;

TEST(KernelSelect, PrefersTheWidestVectorsTheCpuHas) {
  EXPECT_EQ(select_path(cpu_features{false, false, false, false, false}), path::scalar_i32);
  EXPECT_EQ(select_path(cpu_features{true, false, false, false, false}), path::avx2_i32);
  EXPECT_EQ(select_path(cpu_features{true, true, false, false, false}), path::avx512_i32);
  EXPECT_EQ(select_path(cpu_features{false, true, false, false, false}), path::avx512_i32);
  // The 16-bit features never change the int32 path.
  EXPECT_EQ(select_path(cpu_features{true, false, false, false, true}), path::avx2_i32);
  EXPECT_EQ(select_path(cpu_features{true, true, true, true, true}), path::avx512_i32);
}

TEST(KernelSelect, NarrowPathPrefersZmmThenFusedMultiplyAdd) {
  struct row {
    cpu_features f;
    path want;
  };
  for (const row& r : std::vector<row>{
           {{false, false, false, false, false}, path::scalar_i32},  // no 16-bit path, no scan
           {{true, false, false, false, false}, path::avx2_i16},
           {{true, false, false, false, true}, path::avxvnni_i16},
           {{true, true, false, false, false},
            path::avx2_i16},  // AVX-512F alone has no vpmaddwd on zmm
           {{true, true, false, false, true}, path::avxvnni_i16},
           {{true, true, true, false, false}, path::avx512bw_i16},
           {{true, true, true, false, true}, path::avx512bw_i16},
           {{true, true, true, true, false}, path::avx512vnni_i16},
           {{true, true, true, true, true}, path::avx512vnni_i16},  // this kind of machine: Zen 4/5
           {{false, false, false, false, true}, path::scalar_i32}}) {  // AVX-VNNI implies AVX2
    const cpu_features f = r.f;
    SCOPED_TRACE(testing::Message()
                 << f.avx2 << f.avx512f << f.avx512bw << f.avx512vnni << f.avxvnni);
    EXPECT_EQ(block_kernel::select_narrow_path(f), r.want);
  }
}

// Whether the kernel's flags line in /proc/cpuinfo lists `flag`: a second
// opinion on features that not every compiler's __builtin_cpu_supports knows.
bool cpuinfo_flag(const std::string& flag) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("flags", 0) == 0) {
      return (line + " ").find(" " + flag + " ") != std::string::npos;
    }
  }
  return false;
}

TEST(KernelSelect, HostFeaturesMatchTheCpu) {
  const cpu_features f = block_kernel::host_features();
#if defined(__x86_64__)
  EXPECT_EQ(f.avx2, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(f.avx512f, __builtin_cpu_supports("avx512f") != 0);
  EXPECT_EQ(f.avx512bw, __builtin_cpu_supports("avx512bw") != 0);
  EXPECT_EQ(f.avx512vnni, __builtin_cpu_supports("avx512vnni") != 0);
  EXPECT_EQ(f.avxvnni, cpuinfo_flag("avx_vnni"));
#endif
  EXPECT_TRUE(block_kernel::path_available(path::scalar_i32));
  EXPECT_TRUE(block_kernel::path_available(path::scalar_i16));
  EXPECT_EQ(block_kernel::path_available(path::avx2_i32), f.avx2);
  EXPECT_EQ(block_kernel::path_available(path::avx512_i32), f.avx512f);
  EXPECT_EQ(block_kernel::path_available(path::avx2_i16), f.avx2);
  EXPECT_EQ(block_kernel::path_available(path::avx512bw_i16), f.avx512bw);
  EXPECT_EQ(block_kernel::path_available(path::avx512vnni_i16), f.avx512vnni);
  EXPECT_EQ(block_kernel::path_available(path::avxvnni_i16), f.avxvnni);
  EXPECT_TRUE(block_kernel::path_available(select_path(f)));
  EXPECT_TRUE(block_kernel::path_available(block_kernel::select_narrow_path(f)));
}

TEST(KernelSelect, PathNames) {
  EXPECT_STREQ(block_kernel::path_name(path::scalar_i32), "scalar_i32");
  EXPECT_STREQ(block_kernel::path_name(path::avx2_i32), "avx2_i32");
  EXPECT_STREQ(block_kernel::path_name(path::avx512_i32), "avx512_i32");
  EXPECT_STREQ(block_kernel::path_name(path::scalar_i16), "scalar_i16");
  EXPECT_STREQ(block_kernel::path_name(path::avx2_i16), "avx2_i16");
  EXPECT_STREQ(block_kernel::path_name(path::avx512bw_i16), "avx512bw_i16");
  EXPECT_STREQ(block_kernel::path_name(path::avx512vnni_i16), "avx512vnni_i16");
  EXPECT_STREQ(block_kernel::path_name(path::avxvnni_i16), "avxvnni_i16");
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
  for (path p : {path::avx2_i32, path::avx512_i32, path::avx2_i16, path::avx512bw_i16,
                 path::avx512vnni_i16, path::avxvnni_i16}) {
    if (block_kernel::path_available(p)) {
      continue;
    }
    EXPECT_EQ(block_kernel::mmsubmatriz_on(p, &t.a_desc, &t.b_desc, &t.c_desc), -1);
    EXPECT_EQ(t.c.values(), before);
  }
}

TEST(KernelSelect, EveryPathGivesTheScalarPathsBits) {
  // The scalar path is the truth: each other path must agree with it bit for
  // bit on a block large enough for every loop and edge of the blocking.
  kernel_test::block_case truth(150, 290, 290, 140, 160, 150, 77U, INT32_MIN, INT32_MAX);
  truth.set_block(3, 149, 1, 289, 2, 139);
  ASSERT_EQ(
      block_kernel::mmsubmatriz_on(path::scalar_i32, &truth.a_desc, &truth.b_desc, &truth.c_desc),
      0);
  for (path p : {path::avx2_i32, path::avx512_i32}) {
    if (!block_kernel::path_available(p)) {
      continue;
    }
    SCOPED_TRACE(block_kernel::path_name(p));
    kernel_test::block_case t(150, 290, 290, 140, 160, 150, 77U, INT32_MIN, INT32_MAX);
    t.set_block(3, 149, 1, 289, 2, 139);
    ASSERT_EQ(block_kernel::mmsubmatriz_on(p, &t.a_desc, &t.b_desc, &t.c_desc), 0);
    EXPECT_EQ(t.c.values(), truth.c.values());
  }
}

}  // namespace
