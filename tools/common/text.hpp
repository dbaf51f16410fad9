// Small text helpers the programs' tables, CSV files and plots share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace tool_common {

// One number through a printf format: format_number("%.3f", 2.5) is "2.500".
inline std::string format_number(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// strerror's text for `error`: errno_text(ENOENT) is "No such file or directory".
inline std::string errno_text(int error) { return std::strerror(error); }

// "1 thread", "4 threads".
inline std::string threads_text(int32_t threads) {
  return std::to_string(threads) + (threads == 1 ? " thread" : " threads");
}

}  // namespace tool_common
