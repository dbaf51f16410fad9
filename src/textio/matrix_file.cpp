// The matrix text file: the writer, the line table and the readers built on it.
//
// get_line_file finds a line with one absolute seek computed from the line
// table; filein_matriz seeks once to the first row line and reads the rows,
// which the table puts one after the other, in one buffered pass. Files are
// user data, so nothing here trusts them: a line is only accepted when its
// newline comes within the room its table entry promises, offsets are summed
// in 64 bits, and a table entry that cannot belong to a line is refused.
//
// Some failures end the process (the messages below). At every such point
// this code holds no heap block and no stream lock of its own: a fuzz build
// replaces exit() with a jump back to its harness, which must find nothing
// leaked and the stream usable.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/textio.hpp>
#include <limits>

#include "common/messages.hpp"
#include "split_words.hpp"

namespace textio {
namespace {

constexpr char kHeader[] = "#Linha#Coluna#\n";
constexpr long kSizeLineOffset = 15;  // the header's length
constexpr int kSizeLineBuffer = 20;
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
// The entry after the last line of a table made by extrai_parametros_matriz:
// no line has a negative entry, so every reader stops there.
constexpr int32_t kEndOfTable = -1;

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
  if (offset < 0 || offset > std::numeric_limits<long>::max()) {
    return false;
  }
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
    if (c == EOF || i == room - 1) {
      break;
    }
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
      if (c == EOF) {
        break;
      }
      line[i] = static_cast<char>(c);
    }
    funlockfile(f);
  }
  if (len < 0) {
    fail_size_line();
  }
  line[len] = '\0';
  // As many words as characters at most, so the splitter cannot refuse it.
  int32_t rows = 0;
  detail::split_words(line, '#', len, &rows, 1);
  return rows;
}

struct scan_result {
  int64_t lines = 0;
  int64_t bytes = 0;
  bool stored = true;  // false when `store` refused an entry (or no buffer)
};

// Block size of the readers' own buffered reads: fread of whole blocks goes
// straight from the file into the buffer, a block stays in cache while it is
// worked on, and the heap serves it without a mapping of its own.
constexpr size_t kReadBlock = size_t{1} << 16;

// Reads the whole file from byte 0 and calls store(k, entry k) for every
// newline-terminated line: entry 0 is the length of line 0, later entries
// the length + 1. A last line without a newline gets no entry.
template <class Store>
scan_result scan_lines(FILE* f, Store&& store) {
  scan_result r;
  if (std::fseek(f, 0, SEEK_SET) != 0) {
    return r;
  }
  char* block = static_cast<char*>(std::malloc(kReadBlock));
  if (block == nullptr) {
    r.stored = false;
    return r;
  }
  int64_t count = 0;  // characters of the current line so far (+1 after line 0)
  for (size_t got; (got = std::fread(block, 1, kReadBlock, f)) > 0;) {
    r.bytes += static_cast<int64_t>(got);
    const char* p = block;
    const char* const end = block + got;
    for (const char* nl; (nl = static_cast<const char*>(std::memchr(p, '\n', end - p)));
         p = nl + 1) {
      count += nl - p;
      // Entries and the line count are 32-bit: a file beyond that is cut
      // short (the readers then refuse the lines it does not describe).
      if (r.lines == kInt32Max) {
        std::free(block);
        return r;
      }
      if (!store(r.lines, static_cast<int32_t>(count < kInt32Max ? count : kInt32Max))) {
        r.stored = false;
        std::free(block);
        return r;
      }
      ++r.lines;
      count = 1;
    }
    count += end - p;
  }
  std::free(block);
  return r;
}

// A line table that grows as the file is counted.
struct growing_table {
  int32_t* entries = nullptr;
  int64_t room = 0;

  bool put(int64_t k, int32_t value) {
    if (k == room && !resize(room == 0 ? 64 : room * 2)) {
      return false;
    }
    entries[k] = value;
    return true;
  }
  // Resizes to exactly `n` entries; entries past `used` become zero.
  bool resize(int64_t n, int64_t used = -1) {
    if (used < 0) {
      used = room < n ? room : n;
    }
    auto* p =
        static_cast<int32_t*>(std::realloc(entries, static_cast<size_t>(n) * sizeof(int32_t)));
    if (p == nullptr) {
      return false;
    }
    if (n > used) {
      std::memset(p + used, 0, static_cast<size_t>(n - used) * sizeof(int32_t));
    }
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
    if (n > kRoom - used_) {
      flush();
    }
    std::memcpy(buffer_ + used_, s, n);
    used_ += n;
  }
  void character(char c) {
    if (used_ >= kRoom) {
      flush();
    }
    buffer_[used_++] = c;
  }
  // The value in decimal, then `after`: one room check per element.
  void decimal(int32_t v, char after) {
    if (kRoom - used_ < kMaxElementText) {
      flush();
    }
    char* end = std::to_chars(buffer_ + used_, buffer_ + kRoom, v).ptr;
    *end++ = after;
    used_ = static_cast<size_t>(end - buffer_);
  }

 private:
  void flush() {
    if (used_ > 0) {
      std::fwrite(buffer_, 1, used_, f_);
    }
    used_ = 0;
  }

  static constexpr size_t kRoom = size_t{1} << 15;
  FILE* f_;
  size_t used_ = 0;
  char buffer_[kRoom + 1];  // + 1: the separator after a number that fills the room
};

// The row lines of a file, read in blocks in one pass from where the stream
// stands. line(n) hands out the next n bytes when the last of them is a
// newline (read_row refuses a line with another one before it); the buffer
// only grows for a line longer than a block, and only as far as the file
// really holds data.
class row_reader {
 public:
  explicit row_reader(FILE* f) : f_(f) {}
  row_reader(const row_reader&) = delete;
  row_reader& operator=(const row_reader&) = delete;
  ~row_reader() { release(); }

  // Frees the buffer; called before the process is ended on purpose.
  void release() {
    std::free(buffer_);
    buffer_ = nullptr;
    room_ = head_ = tail_ = 0;
  }

  const char* line(int32_t n) {
    const auto need = static_cast<size_t>(n);
    if (tail_ - head_ < need && !fill(need)) {
      return nullptr;
    }
    const char* p = buffer_ + head_;
    if (p[need - 1] != '\n') {
      return nullptr;
    }
    head_ += need;
    return p;
  }

 private:
  // Reads until `need` bytes stand unread in the buffer; false at the end of
  // the file (or when the heap refuses: ends the process).
  bool fill(size_t need) {
    if (head_ > 0) {
      std::memmove(buffer_, buffer_ + head_, tail_ - head_);
      tail_ -= head_;
      head_ = 0;
    }
    while (tail_ < need) {
      if (tail_ == room_) {
        const size_t bigger = room_ == 0 ? kReadBlock : room_ * 2;
        char* p = static_cast<char*>(std::realloc(buffer_, bigger));
        if (p == nullptr) {
          release();
          fail_out_of_memory();
        }
        buffer_ = p;
        room_ = bigger;
      }
      const size_t got = std::fread(buffer_ + tail_, 1, room_ - tail_, f_);
      if (got == 0) {
        return false;
      }
      tail_ += got;
    }
    return true;
  }

  FILE* f_;
  char* buffer_ = nullptr;
  size_t room_ = 0;
  size_t head_ = 0;  // first unread byte
  size_t tail_ = 0;  // end of the bytes read
};

// Splits one row line [p, end), *end being its newline, at its commas into
// `row` like splitv2 does (the text ends at the first NUL; words closed by a
// comma; anything after the last comma is dropped); columns the line does
// not fill get 0. False when the line holds more numbers than `col`, or a
// newline before `end`.
bool read_row(const char* p, const char* end, int32_t* row, int32_t col) {
  int32_t j = 0;
  bool checked = false;  // the rest of the line is known to hold no newline
  while (p < end) {
    // The writer's form, an optional minus and 1 to 10 digits closed by a
    // comma, converts in one walk that the newline at `end` stops. Ten
    // digits wrap in 32 bits to exactly the low 32 bits strtol would give.
    const bool negative = *p == '-';
    const char* const digits = p + (negative ? 1 : 0);
    const char* q = digits;
    uint32_t magnitude = 0;
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) < 10; ++q) {
      magnitude = magnitude * 10 + d;
    }
    int32_t value = 0;
    if (*q == ',' && q > digits && q - digits <= 10) {
      value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
    } else {
      // Anything else goes by the splitter's rules. Only digits, minus signs
      // and commas came before, so the line's first other character is
      // here: from here on it must hold no newline.
      if (!checked && std::memchr(p, '\n', static_cast<size_t>(end - p)) != nullptr) {
        return false;
      }
      checked = true;
      q = p;
      while (q < end && *q != ',' && *q != '\0') {
        ++q;
      }
      if (q == end || *q == '\0') {
        break;  // no word is closed any more
      }
      const auto len = static_cast<size_t>(q - p);
      if (detail::too_many_digits(p, len)) {
        detail::warn_too_many_digits();
      }
      value = detail::convert_word(p, len);
    }
    if (j >= col) {
      return false;
    }
    row[j++] = value;
    p = q + 1;
  }
  for (; j < col; ++j) {
    row[j] = 0;
  }
  return true;
}

}  // namespace

int32_t fileout_matriz(const dense_core::matriz* m, FILE* f) {
  if (f == nullptr) {
    return 0;
  }
  // Rows that do not exist cannot be written, and a header announcing them
  // would make a file that never reads back: write nothing.
  if (m == nullptr || (m->lin > 0 && m->mat == nullptr)) {
    std::puts(dense_msg::kMissingMatrix);
    return 0;
  }
  chunk_writer out(f);
  out.text(kHeader, sizeof kHeader - 1);
  out.decimal(m->lin, '#');
  out.decimal(m->col, '#');
  out.character('\n');
  for (int32_t i = 0; i < m->lin; ++i) {
    const int32_t* row = m->mat[i];
    for (int32_t j = 0; j < m->col; ++j) {
      out.decimal(row[j], ',');
    }
    out.character('\n');
  }
  return 0;
}

int32_t contabiliza_file(FILE* f, int32_t* tabela) {
  if (f == nullptr) {
    return 0;
  }
  const scan_result r = scan_lines(f, [tabela](int64_t k, int32_t entry) {
    if (tabela != nullptr) {
      tabela[k] = entry;
    }
    return true;
  });
  return static_cast<int32_t>(r.lines);
}

int32_t conta_line_file(FILE* f) {
  if (f == nullptr) {
    return 0;
  }
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
  if (f == nullptr) {
    return 0;
  }

  // The first reading of the size line (at byte 15) may end the process; it
  // happens before anything is allocated.
  read_size_line(f);

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

  // One entry per line the file really has, then the terminating -1 that
  // get_line_file stops at. The counts are handed out as the size line says:
  // a row count the file cannot hold is refused by filein_matriz, and no
  // table is ever sized by it.
  if (!table.resize(scan.lines + 1, scan.lines)) {
    std::free(table.entries);
    fail_out_of_memory();
  }
  table.entries[scan.lines] = kEndOfTable;
  const int32_t rows = counts[0];
  const int32_t cols = counts[1];

  *lin = rows;
  *col = cols;
  *tabela = table.entries;
  *nlinhas = lines;
  return 0;
}

char* get_line_file(FILE* f, int32_t nlinha, int /*ignorado*/, const int32_t* tabela) {
  if (f == nullptr || tabela == nullptr || nlinha < 1) {
    return nullptr;
  }
  // Line 1 starts at byte 0 and needs entry 0 + 1 bytes; line k >= 2 starts
  // after the lines before it and needs entry k - 1 bytes.
  int64_t start = 0;
  int64_t room = int64_t{tabela[0]} + 1;
  if (nlinha > 1) {
    start = 1;
    for (int32_t k = 0; k < nlinha - 1; ++k) {
      if (tabela[k] < 0) {
        return nullptr;
      }
      start += tabela[k];
    }
    room = tabela[nlinha - 1];
  }
  if (room < 1) {
    return nullptr;  // no line has an entry like that
  }
  char* line = static_cast<char*>(std::malloc(static_cast<size_t>(room)));
  if (line == nullptr) {
    return nullptr;
  }
  if (!seek_to(f, start) || read_line(f, line, room) < 0) {
    std::free(line);
    return nullptr;
  }
  return line;
}

int32_t filein_matriz(int32_t** mat, int32_t lin, int32_t col, FILE* f, const int32_t* tabela,
                      int32_t nlinhas) {
  if (int64_t{nlinhas} - 2 != lin) {
    fail_line_count();
  }
  if (lin <= 0) {
    return 0;
  }
  if (mat == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return 0;
  }
  // Without a stream or a table the row lines cannot be found at all.
  if (f == nullptr || tabela == nullptr || tabela[0] < 0 || tabela[1] < 0) {
    fail_line_count();
  }

  // The table puts every row line right after the one before, so one seek
  // to the first row and one buffered pass read them all.
  int64_t offset = 1 + int64_t{tabela[0]} + tabela[1];
  row_reader in(f);
  if (!seek_to(f, offset)) {
    fail_line_count();
  }
  for (int32_t r = 0; r < lin; ++r) {
    const int32_t entry = tabela[r + 2];
    // A line that is not as long as the table says (its newline earlier,
    // later, or missing) means the table and the file disagree on the
    // lines: refused as a line-count error.
    const char* line = entry < 1 ? nullptr : in.line(entry);
    if (line == nullptr) {
      in.release();
      fail_line_count();
    }
    if (!read_row(line, line + entry - 1, mat[r], col)) {
      in.release();
      fail_line_count();
    }
    offset += entry;
  }
  in.release();
  // The stream stands after the last row line, as if read line by line.
  seek_to(f, offset);
  return 0;
}

}  // namespace textio
