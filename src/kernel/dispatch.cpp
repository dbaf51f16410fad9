// Which path a call runs: the selection rules over the registry's rows, and this process's
// choice, made once.
#include "kernel/dispatch.hpp"

#include <cpuid.h>

#include <cstring>

#include "kernel/driver.hpp"

namespace block_kernel {
namespace detail {
namespace {

const path_row* row_of(path p) {
  const auto index = static_cast<int32_t>(p);
  return index >= 0 && index < path_count() ? &path_rows()[static_cast<size_t>(index)] : nullptr;
}

// The first picked row that packs as `pack` and needs nothing `features`
// lacks; path{-1} for none.
path first_picked(packing pack, cpu_features features) {
  for (int32_t i = 0; i < path_count(); ++i) {
    const path_row& row = path_rows()[static_cast<size_t>(i)];
    if (row.picked && row.kernel.pack == pack && (row.needs & ~features) == 0) {
      return static_cast<path>(i);
    }
  }
  return static_cast<path>(-1);
}

// The tiles of path `p` when this build has them; null otherwise.
const tile_kernel* compiled_kernel(path p) {
  const path_row* row = row_of(p);
  return row != nullptr && row->kernel.tile != nullptr ? &row->kernel : nullptr;
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

// The CPU query itself: one line per feature bit of registry.hpp. A build
// without the SIMD tiles reports none, so that no row asks for them.
cpu_features query_features() {
  cpu_features f = 0;
#if DENSE_KERNEL_X86
  const auto bit = [&f](bool has, cpu_features which) { f |= has ? which : 0; };
  bit(__builtin_cpu_supports("avx2") != 0, feature::avx2);
  bit((f & feature::avx2) != 0 && has_avx_vnni(), feature::avxvnni);
  bit(__builtin_cpu_supports("avx512f") != 0, feature::avx512f);
  bit((f & feature::avx512f) != 0 && __builtin_cpu_supports("avx512bw") != 0, feature::avx512bw);
  bit((f & feature::avx512bw) != 0 && __builtin_cpu_supports("avx512vnni") != 0,
      feature::avx512vnni);
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

int32_t path_count() { return static_cast<int32_t>(detail::path_rows().size()); }

path path_named(const char* name) {
  for (int32_t i = 0; i < path_count(); ++i) {
    if (std::strcmp(detail::path_rows()[static_cast<size_t>(i)].name, name) == 0) {
      return static_cast<path>(i);
    }
  }
  return static_cast<path>(-1);
}

const char* path_name(path p) {
  const detail::path_row* row = detail::row_of(p);
  return row != nullptr ? row->name : "?";
}

path select_path(cpu_features features) {
  // The registry holds an int32 row that needs nothing, so one always matches.
  return detail::first_picked(detail::packing::int32_words, features);
}

path select_narrow_path(cpu_features features) {
  const path narrow = detail::first_picked(detail::packing::int16_pairs, features);
  return detail::row_of(narrow) != nullptr ? narrow : select_path(features);
}

bool is_narrow(path p) {
  const detail::path_row* row = detail::row_of(p);
  return row != nullptr && row->kernel.pack == detail::packing::int16_pairs;
}

cpu_features host_features() { return detail::host().features; }

bool path_available(path p) {
  const detail::path_row* row = detail::row_of(p);
  return row != nullptr && row->kernel.tile != nullptr && (row->needs & ~host_features()) == 0;
}

bool path_picked(path p) {
  const detail::path_row* row = detail::row_of(p);
  return row != nullptr && row->picked;
}

}  // namespace block_kernel
