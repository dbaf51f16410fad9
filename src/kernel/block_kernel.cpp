// The block kernel's entry point: checks the descriptors, picks the instruction-set path,
// hands the product to the blocked driver (driver.cpp).
#include <cpuid.h>

#include <cstdio>
#include <dense/block_kernel.hpp>

#include "common/messages.hpp"
#include "entry.hpp"
#include "kernel/paths.hpp"

namespace block_kernel {
namespace detail {
namespace {

const tile_kernel* compiled_kernel(path p) {
  switch (p) {
    case path::scalar:
      return &detail::kScalarKernel;
#if DENSE_KERNEL_AVX2
    case path::avx2:
      return &detail::kAvx2Kernel;
#endif
#if DENSE_KERNEL_AVX512
    case path::avx512:
      return &detail::kAvx512Kernel;
    case path::avx512bw_16:
      return &detail::kAvx512Bw16Kernel;
    case path::avx512vnni_16:
      return &detail::kAvx512Vnni16Kernel;
#endif
#if DENSE_KERNEL_AVX2
    case path::avx2_16:
      return &detail::kAvx2_16Kernel;
    case path::avxvnni_16:
      return &detail::kAvxVnni16Kernel;
#endif
    case path::scalar16:
      return &detail::kScalar16Kernel;
    default:
      return nullptr;
  }
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

bool has_storage(const dense_arith::submatriz* d) { return d && d->matriz && d->matriz->mat; }

// The block must lie inside the matrices it reads and writes; the row and
// column counts of the records are the only bounds the kernel can trust.
bool fits(const operands& op, const dense_core::matriz& a, const dense_core::matriz& b,
          const dense_core::matriz& c) {
  return op.i0 >= 0 && op.i1 <= a.lin && op.i1 <= c.lin &&  // rows
         op.k0 >= 0 && op.k1 <= a.col && op.k1 <= b.lin &&  // inner range
         op.j0 >= 0 && op.j1 <= b.col && op.j1 <= c.col;    // columns
}

bool overlap(int32_t lo1, int32_t hi1, int32_t lo2, int32_t hi2) { return lo1 < hi2 && lo2 < hi1; }

// Whether the block of c that is written is also read from a or b through the
// same row table: the packed product reads its factors block by block, so the
// result would depend on the blocking instead of being a x b.
bool writes_what_it_reads(const operands& op) {
  const bool into_a = op.c == op.a && overlap(op.j0, op.j1, op.k0, op.k1);
  const bool into_b = op.c == op.b && overlap(op.i0, op.i1, op.k0, op.k1);
  return into_a || into_b;
}

}  // namespace

checked check_operands(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                       const dense_arith::submatriz* c, operands* out) {
  if (!has_storage(a) || !has_storage(b) || !has_storage(c) || !a->bloco || !b->bloco) {
    std::puts(dense_msg::kMissingMatrix);
    return checked::refused;
  }
  // B's row bounds and c's bloco are deliberately not read: a's column range
  // is the inner range, and c is addressed at the product's own (i, j).
  const operands op = {a->matriz->mat,       b->matriz->mat,       c->matriz->mat,
                       a->bloco->lin_inicio, a->bloco->lin_fim,    a->bloco->col_inicio,
                       a->bloco->col_fim,    b->bloco->col_inicio, b->bloco->col_fim};
  if (op.i0 >= op.i1 || op.k0 >= op.k1 || op.j0 >= op.j1) {
    return checked::empty;
  }
  if (!fits(op, *a->matriz, *b->matriz, *c->matriz) || writes_what_it_reads(op)) {
    std::puts(dense_msg::kInvalidForProduct);
    return checked::refused;
  }
  *out = op;
  return checked::run;
}

bool kernels_on(path p, kernel_choice* out) {
  const tile_kernel* kernel = path_available(p) ? compiled_kernel(p) : nullptr;
  if (!kernel) {
    return false;
  }
  *out = is_narrow(p) ? kernel_choice{compiled_kernel(select_path(host_features())), kernel}
                      : kernel_choice{kernel, nullptr};
  return true;
}

kernel_choice host_kernels() {
  const cpu_features f = host_features();
  const path narrow = select_narrow_path(f);
  return {compiled_kernel(select_path(f)), is_narrow(narrow) ? compiled_kernel(narrow) : nullptr};
}

const tile_kernel& pick_kernel(const kernel_choice& choice, const operands& op) {
  return choice.narrow && fits_int16(op) ? *choice.narrow : *choice.wide;
}

namespace {

int run(const kernel_choice& choice, const dense_arith::submatriz* a,
        const dense_arith::submatriz* b, const dense_arith::submatriz* c) {
  operands op{};
  switch (check_operands(a, b, c, &op)) {
    case checked::refused:
      return -1;
    case checked::empty:
      return 0;
    case checked::run:
      break;
  }
  if (!blocked_product(pick_kernel(choice, op), op)) {
    direct_product(op, 0, op.i1 - op.i0);
  }
  return 0;
}

}  // namespace
}  // namespace detail

path select_path(cpu_features features) {
  if (features.avx512f) {
    return path::avx512;
  }
  if (features.avx2) {
    return path::avx2;
  }
  return path::scalar;
}

path select_narrow_path(cpu_features features) {
  // The zmm tiles do twice the pairs of the ymm ones per instruction, and the
  // fused vpdpwssd saves the separate add (and a register per row).
  const bool zmm_words = features.avx512f && features.avx512bw;
  if (zmm_words && features.avx512vnni) {
    return path::avx512vnni_16;
  }
  if (zmm_words) {
    return path::avx512bw_16;
  }
  if (features.avx2 && features.avxvnni) {
    return path::avxvnni_16;
  }
  if (features.avx2) {
    return path::avx2_16;
  }
  return path::scalar;
}

bool is_narrow(path p) { return static_cast<int32_t>(p) >= static_cast<int32_t>(path::scalar16); }

cpu_features host_features() {
  cpu_features f{false, false, false, false, false};
#if DENSE_KERNEL_AVX2
  f.avx2 = __builtin_cpu_supports("avx2") != 0;
  f.avxvnni = f.avx2 && detail::has_avx_vnni();
#endif
#if DENSE_KERNEL_AVX512
  f.avx512f = __builtin_cpu_supports("avx512f") != 0;
  f.avx512bw = f.avx512f && __builtin_cpu_supports("avx512bw") != 0;
  f.avx512vnni = f.avx512bw && __builtin_cpu_supports("avx512vnni") != 0;
#endif
  return f;
}

bool path_available(path p) {
  const cpu_features f = host_features();
  switch (p) {
    case path::scalar:
    case path::scalar16:
      return true;
    case path::avx2:
    case path::avx2_16:
      return f.avx2;
    case path::avx512:
      return f.avx512f;
    case path::avx512bw_16:
      return f.avx512bw;
    case path::avx512vnni_16:
      return f.avx512vnni;
    case path::avxvnni_16:
      return f.avxvnni;
  }
  return false;
}

const char* path_name(path p) {
  switch (p) {
    case path::scalar:
      return "scalar";
    case path::avx2:
      return "avx2";
    case path::avx512:
      return "avx512";
    case path::scalar16:
      return "scalar16";
    case path::avx2_16:
      return "avx2_16";
    case path::avx512bw_16:
      return "avx512bw_16";
    case path::avx512vnni_16:
      return "avx512vnni_16";
    case path::avxvnni_16:
      return "avxvnni_16";
  }
  return "?";
}

int mmsubmatriz(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                const dense_arith::submatriz* c) {
  return detail::run(detail::host_kernels(), a, b, c);
}

int mmsubmatriz_on(path p, const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c) {
  detail::kernel_choice choice{};
  if (!detail::kernels_on(p, &choice)) {
    return -1;
  }
  return detail::run(choice, a, b, c);
}

}  // namespace block_kernel
