// Small text helpers the programs' tables, CSV files and plots share.
#pragma once

#include <cstdio>
#include <string>

namespace tool_common {

// One number through a printf format: format_number("%.3f", 2.5) is "2.500".
inline std::string format_number(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

}  // namespace tool_common
