// Streams through a matrix text file once, keeping only counters, and names the first fault.
#include "matrix_file_check.hpp"

#include <cstring>
#include <limits>

namespace compare_products {
namespace {

constexpr char kHeader[] = "#Linha#Coluna#\n";
constexpr int kMaxSizeLine = 19;  // characters before the newline that the readers accept
// Digits of a number (leading zeros count) that the readers convert without a warning: a
// longer one prints "Numero mto grande" on stdout, in the middle of the table.
constexpr int kMaxDigits = 10;

std::string at_line(int64_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

// Reads one number closed by `delim`. Returns false with `why` set on a fault.
// `first` is the number's first character, already read.
bool read_number(FILE* f, int first, char delim, int64_t lo, int64_t hi, int64_t* value,
                 std::string* why) {
  bool negative = false;
  int digits = 0;
  int64_t v = 0;
  int ch = first;
  if (ch == '-') {
    negative = true;
    ch = std::fgetc(f);
  }
  while (ch >= '0' && ch <= '9') {
    ++digits;
    if (digits > kMaxDigits) {
      *why = "a number has more than " + std::to_string(kMaxDigits) + " digits";
      return false;
    }
    v = v * 10 + (ch - '0');
    ch = std::fgetc(f);
  }
  if (digits == 0) {
    *why = ch == EOF ? "the file ends inside the line" : "expected a number";
    return false;
  }
  if (ch != delim) {
    *why = ch == EOF    ? "the file ends inside the line"
           : ch == '\n' ? std::string("a number is not closed by '") + delim + "'"
                        : std::string("expected '") + delim + "' after a number";
    return false;
  }
  if (negative) {
    v = -v;
  }
  if (v < lo || v > hi) {
    *why = "the number " + std::to_string(v) + " is out of range";
    return false;
  }
  *value = v;
  return true;
}

}  // namespace

matrix_file_shape check_matrix_file(FILE* f) {
  matrix_file_shape r;
  char header[sizeof kHeader] = {};
  const size_t got = std::fread(header, 1, sizeof kHeader - 1, f);
  if (got != sizeof kHeader - 1 || std::memcmp(header, kHeader, sizeof kHeader - 1) != 0) {
    r.error = at_line(1, "the header is not #Linha#Coluna#");
    return r;
  }

  // Size line: R#C#
  const int64_t kMax = std::numeric_limits<int32_t>::max();
  int64_t dims[2] = {0, 0};
  const long size_start = std::ftell(f);
  for (int64_t& d : dims) {
    std::string why;
    const int first = std::fgetc(f);
    if (!read_number(f, first, '#', std::numeric_limits<int32_t>::min(), kMax, &d, &why)) {
      r.error = at_line(2, "expected the size line ROWS#COLUMNS# (" + why + ")");
      return r;
    }
    if (d < 1) {
      r.error = at_line(2, "a size is below 1");
      return r;
    }
  }
  if (std::fgetc(f) != '\n') {
    r.error = at_line(2, "expected the size line ROWS#COLUMNS# to end after the second '#'");
    return r;
  }
  if (size_start >= 0 && std::ftell(f) - size_start - 1 > kMaxSizeLine) {
    r.error =
        at_line(2, "the size line is longer than " + std::to_string(kMaxSizeLine) + " characters");
    return r;
  }

  const int64_t lo = std::numeric_limits<int32_t>::min();
  for (int64_t row = 0; row < dims[0]; ++row) {
    const int64_t line = row + 3;
    for (int64_t col = 0; col < dims[1]; ++col) {
      const int first = std::fgetc(f);
      if (first == EOF) {
        r.error = at_line(line, "the file ends before row " + std::to_string(row + 1) + " of " +
                                    std::to_string(dims[0]));
        return r;
      }
      if (first == '\n') {
        r.error = at_line(
            line, "expected " + std::to_string(dims[1]) + " numbers, found " + std::to_string(col));
        return r;
      }
      int64_t v = 0;
      std::string why;
      if (!read_number(f, first, ',', lo, kMax, &v, &why)) {
        r.error = at_line(line, why);
        return r;
      }
    }
    const int end = std::fgetc(f);
    if (end != '\n') {
      r.error = at_line(line, end == EOF ? "the file ends inside the line"
                                         : "more than " + std::to_string(dims[1]) + " numbers");
      return r;
    }
  }
  if (std::fgetc(f) != EOF) {
    r.error =
        at_line(dims[0] + 3, "text after the last of the " + std::to_string(dims[0]) + " rows");
    return r;
  }
  r.rows = static_cast<int32_t>(dims[0]);
  r.cols = static_cast<int32_t>(dims[1]);
  return r;
}

}  // namespace compare_products
