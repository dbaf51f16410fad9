// Shared pieces of the fuzz targets: the exit guard, in-memory files, and
// plain reference readers that the library's results are checked against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_support {

// How a guarded call ended: returned normally, or called exit(status).
struct exit_record {
  bool exited = false;
  int status = 0;
};

// Runs fn(ctx). When the code it calls ends the process on purpose with
// exit(), control comes back here instead (the binary is linked with
// -Wl,--wrap=exit) and the status is reported. The frames between this call
// and exit() are abandoned with longjmp, so they must hold nothing with a
// destructor and no heap block that only they know of.
exit_record run_guarded_impl(void (*fn)(void*), void* ctx);

template <class F>
exit_record run_guarded(F& body) {
  return run_guarded_impl([](void* p) { (*static_cast<F*>(p))(); }, &body);
}

// Ends the run with a visible fault (abort), printing why on stderr. Used for
// every broken invariant so that libFuzzer and the replay tests both stop.
[[noreturn]] void fail(const char* what);

inline void check(bool ok, const char* what) {
  if (!ok) {
    fail(what);
  }
}

// A readable, seekable regular file in memory holding `bytes` (memfd), opened
// for reading at offset 0. Close it with fclose.
FILE* open_bytes(std::string_view bytes);

// An empty in-memory file opened for writing and reading.
FILE* open_scratch();

// Every byte of a stream, from offset 0.
std::string read_all(FILE* f);

// The low 32 bits of strtol(word, base 10), as the splitter stores them.
int32_t convert_word(std::string_view word);

// What the splitter must produce for `text` (up to its first NUL): the values
// of the words that `delim` closes, and whether it meets more delimiters
// than `maximo` allows (then `values` holds the words converted before that).
struct split_result {
  std::vector<int32_t> values;
  bool over_limit = false;
};
split_result reference_split(std::string_view text, char delim, int32_t maximo);

// The newline-terminated lines of a file (without their newlines) and its
// line table: entry 0 the length of line 0, entry k the length of line k + 1.
struct file_lines {
  std::vector<std::string_view> lines;
  std::vector<int32_t> table;
};
file_lines reference_lines(std::string_view bytes);

// The size line as read from byte 15: `ok` is false when no newline comes
// within 20 characters (the reader then ends the process); otherwise `rows`
// is the value of its first '#'-closed field (0 when there is none).
struct size_line {
  bool ok = false;
  int32_t rows = 0;
};
size_line reference_size_line(std::string_view bytes);

// The exact bytes the writer produces for a matrix given row by row.
std::string reference_file(int32_t lin, int32_t col, const std::vector<int32_t>& values);

// The allocation size of a heap block when a sanitizer allocator can tell it,
// otherwise 0 (meaning: unknown, do not check).
size_t allocated_size(const void* p);

}  // namespace fuzz_support
