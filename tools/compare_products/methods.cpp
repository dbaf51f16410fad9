// The method table of compare_products, and each method behind one call.
#include "methods.hpp"

#include <cstdlib>
#include <dense/dense_arith.hpp>
#include <dense/team_kernel.hpp>
#include <dense/team_rows.hpp>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>

#include "common/matrix_records.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;

template <int kTipo>
matriz* loop_nest(const matriz* a, const matriz* b, int32_t) {
  return dense_arith::mmultiplicar(a, b, kTipo);
}

matriz* cyclic(const matriz* a, const matriz* b, int32_t threads) {
  return workers_cyclic::multiplicarTh(a, b, threads);
}

matriz* cyclic_blocks(const matriz* a, const matriz* b, int32_t threads) {
  return workers_cyclic::multiplicarThblocos(a, b, threads);
}

matriz* ranges(const matriz* a, const matriz* b, int32_t threads) {
  return workers_ranges::multiplicarTh(a, b, threads);
}

matriz* ranges_blocks(const matriz* a, const matriz* b, int32_t threads) {
  return workers_ranges::multiplicarThblocos(a, b, threads);
}

// multiplicarOMP adds into a matrix it is given: a fresh zeroed one is made
// inside the timed call, so that every method is measured from the factors
// to a new product.
matriz* omp(const matriz* a, const matriz* b, int32_t threads) {
  matriz* c = dense_detail::new_zeroed_matrix(a->lin, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  if (team_rows::multiplicarOMP(a, b, c, threads) != 0) {
    dense_detail::release_matrix(c);
    return nullptr;
  }
  return c;
}

// The block kernel with the result split among a team: on one thread it is
// the kernel alone, so the "vs 1 thread" column shows how the team scales.
matriz* kernel(const matriz* a, const matriz* b, int32_t threads) {
  return team_kernel::multiplicarKernelOMP(a, b, threads);
}

std::string one_band_per_thread(int32_t inner, int32_t threads) {
  if (threads > inner) {
    return "needs at most K=" + std::to_string(inner) + " threads (one band of K per thread)";
  }
  return {};
}

std::string two_bands(int32_t inner, int32_t) {
  if (inner < 2) {
    return "needs K of at least 2 (two bands of K)";
  }
  return {};
}

double just_the_result(int32_t) { return 1; }

// One part per band, the running sum and the sum being made.
double part_per_thread(int32_t threads) { return threads + 2.0; }

// Two parts and their sum.
double two_parts(int32_t) { return 3; }

}  // namespace

const std::vector<product_method>& methods() {
  using t = threading;
  static const std::vector<product_method> kMethods = {
      {"tipo0", "mmultiplicar tipo 0: loops i-j-k", "tipo0 ... tipo5",
       "mmultiplicar with loop nest tipo 0 ... 5", t::sequential, loop_nest<0>, nullptr,
       just_the_result},
      {"tipo1", "mmultiplicar tipo 1: loops i-k-j", nullptr, nullptr, t::sequential, loop_nest<1>,
       nullptr, just_the_result},
      {"tipo2", "mmultiplicar tipo 2: loops k-i-j", nullptr, nullptr, t::sequential, loop_nest<2>,
       nullptr, just_the_result},
      // The library runs tipo 2's loop nest for tipo 3: the table says so, so
      // that two equal rows do not read as a mistake.
      {"tipo3", "mmultiplicar tipo 3: the same loops k-i-j as tipo2", nullptr, nullptr,
       t::sequential, loop_nest<3>, nullptr, just_the_result},
      {"tipo4", "mmultiplicar tipo 4: loops j-i-k", nullptr, nullptr, t::sequential, loop_nest<4>,
       nullptr, just_the_result},
      {"tipo5", "mmultiplicar tipo 5: loops j-k-i", nullptr, nullptr, t::sequential, loop_nest<5>,
       nullptr, just_the_result},
      {"cyclic", "workers_cyclic::multiplicarTh", "cyclic", "workers_cyclic::multiplicarTh",
       t::requested, cyclic, nullptr, just_the_result},
      {"cyclic-blocks", "workers_cyclic::multiplicarThblocos", "cyclic-blocks",
       "workers_cyclic::multiplicarThblocos", t::requested, cyclic_blocks, one_band_per_thread,
       part_per_thread},
      {"ranges", "workers_ranges::multiplicarTh", "ranges", "workers_ranges::multiplicarTh",
       t::requested, ranges, nullptr, just_the_result},
      {"ranges-blocks", "workers_ranges::multiplicarThblocos", "ranges-blocks",
       "workers_ranges::multiplicarThblocos (always 2 threads)", t::two_fixed, ranges_blocks,
       two_bands, two_parts},
      {"omp", "team_rows::multiplicarOMP", "omp", "team_rows::multiplicarOMP", t::requested, omp,
       nullptr, just_the_result},
      {"kernel", "team_kernel::multiplicarKernelOMP", "kernel",
       "team_kernel::multiplicarKernelOMP (on 1 thread: the block kernel alone)", t::requested,
       kernel, nullptr, just_the_result},
  };
  return kMethods;
}

const product_method* baseline() { return &methods().front(); }

const product_method* find_method(const std::string& name) {
  for (const auto& m : methods()) {
    if (name == m.name) {
      return &m;
    }
  }
  return nullptr;
}

std::vector<int32_t> measured_thread_counts(const product_method& m,
                                            const std::vector<int32_t>& requested) {
  switch (m.threads) {
    case threading::sequential:
      return {1};
    case threading::two_fixed:
      return {2};
    case threading::requested:
      break;
  }
  return requested;
}

std::string skip_reason(const product_method& m, int32_t inner, int32_t threads) {
  return m.skip != nullptr ? m.skip(inner, threads) : std::string();
}

}  // namespace compare_products
