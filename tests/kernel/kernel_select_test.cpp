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
using block_kernel::path_name;
using block_kernel::select_path;
namespace feature = block_kernel::feature;

constexpr cpu_features kAvx2 = feature::avx2;
constexpr cpu_features kAvx512f = feature::avx512f;
constexpr cpu_features kAvx512bw = feature::avx512bw;
constexpr cpu_features kAvx512vnni = feature::avx512vnni;
constexpr cpu_features kAvxvnni = feature::avxvnni;
constexpr cpu_features kEvery = kAvx2 | kAvx512f | kAvx512bw | kAvx512vnni | kAvxvnni;

TEST(KernelSelect, PrefersTheWidestVectorsTheCpuHas) {
  struct row {
    cpu_features f;
    const char* want;
  };
  for (const row& r : std::vector<row>{{0, "scalar_i32"},
                                       {kAvx2, "avx2_i32"},
                                       {kAvx2 | kAvx512f, "avx512_i32"},
                                       {kAvx512f, "avx512_i32"},
                                       // The 16-bit features never change the int32 path.
                                       {kAvx2 | kAvxvnni, "avx2_i32"},
                                       {kEvery, "avx512_i32"}}) {
    SCOPED_TRACE(testing::Message() << "features " << r.f);
    EXPECT_STREQ(path_name(select_path(r.f)), r.want);
  }
}

TEST(KernelSelect, NarrowPathPrefersZmmThenFusedMultiplyAdd) {
  struct row {
    cpu_features f;
    const char* want;
  };
  for (const row& r :
       std::vector<row>{{0, "scalar_i32"},  // no 16-bit path, no scan
                        {kAvx2, "avx2_i16"},
                        {kAvx2 | kAvxvnni, "avxvnni_i16"},
                        {kAvx2 | kAvx512f, "avx2_i16"},  // AVX-512F alone has no vpmaddwd on zmm
                        {kAvx2 | kAvx512f | kAvxvnni, "avxvnni_i16"},
                        {kAvx2 | kAvx512f | kAvx512bw, "avx512bw_i16"},
                        {kAvx2 | kAvx512f | kAvx512bw | kAvxvnni, "avx512bw_i16"},
                        {kAvx2 | kAvx512f | kAvx512bw | kAvx512vnni, "avx512vnni_i16"},
                        {kEvery, "avx512vnni_i16"},   // this kind of machine: Zen 4/5
                        {kAvxvnni, "scalar_i32"}}) {  // AVX-VNNI implies AVX2
    SCOPED_TRACE(testing::Message() << "features " << r.f);
    EXPECT_STREQ(path_name(block_kernel::select_narrow_path(r.f)), r.want);
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

// Each path by name with the features it needs: a row of the registry that
// asks for the wrong features would run an instruction the CPU lacks.
TEST(KernelSelect, HostFeaturesMatchTheCpuAndEachPathRunsWhereItsFeaturesAre) {
  const cpu_features f = block_kernel::host_features();
#if defined(__x86_64__)
  EXPECT_EQ((f & kAvx2) != 0, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ((f & kAvx512f) != 0, __builtin_cpu_supports("avx512f") != 0);
  EXPECT_EQ((f & kAvx512bw) != 0, __builtin_cpu_supports("avx512bw") != 0);
  EXPECT_EQ((f & kAvx512vnni) != 0, __builtin_cpu_supports("avx512vnni") != 0);
  EXPECT_EQ((f & kAvxvnni) != 0, cpuinfo_flag("avx_vnni"));
#endif
  struct row {
    const char* name;
    bool runs;
  };
  const auto has = [f](cpu_features need) { return (f & need) == need; };
  for (const row& r : std::vector<row>{{"scalar_i32", true},
                                       {"scalar_i16", true},
                                       {"avx2_i32", has(kAvx2)},
                                       {"avx512_i32", has(kAvx512f)},
                                       {"avx2_i16", has(kAvx2)},
                                       {"avx512bw_i16", has(kAvx512f | kAvx512bw)},
                                       {"avx512vnni_i16", has(kAvx512bw | kAvx512vnni)},
                                       {"avxvnni_i16", has(kAvx2 | kAvxvnni)}}) {
    SCOPED_TRACE(r.name);
    const path p = block_kernel::path_named(r.name);
    EXPECT_STREQ(path_name(p), r.name);
    EXPECT_EQ(block_kernel::path_available(p), r.runs);
  }
  EXPECT_EQ(block_kernel::path_count(), 8);
  EXPECT_TRUE(block_kernel::path_available(select_path(f)));
  EXPECT_TRUE(block_kernel::path_available(block_kernel::select_narrow_path(f)));
  EXPECT_FALSE(block_kernel::path_picked(block_kernel::path_named("scalar_i16")));
}

TEST(KernelSelect, ValuesAndNamesOutsideTheRegistryNameNoPath) {
  const path none = block_kernel::path_named("avx1024_i32");
  EXPECT_STREQ(path_name(none), "?");
  EXPECT_STREQ(path_name(static_cast<path>(block_kernel::path_count())), "?");
  EXPECT_FALSE(block_kernel::path_available(none));
  EXPECT_FALSE(block_kernel::is_narrow(none));
}

TEST(KernelSelect, AnUnavailablePathIsRefusedSilently) {
  kernel_test::block_case t(5, 5, 5, 5, 5, 5, 1U);
  const std::vector<int32_t> before = t.c.values();
  int rc = 0;
  EXPECT_EQ(test_support::capture_stdout([&] {
              rc = block_kernel::mmsubmatriz_on(static_cast<path>(block_kernel::path_count()),
                                                &t.a_desc, &t.b_desc, &t.c_desc);
            }),
            "");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(t.c.values(), before);
  for (int32_t row = 0; row < block_kernel::path_count(); ++row) {
    const auto p = static_cast<path>(row);
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
  ASSERT_EQ(block_kernel::mmsubmatriz_on(block_kernel::path_named("scalar_i32"), &truth.a_desc,
                                         &truth.b_desc, &truth.c_desc),
            0);
  for (int32_t row = 0; row < block_kernel::path_count(); ++row) {
    const auto p = static_cast<path>(row);
    if (block_kernel::is_narrow(p)) {
      continue;  // the 16-bit paths have their own checks (narrow_path_test.cpp)
    }
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
