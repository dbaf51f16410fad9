// The matrix text file: the writer, the line table and the readers built on it.
//
// Every reader finds a line with one absolute seek computed from the line
// table and reads it into a buffer whose size the table gives. Files are
// user data, so nothing here trusts them: a line is only accepted when its
// newline comes within the room its table entry promises, offsets are summed
// in 64 bits, and a table entry that cannot belong to a line is refused.
//
// Some failures end the process (the messages below). At every such point
// this code holds no heap block and no stream lock of its own: a fuzz build
// replaces exit() with a jump back to its harness, which must find nothing
// leaked and the stream usable.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "split_words.hpp"
#include <dense/textio.hpp>

#include "common/messages.hpp"

namespace textio {
namespace {

constexpr char kHeader[] = "#Linha#Coluna#\n";
constexpr long kSizeLineOffset = 15;  // the header's length
constexpr int kSizeLineBuffer = 20;
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

[[noreturn]] void fail_size_line() {
  std::puts(dense_msg::kSizeOverflow);
  exit(1);
}

[[noreturn]] void fail_line_count() {
  std::puts(dense_msg::kLineCountDiffers);
  exit(1);
}

[[noreturn]] void fail_out_of_memory() {
  std::puts(dense_msg::kOutOfMemory);
  exit(1);
}

bool seek_to(FILE* f, int64_t offset) {
  if (offset < 0 || offset > std::numeric_limits<long>::max()) return false;
  return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
}

// Reads from the current position up to a newline into `buffer` (room for
// `room` bytes, room >= 1), puts a terminating zero in place of the newline
// and returns the line's length. Returns -1 when the stream ends first or the
// line does not fit (its newline is not among the first `room` characters).
int64_t read_line(FILE* f, char* buffer, int64_t room) {
  int64_t len = -1;
  flockfile(f);
  for (int64_t i = 0;; ++i) {
    const int c = getc_unlocked(f);
    if (c == '\n') {
      buffer[i] = '\0';
      len = i;
      break;
    }
    if (c == EOF || i == room - 1) break;
    buffer[i] = static_cast<char>(c);
  }
  funlockfile(f);
  return len;
}

// The row count of the size line read at byte 15; ends the process when no
// newline comes within 20 characters (a file that ends, or fails to seek,
// before it reads as such a line).
int32_t read_size_line(FILE* f) {
  char line[kSizeLineBuffer];
  int len = -1;
  if (std::fseek(f, kSizeLineOffset, SEEK_SET) == 0) {
    flockfile(f);
    for (int i = 0; i < kSizeLineBuffer; ++i) {
      const int c = getc_unlocked(f);
      if (c == '\n') {
        len = i;
        break;
      }
      if (c == EOF) break;
      line[i] = static_cast<char>(c);
    }
    funlockfile(f);
  }
  if (len < 0) fail_size_line();
  line[len] = '\0';
  // As many words as characters at most, so the splitter cannot refuse it.
  int32_t rows = 0;
  detail::split_words(line, '#', len, &rows, 1);
  return rows;
}

struct scan_result {
  int64_t lines = 0;
  int64_t bytes = 0;
  bool stored = true;  // false when `store` refused an entry
};

// Reads the whole file from byte 0 and calls store(k, entry k) for every
// newline-terminated line: entry 0 is the length of line 0, later entries
// the length + 1. A last line without a newline gets no entry.
template <class Store>
scan_result scan_lines(FILE* f, Store&& store) {
  scan_result r;
  if (std::fseek(f, 0, SEEK_SET) != 0) return r;
  int64_t count = 0;
  flockfile(f);
  for (int c; (c = getc_unlocked(f)) != EOF;) {
    ++r.bytes;
    if (c != '\n') {
      ++count;
      continue;
    }
    // Entries and the line count are 32-bit: a file beyond that is cut
    // short (the readers then refuse the lines it does not describe).
    if (r.lines == kInt32Max) break;
    if (!store(r.lines, static_cast<int32_t>(count < kInt32Max ? count : kInt32Max))) {
      r.stored = false;
      break;
    }
    ++r.lines;
    count = 1;
  }
  funlockfile(f);
  return r;
}

// A line table that grows as the file is counted.
struct growing_table {
  int32_t* entries = nullptr;
  int64_t room = 0;

  bool put(int64_t k, int32_t value) {
    if (k == room && !resize(room == 0 ? 64 : room * 2)) return false;
    entries[k] = value;
    return true;
  }
  // Resizes to exactly `n` entries; entries past `used` become zero.
  bool resize(int64_t n, int64_t used = -1) {
    if (used < 0) used = room < n ? room : n;
    auto* p =
        static_cast<int32_t*>(std::realloc(entries, static_cast<size_t>(n) * sizeof(int32_t)));
    if (p == nullptr) return false;
    if (n > used) std::memset(p + used, 0, static_cast<size_t>(n - used) * sizeof(int32_t));
    entries = p;
    room = n;
    return true;
  }
};

// Text of up to 11 characters per element plus the comma.
constexpr size_t kMaxElementText = 12;

// Collects the writer's output in a stack block and hands it to the stream
// in large pieces; the bytes are exactly those of "%d," per element.
class chunk_writer {
 public:
  explicit chunk_writer(FILE* f) : f_(f) {}
  chunk_writer(const chunk_writer&) = delete;
  chunk_writer& operator=(const chunk_writer&) = delete;
  ~chunk_writer() { flush(); }

  void text(const char* s, size_t n) {
    if (n > kRoom - used_) flush();
    std::memcpy(buffer_ + used_, s, n);
    used_ += n;
  }
  void character(char c) {
    if (used_ == kRoom) flush();
    buffer_[used_++] = c;
  }
  void decimal(int32_t v) {
    if (kRoom - used_ < kMaxElementText) flush();
    uint32_t u = static_cast<uint32_t>(v);
    if (v < 0) {
      buffer_[used_++] = '-';
      u = 0u - u;  // the magnitude, also for the most negative value
    }
    char digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    while (n > 0) buffer_[used_++] = digits[--n];
  }

 private:
  void flush() {
    if (used_ > 0) std::fwrite(buffer_, 1, used_, f_);
    used_ = 0;
  }

  static constexpr size_t kRoom = 8192;
  FILE* f_;
  size_t used_ = 0;
  char buffer_[kRoom];
};

}  // namespace

int32_t fileout_matriz(const dense_core::matriz* m, FILE* f) {
  if (f == nullptr) return 0;
  // Rows that do not exist cannot be written, and a header announcing them
  // would make a file that never reads back: write nothing.
  if (m == nullptr || (m->lin > 0 && m->mat == nullptr)) {
    std::puts(dense_msg::kMissingMatrix);
    return 0;
  }
  chunk_writer out(f);
  out.text(kHeader, sizeof kHeader - 1);
  out.decimal(m->lin);
  out.character('#');
  out.decimal(m->col);
  out.text("#\n", 2);
  for (int32_t i = 0; i < m->lin; ++i) {
    const int32_t* row = m->mat[i];
    for (int32_t j = 0; j < m->col; ++j) {
      out.decimal(row[j]);
      out.character(',');
    }
    out.character('\n');
  }
  return 0;
}

int32_t contabiliza_file(FILE* f, int32_t* tabela) {
  if (f == nullptr) return 0;
  const scan_result r = scan_lines(f, [tabela](int64_t k, int32_t entry) {
    if (tabela != nullptr) tabela[k] = entry;
    return true;
  });
  return static_cast<int32_t>(r.lines);
}

int32_t conta_line_file(FILE* f) {
  if (f == nullptr) return 0;
  return read_size_line(f);
}

int32_t nr_line_file(FILE* f) { return conta_line_file(f); }

int32_t extrai_parametros_matriz(FILE* f, int32_t* lin, int32_t* col, int32_t** tabela,
                                 int32_t* nlinhas) {
  // The outputs hold nothing until the end, so an exit on the way leaves the
  // caller owning no half-made table.
  *lin = 0;
  *col = 0;
  *tabela = nullptr;
  *nlinhas = 0;
  if (f == nullptr) return 0;

  // The first reading of the size line (at byte 15) may end the process; it
  // happens before anything is allocated.
  const int32_t first_rows = read_size_line(f);

  growing_table table;
  const scan_result scan =
      scan_lines(f, [&table](int64_t k, int32_t entry) { return table.put(k, entry); });
  if (!scan.stored) {
    std::free(table.entries);
    fail_out_of_memory();
  }
  const auto lines = static_cast<int32_t>(scan.lines);

  // The second reading, through the table: line 1 wherever line 0 ends.
  int32_t counts[2] = {0, 0};
  if (lines >= 2) {
    const int32_t room = table.entries[1];  // >= 1 for every line after the first
    char* line = static_cast<char*>(std::malloc(static_cast<size_t>(room)));
    if (line == nullptr) {
      std::free(table.entries);
      fail_out_of_memory();
    }
    if (seek_to(f, int64_t{table.entries[0]} + 1) && read_line(f, line, room) >= 0 &&
        detail::split_words(line, '#', lines, counts, 2) < 0) {
      std::free(line);
      std::free(table.entries);
      exit(1);  // the splitter has printed why
    }
    std::free(line);
  }

  // Every line gets an entry, and a row count gets its rows + 2 entries so
  // that readers going by the row count stay inside the table. A count that
  // the file cannot hold (more lines than it has bytes) would only ask for a
  // huge block of nothing: such a size line is refused as 0 x 0.
  int32_t rows = counts[0];
  int32_t cols = counts[1];
  if (int64_t{rows} + 2 > scan.bytes) {
    rows = 0;
    cols = 0;
  }
  int64_t need = scan.lines > 2 ? scan.lines : 2;
  if (int64_t{rows} + 2 > need) need = int64_t{rows} + 2;
  if (int64_t{first_rows} + 2 > need && int64_t{first_rows} + 2 <= scan.bytes)
    need = int64_t{first_rows} + 2;
  if (!table.resize(need, scan.lines)) {
    std::free(table.entries);
    fail_out_of_memory();
  }

  *lin = rows;
  *col = cols;
  *tabela = table.entries;
  *nlinhas = lines;
  return 0;
}

char* get_line_file(FILE* f, int32_t nlinha, int /*ignorado*/, const int32_t* tabela) {
  if (f == nullptr || tabela == nullptr || nlinha < 1) return nullptr;
  // Line 1 starts at byte 0 and needs entry 0 + 1 bytes; line k >= 2 starts
  // after the lines before it and needs entry k - 1 bytes.
  int64_t start = 0;
  int64_t room = int64_t{tabela[0]} + 1;
  if (nlinha > 1) {
    start = 1;
    for (int32_t k = 0; k < nlinha - 1; ++k) {
      if (tabela[k] < 0) return nullptr;
      start += tabela[k];
    }
    room = tabela[nlinha - 1];
  }
  if (room < 1) return nullptr;  // no line has an entry like that
  char* line = static_cast<char*>(std::malloc(static_cast<size_t>(room)));
  if (line == nullptr) return nullptr;
  if (!seek_to(f, start) || read_line(f, line, room) < 0) {
    std::free(line);
    return nullptr;
  }
  return line;
}

int32_t filein_matriz(int32_t** mat, int32_t lin, int32_t col, FILE* f, const int32_t* tabela,
                      int32_t nlinhas) {
  if (int64_t{nlinhas} - 2 != lin) fail_line_count();
  if (lin <= 0) return 0;
  if (mat == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return 0;
  }
  // Without a stream or a table the row lines cannot be found at all.
  if (f == nullptr || tabela == nullptr) fail_line_count();
  if (tabela[0] < 0 || tabela[1] < 0) fail_line_count();

  // The offset of each row line is a running sum, so the whole read costs
  // the size of the file; every line is still reached by an absolute seek.
  int64_t offset = 1 + int64_t{tabela[0]} + tabela[1];
  char* line = nullptr;
  int32_t room = 0;
  for (int32_t r = 0; r < lin; ++r) {
    const int32_t entry = tabela[r + 2];
    // A line that is not where, or not as long as, the table says means the
    // table and the file disagree on the lines: refuse as a line-count error.
    if (entry < 1 || !seek_to(f, offset)) {
      std::free(line);
      fail_line_count();
    }
    if (entry > room) {
      char* bigger = static_cast<char*>(std::realloc(line, static_cast<size_t>(entry)));
      if (bigger == nullptr) {
        std::free(line);
        fail_out_of_memory();
      }
      line = bigger;
      room = entry;
    }
    if (read_line(f, line, entry) < 0) {
      std::free(line);
      fail_line_count();
    }
    // A line of entry - 1 characters holds fewer commas than `entry`, so the
    // word limit cannot be reached; values past `col` are dropped.
    int32_t* row = mat[r];
    const int32_t found = detail::split_words(line, ',', entry, row, col);
    for (int32_t j = found > 0 ? found : 0; j < col; ++j) row[j] = 0;
    offset += entry;
  }
  std::free(line);
  return 0;
}

}  // namespace textio
