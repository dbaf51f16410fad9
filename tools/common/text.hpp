// Small text helpers the programs' tables, CSV files and plots share.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tool_common {

// One number through a printf format: format_number("%.3f", 2.5) is "2.500".
inline std::string format_number(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a newline.
inline std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"') {
      quoted += '"';
    }
    quoted += ch;
  }
  return quoted + "\"";
}

// The fields joined by commas, and a newline.
template <size_t N>
std::string csv_line(const std::string (&fields)[N]) {
  std::string line;
  for (size_t i = 0; i < N; ++i) {
    line += fields[i];
    line += i + 1 < N ? ',' : '\n';
  }
  return line;
}

}  // namespace tool_common
