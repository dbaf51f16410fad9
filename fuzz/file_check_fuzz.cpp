// Fuzz target: compare_products' strict check of a matrix file against the
// library's readers, on arbitrary bytes. The input is the file.
//
// compare_products reads a factor file with the library only after the check
// accepted it, and promises a refusal with a message instead of the readers'
// exits. So every file the check accepts must read, as compare_products reads
// it, without an exit and without a word on stdout (the readers' warnings
// would land in the table), as a matrix of the check's shape holding exactly
// the numbers its text shows. Whatever the readers refuse, the check must
// therefore refuse first. Files the check refuses are not read at all.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "tools/compare_products/matrix_file_check.hpp"

namespace {

using namespace fuzz_support;

// Sends stdout into an in-memory file while it lives; printed() says what
// arrived. libFuzzer may have closed or redirected stdout: whatever was there
// is put back.
class stdout_capture {
 public:
  stdout_capture() : saved_(::dup(STDOUT_FILENO)), into_(open_scratch()) {
    std::fflush(stdout);
    if (::dup2(::fileno(into_), STDOUT_FILENO) < 0) {
      fail("cannot redirect stdout");
    }
  }
  stdout_capture(const stdout_capture&) = delete;
  stdout_capture& operator=(const stdout_capture&) = delete;
  ~stdout_capture() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      ::dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
    } else {
      ::close(STDOUT_FILENO);
    }
    std::fclose(into_);
  }
  std::string printed() {
    std::fflush(stdout);
    return read_all(into_);
  }

 private:
  int saved_;
  FILE* into_;
};

// Every row line of an accepted file is C numbers each closed by a comma,
// all in the int32 range: the value of word j of line `text` is strtol's.
bool row_matches(std::string_view text, const int32_t* row, int32_t cols) {
  const split_result s = reference_split(text, ',', cols);
  if (s.over_limit || s.values.size() != static_cast<size_t>(cols)) {
    return false;
  }
  for (int32_t j = 0; j < cols; ++j) {
    if (row[j] != s.values[static_cast<size_t>(j)]) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FILE* f = open_bytes(bytes);
  const compare_products::matrix_file_shape shape = compare_products::check_matrix_file(f);
  if (!shape.error.empty()) {
    std::fclose(f);
    return 0;
  }
  check(shape.rows >= 1 && shape.cols >= 1, "the check accepted a shape below 1x1");

  // The reading compare_products does after the check, step by step.
  int32_t lin = -7, col = -7, nlinhas = -7;
  int32_t* table = nullptr;
  dense_core::matriz m{nullptr, 0, 0};
  std::string printed;
  {
    stdout_capture out;
    auto params = [&] { textio::extrai_parametros_matriz(f, &lin, &col, &table, &nlinhas); };
    check(!run_guarded(params).exited, "extrai_parametros_matriz ended on an accepted file");
    check(lin == shape.rows && col == shape.cols,
          "the readers found another shape than the check's");
    check(nlinhas == shape.rows + 2, "the readers counted other lines than the check's");
    m = dense_core::matriz{nullptr, lin, col};
    check(dense_core::malocar(&m) == 1, "malocar refused an accepted file's matrix");
    auto rows = [&] { textio::filein_matriz(m.mat, lin, col, f, table, nlinhas); };
    check(!run_guarded(rows).exited, "filein_matriz ended on an accepted file");
    printed = out.printed();
  }
  if (!printed.empty()) {
    std::fprintf(stderr, "the readers printed: %s\n", printed.c_str());
  }
  check(printed.empty(), "the readers printed a warning on an accepted file");

  const file_lines ref = reference_lines(bytes);
  for (int32_t r = 0; r < lin; ++r) {
    check(row_matches(ref.lines[static_cast<size_t>(r) + 2], m.mat[r], col),
          "the readers read other numbers than the accepted file shows");
  }
  dense_core::mliberar(&m);
  std::free(table);
  std::fclose(f);
  return 0;
}
