// Memory a run needs, against what this machine can give.
#include "tools/common/memory.hpp"

#include <unistd.h>

#include <cstdio>

namespace tool_common {

double matrix_bytes(int64_t rows, int64_t cols) {
  // Every row is a heap block of its own: its pointer in the table, its
  // elements rounded up to the allocator's 16 bytes, and the allocator's header.
  const int64_t rounded = (cols * 4 + 15) / 16 * 16;
  const double row = static_cast<double>(rounded + 16);
  return static_cast<double>(rows) * (row + 8.0) + 32.0;
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

std::string memory_refusal(const std::string& option, int32_t rows, int32_t inner, int32_t cols,
                           const std::string& detail, double need, double available) {
  if (available <= 0 || need <= available) {
    return {};
  }
  constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
  char why[320];
  std::snprintf(why, sizeof why,
                "%s: A %dx%d times B %dx%d%s needs about %.1f GiB of memory; this machine has "
                "%.1f GiB available",
                option.c_str(), rows, inner, inner, cols, detail.c_str(), need / kGiB,
                available / kGiB);
  return why;
}

}  // namespace tool_common
