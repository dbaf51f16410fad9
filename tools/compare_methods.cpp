// Each method of compare_products behind one call, and the memory a run of them needs.
#include "compare_methods.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dense/block_kernel.hpp>
#include <dense/dense_arith.hpp>
#include <dense/team_rows.hpp>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>

#include "common/matrix_records.hpp"

namespace compare_tool {

std::vector<int32_t> measured_thread_counts(int id, const std::vector<int32_t>& requested) {
  switch (methods()[static_cast<size_t>(id)].threads) {
    case threading::sequential:
      return {1};
    case threading::two_fixed:
      return {2};
    case threading::requested:
      break;
  }
  return requested;
}

std::string skip_reason(int id, int32_t inner, int32_t threads) {
  const std::string name = methods()[static_cast<size_t>(id)].name;
  if (name == "cyclic-blocks" && threads > inner) {
    return "needs at most K=" + std::to_string(inner) + " threads (one band of K per thread)";
  }
  if (name == "ranges-blocks" && inner < 2) {
    return "needs K of at least 2 (two bands of K)";
  }
  return {};
}

dense_core::matriz* new_zero_matrix(int32_t rows, int32_t cols) {
  return dense_detail::new_zeroed_matrix(rows, cols);
}

void release_matrix(dense_core::matriz* m) { dense_detail::release_matrix(m); }

dense_core::matriz* run_method(int id, const dense_core::matriz* a, const dense_core::matriz* b,
                               int32_t threads) {
  const std::string name = methods()[static_cast<size_t>(id)].name;
  if (name.rfind("tipo", 0) == 0) {
    return dense_arith::mmultiplicar(a, b, name[4] - '0');
  }
  if (name == "cyclic") {
    return workers_cyclic::multiplicarTh(a, b, threads);
  }
  if (name == "cyclic-blocks") {
    return workers_cyclic::multiplicarThblocos(a, b, threads);
  }
  if (name == "ranges") {
    return workers_ranges::multiplicarTh(a, b, threads);
  }
  if (name == "ranges-blocks") {
    return workers_ranges::multiplicarThblocos(a, b, threads);
  }

  dense_core::matriz* c = new_zero_matrix(a->lin, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  if (name == "omp") {
    if (team_rows::multiplicarOMP(a, b, c, threads) != 0) {
      release_matrix(c);
      return nullptr;
    }
    return c;
  }
  // The kernel alone: whole-matrix descriptors, one call on this thread. It
  // only reads the factors, so handing it the callers' records is safe.
  dense_arith::bloco a_range{0, a->lin, 0, a->col};
  dense_arith::bloco b_range{0, b->lin, 0, b->col};
  dense_arith::bloco c_range{0, c->lin, 0, c->col};
  const dense_arith::submatriz a_desc{const_cast<dense_core::matriz*>(a), &a_range};
  const dense_arith::submatriz b_desc{const_cast<dense_core::matriz*>(b), &b_range};
  const dense_arith::submatriz c_desc{c, &c_range};
  if (block_kernel::mmsubmatriz(&a_desc, &b_desc, &c_desc) != 0) {
    release_matrix(c);
    return nullptr;
  }
  return c;
}

double matrix_bytes(int64_t rows, int64_t cols) {
  // Every row is a heap block of its own: its pointer in the table, its
  // elements rounded up to the allocator's 16 bytes, and the allocator's header.
  const int64_t rounded = (cols * 4 + 15) / 16 * 16;
  const double row = static_cast<double>(rounded + 16);
  return static_cast<double>(rows) * (row + 8.0) + 32.0;
}

double peak_bytes(const options& o, bool with_threads) {
  const double product = matrix_bytes(o.rows, o.cols);
  double worst_parts = 1;  // matrices of the product's size that one method holds at once
  for (int id : o.method_ids) {
    const std::string name = methods()[static_cast<size_t>(id)].name;
    for (int32_t t : measured_thread_counts(id, o.threads)) {
      if (!with_threads) {
        t = 1;
      }
      double parts = 1;
      // One part per band, the running sum and the sum being made.
      if (name == "cyclic-blocks") {
        parts = t + 2.0;
      }
      // Two parts and their sum.
      if (name == "ranges-blocks") {
        parts = 3;
      }
      worst_parts = std::max(worst_parts, parts);
    }
  }
  return matrix_bytes(o.rows, o.inner) + matrix_bytes(o.inner, o.cols) +
         (1 + worst_parts) * product;
}

uint64_t available_bytes() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (f != nullptr) {
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
        break;
      }
    }
    std::fclose(f);
    if (kib > 0) {
      return static_cast<uint64_t>(kib) * 1024;
    }
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && size > 0) {
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
  }
  return 0;
}

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  if (values.size() % 2 == 1) {
    return values[mid];
  }
  return (values[mid - 1] + values[mid]) / 2.0;
}

}  // namespace compare_tool
