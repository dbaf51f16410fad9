// Fuzz target: a matrix made from the input is written with fileout_matriz,
// must come out as exactly the documented bytes, and must read back
// identical through extrai_parametros_matriz, malocar and filein_matriz.
//
// Input: byte 0 the rows (mod 13), byte 1 the columns (mod 13), then the
// elements row by row, 4 bytes each, little-endian (missing bytes are 0).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

// A record with a row table even for 0 rows or 0 columns, which malocar
// refuses but the writer and the reader both handle.
struct shaped {
  dense_core::matriz m{nullptr, 0, 0};
  explicit shaped(int32_t lin, int32_t col) {
    m.lin = lin;
    m.col = col;
    if (lin >= 1 && col >= 1) {
      check(dense_core::malocar(&m) == 1, "malocar refused a small matrix");
      return;
    }
    m.mat = static_cast<int32_t**>(std::calloc(static_cast<size_t>(lin) + 1, sizeof(int32_t*)));
    for (int32_t i = 0; i < lin; ++i) {
      m.mat[i] = static_cast<int32_t*>(std::calloc(1, 4));
    }
  }
  ~shaped() {
    if (m.lin >= 1 && m.col >= 1) {
      dense_core::mliberar(&m);
      return;
    }
    for (int32_t i = 0; i < m.lin; ++i) {
      std::free(m.mat[i]);
    }
    std::free(m.mat);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const int32_t lin = data[0] % 13;
  const int32_t col = data[1] % 13;
  std::vector<int32_t> values(static_cast<size_t>(lin * col));
  for (size_t k = 0; k < values.size(); ++k) {
    uint32_t v = 0;
    for (size_t b = 0; b < 4; ++b) {
      const size_t at = 2 + 4 * k + b;
      if (at < size) {
        v |= static_cast<uint32_t>(data[at]) << (8 * b);
      }
    }
    values[k] = static_cast<int32_t>(v);
  }

  shaped source(lin, col);
  size_t at = 0;
  for (int32_t i = 0; i < lin; ++i) {
    for (int32_t j = 0; j < col; ++j) {
      source.m.mat[i][j] = values[at++];
    }
  }

  FILE* out = open_scratch();
  int32_t ret = -1;
  auto write = [&] { ret = textio::fileout_matriz(&source.m, out); };
  check(!run_guarded(write).exited, "fileout_matriz ended the process");
  check(ret == 0, "fileout_matriz did not return 0");
  const std::string written = read_all(out);
  std::fclose(out);
  const std::string want = reference_file(lin, col, values);
  check(written == want, "fileout_matriz wrote other bytes than the format says");

  FILE* in = open_bytes(written);
  int32_t rlin = -1, rcol = -1, nlinhas = -1;
  int32_t* table = nullptr;
  auto params = [&] { textio::extrai_parametros_matriz(in, &rlin, &rcol, &table, &nlinhas); };
  check(!run_guarded(params).exited,
        "extrai_parametros_matriz ended the process on a written file");
  check(rlin == lin && rcol == col, "a written file reads back with other counts");
  check(nlinhas == lin + 2, "a written file reads back with another line count");
  const file_lines ref = reference_lines(written);
  for (size_t k = 0; k < ref.table.size(); ++k) {
    check(table[k] == ref.table[k], "wrong line table entry for a written file");
  }

  shaped back(lin, col);
  for (int32_t i = 0; i < lin; ++i) {
    for (int32_t j = 0; j < col; ++j) {
      back.m.mat[i][j] =
          ~values[static_cast<size_t>(i) * static_cast<size_t>(col) + static_cast<size_t>(j)];
    }
  }
  auto read = [&] { textio::filein_matriz(back.m.mat, lin, col, in, table, nlinhas); };
  check(!run_guarded(read).exited, "filein_matriz ended the process on a written file");
  at = 0;
  for (int32_t i = 0; i < lin; ++i) {
    for (int32_t j = 0; j < col; ++j) {
      check(back.m.mat[i][j] == values[at++], "a written file read back a different element");
    }
  }

  for (int32_t k = 1; k <= nlinhas; ++k) {
    char* line = textio::get_line_file(in, k, 0, table);
    check(line != nullptr, "get_line_file refused a line of a written file");
    check(std::string(line) == std::string(ref.lines[static_cast<size_t>(k - 1)]),
          "get_line_file returned the wrong line of a written file");
    std::free(line);
  }
  std::free(table);
  std::fclose(in);
  return 0;
}
