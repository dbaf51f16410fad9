// Which path a call runs: the block sizes of every path in one table, the pure selection
// rules, and this process's choice, made once.
#include "kernel/dispatch.hpp"

#include <cpuid.h>

#include <iterator>

#include "kernel/driver.hpp"
#include "kernel/testing.hpp"

namespace block_kernel {
namespace detail {
namespace {

#if DENSE_KERNEL_X86
#define DENSE_X86_TILE(tile) tile
#else
#define DENSE_X86_TILE(tile) nullptr  // not built for this processor
#endif

// One row of the table: a path and how the driver runs it.
struct path_row {
  path p;
  tile_kernel kernel;
};

using enum packing;

// Every path's register tile and cache blocks, in the order of `path`. The
// blocks are sized so that a's packed mc x kc block stays in L2, one kc-deep
// panel of b in L1 while the tile rows of a pass it, and b's packed kc x nc
// block in L2/L3. The pair tiles take twice the depth in elements for the
// same bytes, since one word holds two steps of k.
// clang-format off
constexpr path_row kPaths[] = {
    // path                 mr               nr               mc  kc    nc    packing      tile
    {path::scalar_i32,     {kScalarShape.mr, kScalarShape.nr, 64, 256,  1024, int32_words, tile_scalar_i32_4x8}},
    {path::avx2_i32,       {kYmmShape.mr,    kYmmShape.nr,    96, 512,  2048, int32_words, DENSE_X86_TILE(tile_avx2_i32_6x16)}},
    {path::avx512_i32,     {kZmmShape.mr,    kZmmShape.nr,    96, 1024, 2048, int32_words, DENSE_X86_TILE(tile_avx512_i32_12x32)}},
    {path::scalar_i16,     {kScalarShape.mr, kScalarShape.nr, 64, 512,  1024, int16_pairs, tile_scalar_i16_4x8}},
    {path::avx2_i16,       {kYmmShape.mr,    kYmmShape.nr,    96, 1024, 2048, int16_pairs, DENSE_X86_TILE(tile_avx2_i16_6x16)}},
    {path::avx512bw_i16,   {kZmmShape.mr,    kZmmShape.nr,    96, 2048, 2048, int16_pairs, DENSE_X86_TILE(tile_avx512bw_i16_12x32)}},
    {path::avx512vnni_i16, {kZmmShape.mr,    kZmmShape.nr,    96, 2048, 2048, int16_pairs, DENSE_X86_TILE(tile_avx512vnni_i16_12x32)}},
    {path::avxvnni_i16,    {kYmmShape.mr,    kYmmShape.nr,    96, 1024, 2048, int16_pairs, DENSE_X86_TILE(tile_avxvnni_i16_6x16)}},
};
// clang-format on

// The paths that need every value in 16 bits: the ones from scalar_i16 on.
constexpr bool needs_16_bits(path p) {
  return static_cast<int32_t>(p) >= static_cast<int32_t>(path::scalar_i16);
}

// What the driver and compiled_kernel rely on of every row.
constexpr bool rows_are_sound() {
  int32_t index = 0;
  for (const path_row& row : kPaths) {
    const tile_kernel& k = row.kernel;
    const bool sound = static_cast<int32_t>(row.p) == index && k.mc % k.mr == 0 &&
                       k.nc % k.nr == 0 && (k.pack != int16_pairs || k.kc % 2 == 0) &&
                       needs_16_bits(row.p) == (k.pack == int16_pairs);
    if (!sound) {
      return false;
    }
    ++index;
  }
  return true;
}
static_assert(rows_are_sound(),
              "kPaths: one row per path in its order, mc and nc whole tiles, kc even for pairs");

#undef DENSE_X86_TILE

// The tiles of path `p` when this build has them; null otherwise.
const tile_kernel* compiled_kernel(path p) {
  const auto index = static_cast<int32_t>(p);
  if (index < 0 || index >= static_cast<int32_t>(std::size(kPaths))) {
    return nullptr;
  }
  const tile_kernel& kernel = kPaths[index].kernel;
  return kernel.tile != nullptr ? &kernel : nullptr;
}

// AVX-VNNI: CPUID leaf 7, sub-leaf 1, EAX bit 4. Asked directly because not
// every compiler's __builtin_cpu_supports knows the name; the registers it
// uses are the AVX2 ones, whose OS support __builtin_cpu_supports("avx2")
// has already checked.
[[maybe_unused]] bool has_avx_vnni() {
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  return __get_cpuid_count(7, 1, &eax, &ebx, &ecx, &edx) != 0 && (eax & (1U << 4)) != 0;
}

// The CPU query itself, restricted to the paths this build has.
cpu_features query_features() {
  cpu_features f{false, false, false, false, false};
#if DENSE_KERNEL_X86
  f.avx2 = __builtin_cpu_supports("avx2") != 0;
  f.avxvnni = f.avx2 && has_avx_vnni();
  f.avx512f = __builtin_cpu_supports("avx512f") != 0;
  f.avx512bw = f.avx512f && __builtin_cpu_supports("avx512bw") != 0;
  f.avx512vnni = f.avx512bw && __builtin_cpu_supports("avx512vnni") != 0;
#endif
  return f;
}

host_choice choose_for_host() {
  const cpu_features f = query_features();
  const path narrow = select_narrow_path(f);
  return {f,
          {compiled_kernel(select_path(f)), is_narrow(narrow) ? compiled_kernel(narrow) : nullptr}};
}

}  // namespace

const host_choice& host() {
  static const host_choice choice = choose_for_host();
  return choice;
}

bool kernels_on(path p, kernel_choice* out) {
  const tile_kernel* kernel = path_available(p) ? compiled_kernel(p) : nullptr;
  if (!kernel) {
    return false;
  }
  *out = is_narrow(p) ? kernel_choice{host().kernels.wide, kernel} : kernel_choice{kernel, nullptr};
  return true;
}

const tile_kernel& pick_kernel(const kernel_choice& choice, const operands& op) {
  return choice.narrow && fits_int16(op) ? *choice.narrow : *choice.wide;
}

}  // namespace detail

path select_path(cpu_features features) {
  if (features.avx512f) {
    return path::avx512_i32;
  }
  if (features.avx2) {
    return path::avx2_i32;
  }
  return path::scalar_i32;
}

path select_narrow_path(cpu_features features) {
  // The zmm tiles do twice the pairs of the ymm ones per instruction, and the
  // fused vpdpwssd saves the separate add (and a register per row).
  const bool zmm_words = features.avx512f && features.avx512bw;
  if (zmm_words && features.avx512vnni) {
    return path::avx512vnni_i16;
  }
  if (zmm_words) {
    return path::avx512bw_i16;
  }
  if (features.avx2 && features.avxvnni) {
    return path::avxvnni_i16;
  }
  if (features.avx2) {
    return path::avx2_i16;
  }
  return path::scalar_i32;
}

bool is_narrow(path p) { return detail::needs_16_bits(p); }

cpu_features host_features() { return detail::host().features; }

bool path_available(path p) {
  const cpu_features f = host_features();
  switch (p) {
    case path::scalar_i32:
    case path::scalar_i16:
      return true;
    case path::avx2_i32:
    case path::avx2_i16:
      return f.avx2;
    case path::avx512_i32:
      return f.avx512f;
    case path::avx512bw_i16:
      return f.avx512bw;
    case path::avx512vnni_i16:
      return f.avx512vnni;
    case path::avxvnni_i16:
      return f.avxvnni;
  }
  return false;
}

const char* path_name(path p) {
  switch (p) {
    case path::scalar_i32:
      return "scalar_i32";
    case path::avx2_i32:
      return "avx2_i32";
    case path::avx512_i32:
      return "avx512_i32";
    case path::scalar_i16:
      return "scalar_i16";
    case path::avx2_i16:
      return "avx2_i16";
    case path::avx512bw_i16:
      return "avx512bw_i16";
    case path::avx512vnni_i16:
      return "avx512vnni_i16";
    case path::avxvnni_i16:
      return "avxvnni_i16";
  }
  return "?";
}

}  // namespace block_kernel
