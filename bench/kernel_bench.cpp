// The block kernel against the machine and against other products, side by side in one
// run, at n = 256, 512, 1024 and 2048 (n x n times n x n, 2*n^3 operations):
//   BM_peak_*          vpmulld + vpaddd on independent registers: what one core can do;
//   BM_peak_vpmaddwd_*, BM_peak_vpdpwssd_*: the same for the 16-bit multiply-and-add-pairs
//                      instructions (two steps of k per 32-bit lane);
//   BM_mmsubmatriz     the kernel on whole-matrix descriptors, one entry per path (values
//                      in [-1000, 1000], so the 16-bit-range paths run);
//   BM_range_scan      the per-call check that sends a block to a 16-bit-range path;
//   BM_ikj             a plain i-k-j loop over the same row tables, built for the host
//                      CPU (target_clones: the x86-64-v4 / v3 clone is what -march=native gives);
//   BM_eigen           Eigen's int32 product on one thread, when Eigen 3 was found;
//   BM_*_blocos, BM_multiplicarOMP: the kit's products on 2 threads;
//   BM_kernel, BM_team_kernel: the kernel (one thread) and the team kernel on 1, 2 and 4
//                      threads at n = 1024, 2048, 4096 and on a flat (64 x 4096 x 4096) and a
//                      tall (4096 x 64 x 4096) shape, m x k x n, on full-range values (the
//                      int32 path); and both on small values (1 ... 100: a 16-bit-range path).
// Every entry reports GOP/s. Compare ratios from one run, on a machine as quiet as you can get;
// --benchmark_repetitions=3 --benchmark_report_aggregates_only=true gives medians. The team
// kernel beside busy processes is measured by team_kernel_under_load, built beside this program.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <dense/block_kernel.hpp>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/team_kernel.hpp>
#include <dense/team_rows.hpp>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>
#include <initializer_list>
#include <random>
#include <string>

#include "bench_support.hpp"
#include "kernel/driver.hpp"
#include "kernel/testing.hpp"

#if __has_include(<eigen3/Eigen/Dense>)
#include <eigen3/Eigen/Dense>
#define DENSE_BENCH_HAVE_EIGEN 1
#else
#define DENSE_BENCH_HAVE_EIGEN 0
#endif

namespace {

using dense_core::matriz;

constexpr int64_t kSizes[] = {256, 512, 1024, 2048};

using bench_support::product_ops;
using bench_support::release;
using bench_support::report;
using bench_support::square;

// ---- the machine's peak: independent multiply-adds, no memory traffic ----
// Written in assembly: with intrinsics the compiler sees constant operands and
// turns the multiplies into shifts, which measures nothing. Each step is the
// tile kernel's arithmetic without its loads: 24 vpmulld + 24 vpaddd into 24
// independent accumulators (AVX-512), or 12 + 12 into 12 (AVX2).

constexpr int64_t kPeakSteps = 1 << 20;

// clang-format off
#define DENSE_PEAK_ROW(w, x, lo, hi)                              \
  "vpmulld %%" w x ", %%" w "30, %%" w "28\n\t"                    \
  "vpmulld %%" w x ", %%" w "31, %%" w "29\n\t"                    \
  "vpaddd %%" w "28, %%" w #lo ", %%" w #lo "\n\t"                \
  "vpaddd %%" w "29, %%" w #hi ", %%" w #hi "\n\t"
// clang-format on

__attribute__((target("avx512f"))) void BM_peak_avx512(benchmark::State& state) {
  for (auto _ : state) {
    int64_t steps = kPeakSteps;
    // clang-format off
    __asm__ volatile(
        "vpternlogd $0xff, %%zmm30, %%zmm30, %%zmm30\n\t"  // all ones: any value will do
        "vpabsd %%zmm30, %%zmm31\n\t"
        "vmovdqa64 %%zmm30, %%zmm24\n\t"
        "vmovdqa64 %%zmm31, %%zmm25\n\t"
        "1:\n\t"
        DENSE_PEAK_ROW("zmm", "24", 0, 1) DENSE_PEAK_ROW("zmm", "25", 2, 3)
        DENSE_PEAK_ROW("zmm", "24", 4, 5) DENSE_PEAK_ROW("zmm", "25", 6, 7)
        DENSE_PEAK_ROW("zmm", "24", 8, 9) DENSE_PEAK_ROW("zmm", "25", 10, 11)
        DENSE_PEAK_ROW("zmm", "24", 12, 13) DENSE_PEAK_ROW("zmm", "25", 14, 15)
        DENSE_PEAK_ROW("zmm", "24", 16, 17) DENSE_PEAK_ROW("zmm", "25", 18, 19)
        DENSE_PEAK_ROW("zmm", "24", 20, 21) DENSE_PEAK_ROW("zmm", "25", 22, 23)
        "dec %[steps]\n\t"
        "jnz 1b\n\t"
        : [steps] "+r"(steps)
        :
        : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",
          "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18",
          "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm28", "xmm29",
          "xmm30", "xmm31");
    // clang-format on
  }
  report(state, 2.0 * 24 * 16 * kPeakSteps);
}

__attribute__((target("avx2"))) void BM_peak_avx2(benchmark::State& state) {
  for (auto _ : state) {
    int64_t steps = kPeakSteps;
    // clang-format off
    __asm__ volatile(
        "vpcmpeqd %%ymm14, %%ymm14, %%ymm14\n\t"
        "vpabsd %%ymm14, %%ymm15\n\t"
        "1:\n\t"
        "vpmulld %%ymm14, %%ymm15, %%ymm12\n\t"
        "vpmulld %%ymm15, %%ymm14, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm0, %%ymm0\n\t" "vpaddd %%ymm13, %%ymm1, %%ymm1\n\t"
        "vpmulld %%ymm14, %%ymm14, %%ymm12\n\t"
        "vpmulld %%ymm15, %%ymm15, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm2, %%ymm2\n\t" "vpaddd %%ymm13, %%ymm3, %%ymm3\n\t"
        "vpmulld %%ymm14, %%ymm15, %%ymm12\n\t"
        "vpmulld %%ymm15, %%ymm14, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm4, %%ymm4\n\t" "vpaddd %%ymm13, %%ymm5, %%ymm5\n\t"
        "vpmulld %%ymm14, %%ymm14, %%ymm12\n\t"
        "vpmulld %%ymm15, %%ymm15, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm6, %%ymm6\n\t" "vpaddd %%ymm13, %%ymm7, %%ymm7\n\t"
        "vpmulld %%ymm14, %%ymm15, %%ymm12\n\t"
        "vpmulld %%ymm15, %%ymm14, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm8, %%ymm8\n\t" "vpaddd %%ymm13, %%ymm9, %%ymm9\n\t"
        "vpmulld %%ymm14, %%ymm14, %%ymm12\n\t"
        "vpmulld %%ymm15, %%ymm15, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm10, %%ymm10\n\t" "vpaddd %%ymm13, %%ymm11, %%ymm11\n\t"
        "dec %[steps]\n\t"
        "jnz 1b\n\t"
        : [steps] "+r"(steps)
        :
        : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",
          "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
    // clang-format on
  }
  report(state, 2.0 * 12 * 8 * kPeakSteps);
}

#undef DENSE_PEAK_ROW

// The 16-bit-range tiles' arithmetic without their loads: per step, 24
// vpmaddwd + 24 vpaddd (or 24 fused vpdpwssd) into 24 independent zmm
// accumulators, 12 + 12 into 12 ymm ones with AVX2. Every 32-bit lane of a
// vpmaddwd or vpdpwssd does two multiply-adds (4 operations).
// clang-format off
#define DENSE_MADD_ROW(w, x, lo, hi)                              \
  "vpmaddwd %%" w x ", %%" w "30, %%" w "28\n\t"                   \
  "vpmaddwd %%" w x ", %%" w "31, %%" w "29\n\t"                   \
  "vpaddd %%" w "28, %%" w #lo ", %%" w #lo "\n\t"                \
  "vpaddd %%" w "29, %%" w #hi ", %%" w #hi "\n\t"
#define DENSE_DPWSSD_ROW(x, lo, hi)                               \
  "vpdpwssd %%zmm" x ", %%zmm30, %%zmm" #lo "\n\t"                \
  "vpdpwssd %%zmm" x ", %%zmm31, %%zmm" #hi "\n\t"
#define DENSE_ZMM_ROWS(ROW)                                                           \
  ROW("24", 0, 1) ROW("25", 2, 3) ROW("24", 4, 5) ROW("25", 6, 7) ROW("24", 8, 9)      \
  ROW("25", 10, 11) ROW("24", 12, 13) ROW("25", 14, 15) ROW("24", 16, 17)              \
  ROW("25", 18, 19) ROW("24", 20, 21) ROW("25", 22, 23)
#define DENSE_ZMM_MADD(x, lo, hi) DENSE_MADD_ROW("zmm", x, lo, hi)
#define DENSE_ZMM_CLOBBERS                                                                  \
  "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",     \
      "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18",     \
      "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm28", "xmm29",     \
      "xmm30", "xmm31"
#define DENSE_ZMM_SETUP                                    \
  "vpternlogd $0xff, %%zmm30, %%zmm30, %%zmm30\n\t"       \
  "vpabsd %%zmm30, %%zmm31\n\t"                           \
  "vmovdqa64 %%zmm30, %%zmm24\n\t"                        \
  "vmovdqa64 %%zmm31, %%zmm25\n\t"
// clang-format on

__attribute__((target("avx512f,avx512bw"))) void BM_peak_vpmaddwd_avx512(benchmark::State& state) {
  for (auto _ : state) {
    int64_t steps = kPeakSteps;
    __asm__ volatile(DENSE_ZMM_SETUP "1:\n\t" DENSE_ZMM_ROWS(DENSE_ZMM_MADD) "dec %[steps]\n\t"
                                                                              "jnz 1b\n\t"
                     : [steps] "+r"(steps)
                     :
                     : DENSE_ZMM_CLOBBERS);
  }
  report(state, 4.0 * 24 * 16 * kPeakSteps);
}

__attribute__((target("avx512f,avx512bw,avx512vnni"))) void BM_peak_vpdpwssd_avx512(
    benchmark::State& state) {
  for (auto _ : state) {
    int64_t steps = kPeakSteps;
    __asm__ volatile(DENSE_ZMM_SETUP "1:\n\t" DENSE_ZMM_ROWS(DENSE_DPWSSD_ROW) "dec %[steps]\n\t"
                                                                                "jnz 1b\n\t"
                     : [steps] "+r"(steps)
                     :
                     : DENSE_ZMM_CLOBBERS);
  }
  report(state, 4.0 * 24 * 16 * kPeakSteps);
}

__attribute__((target("avx2"))) void BM_peak_vpmaddwd_avx2(benchmark::State& state) {
  for (auto _ : state) {
    int64_t steps = kPeakSteps;
    // clang-format off
    __asm__ volatile(
        "vpcmpeqd %%ymm14, %%ymm14, %%ymm14\n\t"
        "vpabsd %%ymm14, %%ymm15\n\t"
        "1:\n\t"
        "vpmaddwd %%ymm14, %%ymm15, %%ymm12\n\t" "vpmaddwd %%ymm15, %%ymm14, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm0, %%ymm0\n\t" "vpaddd %%ymm13, %%ymm1, %%ymm1\n\t"
        "vpmaddwd %%ymm14, %%ymm14, %%ymm12\n\t" "vpmaddwd %%ymm15, %%ymm15, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm2, %%ymm2\n\t" "vpaddd %%ymm13, %%ymm3, %%ymm3\n\t"
        "vpmaddwd %%ymm14, %%ymm15, %%ymm12\n\t" "vpmaddwd %%ymm15, %%ymm14, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm4, %%ymm4\n\t" "vpaddd %%ymm13, %%ymm5, %%ymm5\n\t"
        "vpmaddwd %%ymm14, %%ymm14, %%ymm12\n\t" "vpmaddwd %%ymm15, %%ymm15, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm6, %%ymm6\n\t" "vpaddd %%ymm13, %%ymm7, %%ymm7\n\t"
        "vpmaddwd %%ymm14, %%ymm15, %%ymm12\n\t" "vpmaddwd %%ymm15, %%ymm14, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm8, %%ymm8\n\t" "vpaddd %%ymm13, %%ymm9, %%ymm9\n\t"
        "vpmaddwd %%ymm14, %%ymm14, %%ymm12\n\t" "vpmaddwd %%ymm15, %%ymm15, %%ymm13\n\t"
        "vpaddd %%ymm12, %%ymm10, %%ymm10\n\t" "vpaddd %%ymm13, %%ymm11, %%ymm11\n\t"
        "dec %[steps]\n\t"
        "jnz 1b\n\t"
        : [steps] "+r"(steps)
        :
        : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",
          "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
    // clang-format on
  }
  report(state, 4.0 * 12 * 8 * kPeakSteps);
}

#undef DENSE_ZMM_SETUP
#undef DENSE_ZMM_CLOBBERS
#undef DENSE_ZMM_MADD
#undef DENSE_ZMM_ROWS
#undef DENSE_DPWSSD_ROW
#undef DENSE_MADD_ROW

// ---- the kernel on whole-matrix descriptors, on one forced path ----

void BM_mmsubmatriz(benchmark::State& state, block_kernel::path p) {
  const auto n = static_cast<int32_t>(state.range(0));
  square a(n, 1), b(n, 2), c(n, 3);
  dense_arith::bloco whole{0, n, 0, n};
  dense_arith::submatriz da{a.get(), &whole}, db{b.get(), &whole}, dc{c.get(), &whole};
  for (auto _ : state) {
    // c keeps accumulating: the kernel adds, and the sums wrap harmlessly.
    if (block_kernel::mmsubmatriz_on(p, &da, &db, &dc) != 0) {
      state.SkipWithError("kernel refused the descriptors");
      break;
    }
    benchmark::ClobberMemory();
  }
  report(state, product_ops(n));
}

// ---- the kernel and the team kernel on m x k times k x n ----

// A random rows x cols matrix with values in [lo, hi], freed on scope exit.
class random_matrix {
 public:
  random_matrix(int32_t rows, int32_t cols, uint32_t seed, int32_t lo, int32_t hi)
      : m_{nullptr, rows, cols} {
    dense_core::malocar(&m_);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> dist(lo, hi);
    for (int32_t i = 0; i < rows; ++i) {
      for (int32_t j = 0; j < cols; ++j) {
        m_.mat[i][j] = dist(gen);
      }
    }
  }
  random_matrix(const random_matrix&) = delete;
  random_matrix& operator=(const random_matrix&) = delete;
  ~random_matrix() { dense_core::mliberar(&m_); }
  dense_core::matriz* get() { return &m_; }

 private:
  dense_core::matriz m_;
};

// The values the factors hold: the whole int32 range, or 1 ... 100 (what
// compare_products fills its factors with by default).
enum values : int64_t { full_range = 0, small_range = 1 };

// Arguments m, k, n, threads (0: mmsubmatriz itself, no team) and values.
void BM_kernel_shape(benchmark::State& state) {
  const auto m = static_cast<int32_t>(state.range(0));
  const auto k = static_cast<int32_t>(state.range(1));
  const auto n = static_cast<int32_t>(state.range(2));
  const auto threads = static_cast<int32_t>(state.range(3));
  const bool small = state.range(4) == small_range;
  const int32_t lo = small ? 1 : INT32_MIN;
  const int32_t hi = small ? 100 : INT32_MAX;
  random_matrix a(m, k, 1, lo, hi), b(k, n, 2, lo, hi), c(m, n, 3, 0, 0);
  dense_arith::bloco a_block{0, m, 0, k}, b_block{0, k, 0, n}, c_block{0, m, 0, n};
  dense_arith::submatriz da{a.get(), &a_block}, db{b.get(), &b_block}, dc{c.get(), &c_block};
  for (auto _ : state) {
    const int rc = threads == 0 ? block_kernel::mmsubmatriz(&da, &db, &dc)
                                : team_kernel::mmsubmatrizOMP(&da, &db, &dc, threads);
    if (rc != 0) {
      state.SkipWithError("kernel refused the descriptors");
      break;
    }
    benchmark::ClobberMemory();
  }
  report(state, 2.0 * static_cast<double>(m) * static_cast<double>(k) * static_cast<double>(n));
}

void add_kernel_shapes(const char* name, std::initializer_list<int64_t> thread_counts,
                       int64_t value_range, std::initializer_list<int64_t> sizes,
                       bool with_shapes) {
  auto* bench = benchmark::RegisterBenchmark(name, BM_kernel_shape);
  bench->Unit(benchmark::kMillisecond)->UseRealTime();
  bench->ArgNames({"m", "k", "n", "threads", "small"});
  for (int64_t threads : thread_counts) {
    for (int64_t n : sizes) {
      bench->Args({n, n, n, threads, value_range});
    }
    if (with_shapes) {
      bench->Args({64, 4096, 4096, threads, value_range});  // flat: few rows of c
      bench->Args({4096, 64, 4096, threads, value_range});  // tall: a short inner range
    }
  }
}

// The range check alone on the blocks of an n x n product whose values all
// fit (so every value is read), to set beside the product's time.
void BM_range_scan(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  random_matrix a(n, n, 1, 1, 100), b(n, n, 2, 1, 100);
  const block_kernel::detail::operands op{a.get()->mat, b.get()->mat, nullptr, 0, n, 0, n, 0, n};
  for (auto _ : state) {
    benchmark::DoNotOptimize(block_kernel::detail::fits_int16(op));
  }
}

// ---- a plain i-k-j loop over the row tables, built for the host CPU ----

__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default"))) void ikj_product(
    int32_t* const* a, int32_t* const* b, int32_t* const* c, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    int32_t* c_row = c[i];
    for (int32_t k = 0; k < n; ++k) {
      const auto aik = static_cast<uint32_t>(a[i][k]);
      const int32_t* b_row = b[k];
      for (int32_t j = 0; j < n; ++j) {
        c_row[j] = static_cast<int32_t>(static_cast<uint32_t>(c_row[j]) +
                                        aik * static_cast<uint32_t>(b_row[j]));
      }
    }
  }
}

void BM_ikj(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  square a(n, 1), b(n, 2), c(n, 3);
  for (auto _ : state) {
    ikj_product(a.get()->mat, b.get()->mat, c.get()->mat, n);
    benchmark::ClobberMemory();
  }
  report(state, product_ops(n));
}

// ---- Eigen's int32 product, one thread ----

#if DENSE_BENCH_HAVE_EIGEN
using eigen_matrix = Eigen::Matrix<int32_t, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

eigen_matrix to_eigen(const matriz* m) {
  eigen_matrix out(m->lin, m->col);
  for (int32_t i = 0; i < m->lin; ++i) {
    for (int32_t j = 0; j < m->col; ++j) {
      out(i, j) = m->mat[i][j];
    }
  }
  return out;
}

void BM_eigen(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  square a(n, 1), b(n, 2);
  const eigen_matrix ea = to_eigen(a.get());
  const eigen_matrix eb = to_eigen(b.get());
  eigen_matrix ec = eigen_matrix::Zero(n, n);
  Eigen::setNbThreads(1);
  for (auto _ : state) {
    ec.noalias() += ea * eb;
    benchmark::ClobberMemory();
  }
  report(state, product_ops(n));
}
#endif

// ---- the kit's products on two threads ----

template <matriz* (*Product)(const matriz*, const matriz*, int32_t)>
void BM_two_threads(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  square a(n, 1), b(n, 2);
  for (auto _ : state) {
    matriz* c = Product(a.get(), b.get(), 2);
    benchmark::DoNotOptimize(c);
    if (c == nullptr) {
      state.SkipWithError("the product returned no matrix");
      break;
    }
    release(c);  // freeing the result is part of the product's cost to its caller
  }
  report(state, product_ops(n));
}

void BM_multiplicarOMP(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  square a(n, 1), b(n, 2), c(n, 3);
  for (auto _ : state) {
    team_rows::multiplicarOMP(a.get(), b.get(), c.get(), 2);  // adds into c
    benchmark::ClobberMemory();
  }
  report(state, product_ops(n));
}

// Entries that start threads are timed in real time; the single-thread ones
// in CPU time, which stays meaningful while other work shares the cores.
template <typename Fn>
void add(const std::string& name, Fn&& fn, bool sized, bool threaded = false) {
  auto* bench = benchmark::RegisterBenchmark(name.c_str(), std::forward<Fn>(fn));
  bench->Unit(benchmark::kMillisecond);
  if (threaded) {
    bench->UseRealTime();
  }
  if (sized) {
    for (int64_t n : kSizes) {
      bench->Arg(n);
    }
  }
}

void register_all() {
  const block_kernel::cpu_features f = block_kernel::host_features();
  namespace feature = block_kernel::feature;
  if ((f & feature::avx512f) != 0) {
    add("BM_peak_avx512", BM_peak_avx512, false);
  }
  if ((f & feature::avx2) != 0) {
    add("BM_peak_avx2", BM_peak_avx2, false);
  }
  if ((f & feature::avx512bw) != 0) {
    add("BM_peak_vpmaddwd_avx512", BM_peak_vpmaddwd_avx512, false);
  }
  if ((f & feature::avx512vnni) != 0) {
    add("BM_peak_vpdpwssd_avx512", BM_peak_vpdpwssd_avx512, false);
  }
  if ((f & feature::avx2) != 0) {
    add("BM_peak_vpmaddwd_avx2", BM_peak_vpmaddwd_avx2, false);
  }
  using block_kernel::path;
  // Every path the kernel may pick on its own, in the registry's order.
  for (int32_t row = 0; row < block_kernel::path_count(); ++row) {
    const auto p = static_cast<path>(row);
    if (!block_kernel::path_available(p) || !block_kernel::path_picked(p)) {
      continue;
    }
    add(
        std::string("BM_mmsubmatriz/") + block_kernel::path_name(p),
        [p](benchmark::State& state) { BM_mmsubmatriz(state, p); }, true);
  }
  add("BM_ikj", BM_ikj, true);
#if DENSE_BENCH_HAVE_EIGEN
  add("BM_eigen", BM_eigen, true);
  benchmark::AddCustomContext("eigen", "Eigen " + std::to_string(EIGEN_WORLD_VERSION) + "." +
                                           std::to_string(EIGEN_MAJOR_VERSION) + "." +
                                           std::to_string(EIGEN_MINOR_VERSION) + ", one thread");
#else
  benchmark::AddCustomContext(
      "eigen", "not found when this program was built: BM_eigen left out (install libeigen3-dev)");
#endif
  add("BM_workers_cyclic_blocos/threads:2", BM_two_threads<workers_cyclic::multiplicarThblocos>,
      true, true);
  add("BM_workers_ranges_blocos/threads:2", BM_two_threads<workers_ranges::multiplicarThblocos>,
      true, true);
  add("BM_multiplicarOMP/threads:2", BM_multiplicarOMP, true, true);
  // The team kernel beside the kernel alone, on the int32 path (full-range values).
  add_kernel_shapes("BM_kernel", {0}, full_range, {1024, 2048, 4096}, true);
  add_kernel_shapes("BM_team_kernel", {1, 2, 4}, full_range, {1024, 2048, 4096}, true);
  // The same on small values: the 16-bit-range path, alone and on a team of 2.
  add_kernel_shapes("BM_kernel", {0}, small_range, {1024, 2048, 4096}, false);
  add_kernel_shapes("BM_team_kernel", {2}, small_range, {1024, 2048, 4096}, false);
  auto* scan = benchmark::RegisterBenchmark("BM_range_scan", BM_range_scan);
  scan->Unit(benchmark::kMillisecond)->Arg(1024)->Arg(2048);
  benchmark::AddCustomContext("kernel_path", block_kernel::path_name(block_kernel::select_path(f)));
  benchmark::AddCustomContext("kernel_path_16bit_range",
                              block_kernel::path_name(block_kernel::select_narrow_path(f)));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
