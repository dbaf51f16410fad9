// Small text helpers the programs' tables, CSV files and plots share.
#pragma once

#include <cerrno>
#include <cstddef>
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

// "1 thread", "4 threads".
inline std::string threads_text(int32_t count) {
  return std::to_string(count) + (count == 1 ? " thread" : " threads");
}

// strerror's text for `error` (by default the last one, errno).
inline std::string errno_text(int error = errno) { return std::strerror(error); }

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
