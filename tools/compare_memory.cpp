// Memory a run of compare_products needs, counted before anything is allocated.
#include "compare_memory.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "compare_methods.hpp"

namespace compare_tool {

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
  for (const product_method* m : o.methods) {
    for (int32_t t : measured_thread_counts(*m, o.threads)) {
      if (!with_threads) {
        t = 1;
      }
      if (!skip_reason(*m, o.inner, t).empty()) {
        continue;
      }
      worst_parts = std::max(worst_parts, m->held_products(t));
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

}  // namespace compare_tool
