// The one rule the kit's programs read counts, sizes and seeds by.
#pragma once

#include <cstdint>
#include <string>

namespace tool_cli {

// A whole number in [lo, hi] written with decimal digits only; false for
// anything else (signs, spaces, empty text, overflow).
inline bool parse_whole(const std::string& text, int64_t lo, int64_t hi, int64_t* out) {
  if (text.empty() || text.size() > 12) {
    return false;
  }
  int64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') {
      return false;
    }
    value = value * 10 + (ch - '0');
  }
  if (value < lo || value > hi) {
    return false;
  }
  *out = value;
  return true;
}

}  // namespace tool_cli
