// Fuzz target: the matrix file readers on arbitrary bytes. The input is the
// file. Every reader runs on it as a user's program would call it, and each
// result is checked against plain readers of the same bytes: the line table,
// the counts, every line, every element. Deliberate exits must carry status 1
// and happen only where the file calls for them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

// Matrices larger than this are not read: the caller would need the memory,
// not the library.
constexpr int64_t kMaxElements = 1 << 16;

void check_line_table(FILE* f, const file_lines& ref) {
  // The caller's table has exactly one entry per line: anything more is a
  // heap overflow.
  auto* table = static_cast<int32_t*>(std::malloc(ref.table.size() * sizeof(int32_t) + 1));
  int32_t n = -1;
  auto call = [&] { n = textio::contabiliza_file(f, table); };
  const exit_record e = run_guarded(call);
  check(!e.exited, "contabiliza_file ended the process");
  check(n == static_cast<int32_t>(ref.table.size()), "contabiliza_file miscounted the lines");
  for (size_t k = 0; k < ref.table.size(); ++k) {
    check(table[k] == ref.table[k], "contabiliza_file stored a wrong line length");
  }
  std::free(table);
}

void check_row_count(FILE* f, const size_line& want, int32_t (*reader)(FILE*)) {
  int32_t rows = 0;
  auto call = [&] { rows = reader(f); };
  const exit_record e = run_guarded(call);
  if (!want.ok) {
    check(e.exited && e.status == 1, "a size line without a newline did not end with status 1");
    return;
  }
  check(!e.exited, "reading a well-formed size line ended the process");
  check(rows == want.rows, "the size line's row count is wrong");
}

void check_lines(FILE* f, const file_lines& ref, const int32_t* table) {
  for (size_t k = 1; k <= ref.lines.size(); ++k) {
    char* got = textio::get_line_file(f, static_cast<int32_t>(k), 0, table);
    check(got != nullptr, "get_line_file refused a counted line");
    const std::string_view want = ref.lines[k - 1];
    check(std::memcmp(got, want.data(), want.size()) == 0 && got[want.size()] == '\0',
          "get_line_file returned the wrong text");
    std::free(got);
  }
  for (const int32_t outside : {0, -1, INT32_MIN}) {
    char* got = textio::get_line_file(f, outside, 0, table);
    check(got == nullptr, "get_line_file accepted a line number below 1");
  }
  // Past the counted lines the table's terminating entry refuses, however
  // far past: nothing beyond it is read.
  const auto past_end = static_cast<int32_t>(ref.lines.size()) + 1;
  for (const int32_t outside : {past_end, past_end + 1, INT32_MAX}) {
    char* got = textio::get_line_file(f, outside, 0, table);
    check(got == nullptr, "get_line_file accepted a line number past the file's lines");
  }
}

// The elements the file holds for a matrix of lin x col: each row line split
// at commas like the readers do; columns the line does not fill are 0.
std::vector<int32_t> expected_elements(const file_lines& ref, int32_t lin, int32_t col) {
  std::vector<int32_t> out;
  for (int32_t r = 0; r < lin; ++r) {
    const size_t i = static_cast<size_t>(r) + 2;
    const split_result s = reference_split(ref.lines[i], ',', ref.table[i]);
    for (int32_t j = 0; j < col; ++j) {
      out.push_back(static_cast<size_t>(j) < s.values.size() ? s.values[j] : 0);
    }
  }
  return out;
}

void check_matrix(FILE* f, const file_lines& ref, int32_t lin, int32_t col, const int32_t* table,
                  int32_t nlinhas) {
  if (lin < 1 || col < 1 || int64_t{lin} * col > kMaxElements) {
    return;
  }
  dense_core::matriz m{nullptr, lin, col};
  check(dense_core::malocar(&m) == 1, "malocar refused a small matrix");
  dense_core::mgerar(&m, 0x7eadbeef);
  auto call = [&] { textio::filein_matriz(m.mat, lin, col, f, table, nlinhas); };
  const exit_record e = run_guarded(call);
  // A row line with more numbers than the columns is refused like a wrong
  // line count.
  bool too_many_numbers = false;
  for (int32_t r = 0; r < lin && nlinhas - 2 == lin; ++r) {
    const size_t i = static_cast<size_t>(r) + 2;
    too_many_numbers =
        too_many_numbers ||
        reference_split(ref.lines[i], ',', ref.table[i]).values.size() > static_cast<size_t>(col);
  }
  if (nlinhas - 2 != lin || too_many_numbers) {
    check(e.exited && e.status == 1,
          "filein_matriz accepted a file of the wrong line count or a row of too many numbers");
  } else {
    check(!e.exited, "filein_matriz ended the process on a file of the right line count");
    const std::vector<int32_t> want = expected_elements(ref, lin, col);
    size_t at = 0;
    for (int32_t i = 0; i < lin; ++i) {
      for (int32_t j = 0; j < col; ++j) {
        check(m.mat[i][j] == want[at++], "filein_matriz read a wrong element");
      }
    }

    // What was read writes back as the canonical form of the same values.
    FILE* out = open_scratch();
    textio::fileout_matriz(&m, out);
    check(read_all(out) == reference_file(lin, col, want), "fileout_matriz wrote other bytes");
    std::fclose(out);
  }
  dense_core::mliberar(&m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const file_lines ref = reference_lines(bytes);
  const size_line want_size = reference_size_line(bytes);
  FILE* f = open_bytes(bytes);

  check_line_table(f, ref);
  check_row_count(f, want_size, textio::conta_line_file);
  check_row_count(f, want_size, textio::nr_line_file);

  int32_t lin = -7, col = -7, nlinhas = -7;
  int32_t* table = nullptr;
  auto call = [&] { textio::extrai_parametros_matriz(f, &lin, &col, &table, &nlinhas); };
  const exit_record e = run_guarded(call);
  if (!want_size.ok) {
    check(e.exited && e.status == 1, "extrai_parametros_matriz passed a size line without newline");
  } else if (e.exited) {
    // Only the splitter may end it: a size line (read through the table)
    // with more fields than the file has lines.
    check(e.status == 1, "extrai_parametros_matriz ended the process with a status other than 1");
    check(ref.lines.size() >= 2 &&
              reference_split(ref.lines[1], '#', static_cast<int32_t>(ref.lines.size())).over_limit,
          "extrai_parametros_matriz ended the process on a readable size line");
  } else {
    check(nlinhas == static_cast<int32_t>(ref.lines.size()), "wrong line count handed out");
    check(table != nullptr, "no line table handed out");
    for (size_t k = 0; k < ref.table.size(); ++k) {
      check(table[k] == ref.table[k], "wrong line table entry");
    }
    // One entry per line, then the terminating -1; never sized by the row
    // count, which is handed out as the size line says.
    const size_t have = allocated_size(table);
    if (have != 0) {
      check(have >= (ref.table.size() + 1) * sizeof(int32_t), "line table too small");
    }
    check(table[ref.table.size()] == -1, "the line table does not end in -1");
    if (ref.lines.size() >= 2) {
      const split_result s =
          reference_split(ref.lines[1], '#', static_cast<int32_t>(ref.lines.size()));
      check(lin == (s.values.size() > 0 ? s.values[0] : 0), "wrong row count handed out");
      check(col == (s.values.size() > 1 ? s.values[1] : 0), "wrong column count handed out");
    }
    check_lines(f, ref, table);
    check_matrix(f, ref, lin, col, table, nlinhas);
  }
  std::free(table);
  std::fclose(f);
  return 0;
}
