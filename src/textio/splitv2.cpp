// The number splitter: words closed by a one-character delimiter, converted with strtol.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "split_words.hpp"
#include <dense/textio.hpp>

#include "common/messages.hpp"

namespace textio {
namespace detail {
namespace {

// A word of up to 11 characters fits this buffer with its terminating zero.
constexpr size_t kConversionBuffer = 12;
// More significant digits than this always overflow a 64-bit long.
constexpr size_t kMaxLongDigits = 19;

int32_t low_32_bits(long value) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t convert_word(const char* word, size_t len) {
  // The common word of a matrix file, a sign and at most 11 characters of
  // digits, is worked out directly: it cannot overflow a long, so strtol
  // would give exactly this value.
  if (len > 0 && len < kConversionBuffer) {
    const bool negative = word[0] == '-';
    size_t i = (negative || word[0] == '+') ? 1 : 0;
    if (i < len) {
      uint64_t magnitude = 0;
      for (; i < len && is_digit(word[i]); ++i)
        magnitude = magnitude * 10 + static_cast<uint64_t>(word[i] - '0');
      if (i == len) {
        const auto bits = static_cast<uint32_t>(magnitude);
        return static_cast<int32_t>(negative ? 0u - bits : bits);
      }
    }
  }
  if (len < kConversionBuffer) {
    // The buffer lives on the stack: the process may end (on purpose) right
    // after a conversion, and then no heap block may be left behind.
    char buffer[kConversionBuffer] = {};
    std::memcpy(buffer, word, len);
    return low_32_bits(std::strtol(buffer, nullptr, 10));
  }
  // A longer word is reduced to what strtol actually looks at: leading white
  // space is skipped, one sign is kept, leading zeros change nothing, and the
  // value depends only on the run of digits that follows. A run too long for
  // a long saturates, which twenty nines reproduce.
  size_t i = 0;
  while (i < len && std::isspace(static_cast<unsigned char>(word[i]))) ++i;
  char reduced[1 + kMaxLongDigits + 2] = {};
  size_t n = 0;
  if (i < len && (word[i] == '+' || word[i] == '-')) reduced[n++] = word[i++];
  while (i < len && word[i] == '0') ++i;
  const size_t first = i;
  while (i < len && is_digit(word[i])) ++i;
  const size_t digits = i - first;
  if (digits > kMaxLongDigits) {
    std::memset(reduced + n, '9', kMaxLongDigits + 1);
  } else {
    std::memcpy(reduced + n, word + first, digits);
  }
  return low_32_bits(std::strtol(reduced, nullptr, 10));
}

int32_t split_words(const char* texto, char delim, int32_t maximo, int32_t* saida,
                    int32_t capacidade) {
  int32_t count = 0;
  const char* start = texto;
  for (const char* p = texto; *p != '\0'; ++p) {
    if (*p != delim) continue;
    // The limit is checked at the delimiter, before its word is converted.
    if (count >= maximo) {
      std::printf(dense_msg::kTooManyWordsFmt, count);
      return -1;
    }
    const auto len = static_cast<size_t>(p - start);
    if (len > 10) std::puts(dense_msg::kNumberTooLong);
    const int32_t value = convert_word(start, len);
    if (count < capacidade) saida[count] = value;
    ++count;
    start = p + 1;
  }
  return count;
}

}  // namespace detail

int32_t splitv2(const char* texto, char delim, int32_t maximo, int32_t* saida) {
  if (texto == nullptr) return 0;
  // Too many words is a failure of the caller's input: status 1, not 0.
  if (detail::split_words(texto, delim, maximo, saida, maximo) < 0) exit(1);
  return 0;
}

}  // namespace textio
