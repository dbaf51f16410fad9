// The matrix text file: exact bytes written, the line table, and reading files back.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <string>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"
#include "textio_files.hpp"

using dense_core::matriz;
using test_support::capture_stdout;
using test_support::owned_matrix;
using textio_test::extract;
using textio_test::file_params;
using textio_test::kLineCount;
using textio_test::kSizeLineOverflow;
using textio_test::stream_of;
using textio_test::table_of;
using textio_test::take_line;
using textio_test::written_by;

namespace {

const char kTwoByThree[] = "#Linha#Coluna#\n2#3#\n1,2,3,\n-4,5,6,\n";
const char kIdentical[] = "RESULTADO: matrizes id\xc3\xaanticas.\n\n";

// The file of a matrix as "%d," per element would print it.
std::string printf_file(const owned_matrix& m) {
  const matriz* r = m.get();
  std::string s =
      "#Linha#Coluna#\n" + std::to_string(r->lin) + "#" + std::to_string(r->col) + "#\n";
  char number[16];
  for (int32_t i = 0; i < r->lin; ++i) {
    for (int32_t j = 0; j < r->col; ++j) {
      std::snprintf(number, sizeof number, "%d,", m.at(i, j));
      s += number;
    }
    s += '\n';
  }
  return s;
}

// Reads a matrix file the way a caller does: counts and table, a matrix from
// malocar, its rows from filein_matriz. Returns the matrix (mat null when the
// counts admit none); the caller releases it with mliberar.
matriz read_back(FILE* f, file_params& p) {
  extract(f, p);
  matriz m{nullptr, p.lin, p.col};
  if (p.lin > 0 && p.col > 0) {
    EXPECT_EQ(dense_core::malocar(&m), 1);
  }
  textio::filein_matriz(m.mat, p.lin, p.col, f, p.tabela, p.nlinhas);
  return m;
}

}  // namespace

TEST(FileoutMatriz, WritesHeaderSizeLineAndCommaClosedRows) {
  owned_matrix m(2, 3, {1, 2, 3, -4, 5, 6});
  EXPECT_EQ(written_by(m.get()), kTwoByThree);

  owned_matrix empty(0, 0);
  EXPECT_EQ(written_by(empty.get()), "#Linha#Coluna#\n0#0#\n");

  // Rows without columns are empty lines.
  owned_matrix no_columns(3, 0);
  EXPECT_EQ(written_by(no_columns.get()), "#Linha#Coluna#\n3#0#\n\n\n\n");

  owned_matrix extremes(1, 4, {INT32_MIN, INT32_MAX, 0, -1});
  EXPECT_EQ(written_by(extremes.get()), "#Linha#Coluna#\n1#4#\n-2147483648,2147483647,0,-1,\n");
}

TEST(FileoutMatriz, BytesMatchPrintfForAnyValues) {
  for (auto [rows, cols] : {std::pair{1, 1}, {7, 13}, {40, 700}, {300, 3}}) {
    owned_matrix m(rows, cols);
    test_support::fill_random(m, static_cast<uint32_t>(rows * 31 + cols), INT32_MIN, INT32_MAX);
    m.at(0, 0) = INT32_MIN;
    ASSERT_EQ(written_by(m.get()), printf_file(m)) << rows << "x" << cols;
  }
}

TEST(FileoutMatriz, ElevenCharacterNumberAtEachPlaceAroundTheBlockEnd) {
  // The writer hands the stream 32 KiB blocks and starts a new one when less
  // than the widest number and its comma (12 bytes) is left. INT32_MIN's
  // "-2147483648," is put at every start from well before the end of the
  // first block to past it, with more numbers after it in the same row.
  constexpr size_t kBlock = size_t{1} << 15;
  constexpr int32_t kCols = 16400;
  const size_t before_row = std::strlen("#Linha#Coluna#\n1#16400#\n");
  for (size_t start = kBlock - 24; start <= kBlock + 1; ++start) {
    // Zeros ("0,") and, for an odd length, one 10 ("10,") fill the row up
    // to the start; the numbers after INT32_MIN are all different.
    owned_matrix m(1, kCols);
    const size_t odd = (start - before_row) % 2;
    if (odd != 0) {
      m.at(0, 0) = 10;
    }
    const auto col = static_cast<int32_t>(odd + (start - before_row - 3 * odd) / 2);
    m.at(0, col) = INT32_MIN;
    for (int32_t j = col + 1; j < kCols; ++j) {
      m.at(0, j) = -j;
    }
    const std::string expected = printf_file(m);
    ASSERT_EQ(expected.compare(start, 12, "-2147483648,"), 0) << start;
    ASSERT_EQ(written_by(m.get()), expected) << "INT32_MIN at byte " << start;
  }
}

TEST(FileoutMatriz, WritesAtTheCurrentPosition) {
  owned_matrix m(1, 2, {8, -9});
  FILE* f = std::tmpfile();
  std::fputs("kept", f);
  textio::fileout_matriz(m.get(), f);
  std::rewind(f);
  char bytes[64] = {};
  std::fread(bytes, 1, sizeof bytes - 1, f);
  std::fclose(f);
  EXPECT_STREQ(bytes, "kept#Linha#Coluna#\n1#2#\n8,-9,\n");
}

TEST(FileoutMatriz, RefusesAMatrixWithoutStorage) {
  matriz missing{nullptr, 2, 3};
  std::string bytes = "unset";
  EXPECT_EQ(capture_stdout([&] { bytes = written_by(&missing); }), "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(capture_stdout([&] { bytes = written_by(nullptr); }), "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(bytes, "");
}

TEST(MatrixFile, TwoByThreeReadsBackWithItsTable) {
  auto f = stream_of(kTwoByThree);
  file_params p;
  matriz m{};
  EXPECT_EQ(capture_stdout([&] { m = read_back(f.get(), p); }), "");
  EXPECT_EQ(p.lin, 2);
  EXPECT_EQ(p.col, 3);
  EXPECT_EQ(p.nlinhas, 4);
  EXPECT_EQ(p.first(4), (std::vector<int32_t>{14, 5, 7, 8}));
  owned_matrix expected(2, 3, {1, 2, 3, -4, 5, 6});
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dense_core::mcomparar(&m, expected.get()), 1); }),
            kIdentical);
  dense_core::mliberar(&m);
}

TEST(MatrixFile, EveryWrittenFileReadsBackIdenticallyAndSilently) {
  // Full-range values: the sign of a ten-digit number is no digit, so no
  // value the writer produces is reported as too long. The wide shapes have
  // rows longer than the reader's block.
  for (auto [rows, cols] : {std::pair{1, 1},
                            {1, 1000},
                            {3, 7},
                            {17, 33},
                            {64, 5},
                            {250, 1},
                            {100, 100},
                            {3000, 7},
                            {2, 60000}}) {
    owned_matrix m(rows, cols);
    test_support::fill_random(m, static_cast<uint32_t>(rows + 1000 * cols), INT32_MIN, INT32_MAX);
    m.at(rows - 1, cols - 1) = INT32_MIN;
    m.at(0, 0) = INT32_MAX;
    m.at(rows / 2, cols / 2) = -1000000000;
    const std::string bytes = written_by(m.get());
    auto f = stream_of(bytes);
    file_params p;
    matriz back{};
    EXPECT_EQ(capture_stdout([&] { back = read_back(f.get(), p); }), "");
    EXPECT_EQ(p.nlinhas, rows + 2);
    EXPECT_EQ(p.first(p.nlinhas), table_of(bytes));
    ASSERT_NE(back.mat, nullptr);
    EXPECT_EQ(test_support::values_of(&back), m.values()) << rows << "x" << cols;
    // The stream stands after the last row line.
    EXPECT_EQ(std::ftell(f.get()), static_cast<long>(bytes.size()));
    dense_core::mliberar(&back);
  }
}

TEST(MatrixFile, RowNumbersOfElevenDigitsWarnOnceEachAndReadWhole) {
  // Ten digits, with or without a minus sign, read silently (every written
  // file does); an eleventh digit warns, the sign not counted, leading zeros
  // counted, and the low 32 bits are kept.
  const std::string warning = "ERROR: N\xEF\xBF\xBDmero mto grande.\n";
  struct row {
    const char* line;
    std::vector<int32_t> values;
    int warnings;
  };
  const row rows[] = {
      {"12345678901,7,", {-539222987, 7}, 1},
      {"7,-12345678901,", {7, 539222987}, 1},
      {"00000000007,-00000000007,", {7, -7}, 2},
  };
  for (const row& r : rows) {
    auto f = stream_of(std::string("#Linha#Coluna#\n1#2#\n") + r.line + "\n");
    file_params p;
    matriz m{};
    std::string expected;
    for (int i = 0; i < r.warnings; ++i) {
      expected += warning;
    }
    EXPECT_EQ(capture_stdout([&] { m = read_back(f.get(), p); }), expected) << r.line;
    ASSERT_NE(m.mat, nullptr) << r.line;
    EXPECT_EQ(test_support::values_of(&m), r.values) << r.line;
    dense_core::mliberar(&m);
  }
}

TEST(MatrixFile, EmptyMatrixReadsBackAsNoRows) {
  owned_matrix empty(0, 0);
  auto f = stream_of(written_by(empty.get()));
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 0);
  EXPECT_EQ(p.col, 0);
  EXPECT_EQ(p.nlinhas, 2);
  EXPECT_EQ(p.first(2), (std::vector<int32_t>{14, 5}));
  int32_t rc = -1;
  EXPECT_EQ(
      capture_stdout([&] { rc = textio::filein_matriz(nullptr, 0, 0, f.get(), p.tabela, 2); }), "");
  EXPECT_EQ(rc, 0);
}

TEST(MatrixFile, RowsWithoutColumnsReadBack) {
  auto f = stream_of("#Linha#Coluna#\n3#0#\n\n\n\n");
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 3);
  EXPECT_EQ(p.col, 0);
  EXPECT_EQ(p.nlinhas, 5);
  EXPECT_EQ(p.first(5), (std::vector<int32_t>{14, 5, 1, 1, 1}));
  owned_matrix m(3, 0);
  EXPECT_EQ(
      capture_stdout([&] { textio::filein_matriz(m.get()->mat, 3, 0, f.get(), p.tabela, 5); }), "");
}

TEST(ContabilizaFile, CountsOnlyNewlineTerminatedLines) {
  auto f = stream_of("ab\ncd\nef");
  std::vector<int32_t> table(4, -9);
  EXPECT_EQ(textio::contabiliza_file(f.get(), table.data()), 2);
  EXPECT_EQ(table, (std::vector<int32_t>{2, 3, -9, -9}));

  // Reading starts at byte 0 wherever the stream stands.
  std::fseek(f.get(), 4, SEEK_SET);
  EXPECT_EQ(textio::contabiliza_file(f.get(), nullptr), 2);

  auto g = stream_of("\n\nx\n");
  EXPECT_EQ(textio::contabiliza_file(g.get(), table.data()), 3);
  EXPECT_EQ(table, (std::vector<int32_t>{0, 1, 2, -9}));

  auto empty = stream_of("");
  EXPECT_EQ(textio::contabiliza_file(empty.get(), table.data()), 0);
}

TEST(GetLineFile, ReturnsWholeLinesWithoutNewlines) {
  auto f = stream_of(kTwoByThree);
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 1, 0, p.tabela)), "#Linha#Coluna#");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 2, 0, p.tabela)), "2#3#");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 4, 99, p.tabela)), "-4,5,6,");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 3, -1, p.tabela)), "1,2,3,");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 0, 0, p.tabela)), "<null>");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), -3, 0, p.tabela)), "<null>");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 2, 0, nullptr)), "<null>");
}

TEST(GetLineFile, FirstLineMayBeEmpty) {
  auto f = stream_of("\nsecond\n");
  int32_t table[2] = {};
  ASSERT_EQ(textio::contabiliza_file(f.get(), table), 2);
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 1, 0, table)), "");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 2, 0, table)), "second");
}

TEST(SizeLine, RowCountUnderBothNames) {
  for (auto [bytes, rows] : {std::pair{kTwoByThree, 2},
                             {"#Linha#Coluna#\n-17#4#\n", -17},
                             {"#Linha#Coluna#\n3#4\n", 3},
                             {"#Linha#Coluna#\n12\n", 0},
                             {"#Linha#Coluna#\n\n", 0},
                             {"#Linha#Coluna#\n#5#\n", 0}}) {
    auto f = stream_of(bytes);
    EXPECT_EQ(textio::conta_line_file(f.get()), rows) << bytes;
    EXPECT_EQ(textio::nr_line_file(f.get()), rows) << bytes;
  }
}

TEST(SizeLine, NineteenCharactersFit) {
  auto f = stream_of("#Linha#Coluna#\n0000000000000003#4#\n");
  int32_t rows = -1;
  const char warning[] = "ERROR: N\xEF\xBF\xBDmero mto grande.\n";
  EXPECT_EQ(capture_stdout([&] { rows = textio::conta_line_file(f.get()); }), warning);
  EXPECT_EQ(rows, 3);
}

TEST(SizeLineDeathTest, TooLongOrMissingEndsWithStatusOne) {
  for (const char* bytes : {"#Linha#Coluna#\n", "#Linha#Coluna#\n00000000000000003#4#\n",
                            "#Linha#Coluna#\n1#2#", "#Linha", ""}) {
    auto f = stream_of(bytes);
    file_params p;
    EXPECT_EXIT_STDOUT(textio::conta_line_file(f.get()), 1, kSizeLineOverflow) << bytes;
    EXPECT_EXIT_STDOUT(textio::nr_line_file(f.get()), 1, kSizeLineOverflow) << bytes;
    EXPECT_EXIT_STDOUT(extract(f.get(), p), 1, kSizeLineOverflow) << bytes;
  }
}

TEST(MatrixFile, SizeLineWithoutClosingHashGivesNoColumns) {
  auto f = stream_of("#Linha#Coluna#\n3#4\n1,\n2,\n3,\n");
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 3);
  EXPECT_EQ(p.col, 0);
  EXPECT_EQ(p.nlinhas, 5);
}

TEST(MatrixFile, MissingFinalCommaLeavesTheLastColumnZero) {
  auto f = stream_of("#Linha#Coluna#\n2#3#\n1,2,3\n4,5,6,\n");
  file_params p;
  matriz m{};
  EXPECT_EQ(capture_stdout([&] { m = read_back(f.get(), p); }), "");
  ASSERT_NE(m.mat, nullptr);
  EXPECT_EQ(test_support::values_of(&m), (std::vector<int32_t>{1, 2, 0, 4, 5, 6}));
  dense_core::mliberar(&m);
}

TEST(MatrixFile, AWiderDestinationGetsZerosPastTheLine) {
  auto f = stream_of(kTwoByThree);
  file_params p;
  extract(f.get(), p);
  owned_matrix wide(2, 5);
  textio::filein_matriz(wide.get()->mat, 2, 5, f.get(), p.tabela, p.nlinhas);
  EXPECT_EQ(wide.values(), (std::vector<int32_t>{1, 2, 3, 0, 0, -4, 5, 6, 0, 0}));
}

TEST(MatrixFileDeathTest, RowCountMustFitTheLineCount) {
  auto f = stream_of(kTwoByThree);
  file_params p;
  extract(f.get(), p);
  owned_matrix m(3, 3);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 3, 3, f.get(), p.tabela, p.nlinhas), 1,
                     kLineCount);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 1, 3, f.get(), p.tabela, p.nlinhas), 1,
                     kLineCount);
  // Nothing is read before the check: a null table is never touched.
  EXPECT_EXIT_STDOUT(textio::filein_matriz(nullptr, 5, 3, nullptr, nullptr, 4), 1, kLineCount);
}

TEST(MatrixFile, ExtractTableEndsAfterTheFilesLines) {
  // Three rows announced, two present: one entry per line, then the end.
  auto f = stream_of("#Linha#Coluna#\n3#2#\n1,2,\n3,4,\n");
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 3);
  EXPECT_EQ(p.col, 2);
  EXPECT_EQ(p.nlinhas, 4);
  EXPECT_EQ(p.first(5), (std::vector<int32_t>{14, 5, 5, 5, -1}));
}

TEST(GetLineFile, RefusesEveryLinePastTheTable) {
  auto f = stream_of(kTwoByThree);
  file_params p;
  extract(f.get(), p);
  for (const int32_t past : {5, 6, 1000, INT32_MAX}) {
    EXPECT_EQ(take_line(textio::get_line_file(f.get(), past, 0, p.tabela)), "<null>") << past;
  }
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 4, 0, p.tabela)), "-4,5,6,");
  // A table of no line at all: even line 1 is past it.
  auto g = stream_of("no newline at all\n");
  const int32_t none[] = {-1};
  EXPECT_EQ(take_line(textio::get_line_file(g.get(), 1, 0, none)), "<null>");
}
