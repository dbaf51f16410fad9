// Files that do not follow the format: every reader stays inside its memory and fails cleanly.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/textio.hpp>
#include <random>
#include <string>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"
#include "textio_files.hpp"

using test_support::capture_stdout;
using test_support::owned_matrix;
using textio_test::extract;
using textio_test::file_params;
using textio_test::kLineCount;
using textio_test::kSizeLineOverflow;
using textio_test::stream_of;
using textio_test::table_of;
using textio_test::take_line;

TEST(MalformedFile, NegativeRowCountIsHandedOutAndRejectedByTheReader) {
  const std::string bytes = "#Linha#Coluna#\n-2#3#\n1,2,3,\n";
  auto f = stream_of(bytes);
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, -2);
  EXPECT_EQ(p.col, 3);
  EXPECT_EQ(p.nlinhas, 3);
  EXPECT_EQ(p.first(3), table_of(bytes));
  owned_matrix m(1, 3);
  EXPECT_EXIT_STDOUT(
      textio::filein_matriz(m.get()->mat, p.lin, p.col, f.get(), p.tabela, p.nlinhas), 1,
      kLineCount);
}

TEST(MalformedFile, RowCountBeyondTheFileIsRefusedWhateverTheFilesSize) {
  // The table follows the lines really there, never the claimed count (two
  // thousand million rows would ask for an 8 GiB table of nothing), and the
  // reader refuses the count: a corrupt file never reads as an empty matrix.
  struct row {
    const char* bytes;
    int32_t lin, col, nlinhas;
  };
  const row rows[] = {
      {"#Linha#Coluna#\n99#3#\n", 99, 3, 2},
      {"#Linha#Coluna#\n5#3#\n", 5, 3, 2},
      {"#Linha#Coluna#\n99#1#\n1,2,3,\n", 99, 1, 3},
      {"#Linha#Coluna#\n2147483647#3#\n1,2,3,\n", INT32_MAX, 3, 3},
  };
  for (const row& r : rows) {
    auto f = stream_of(r.bytes);
    file_params p;
    extract(f.get(), p);
    EXPECT_EQ(p.lin, r.lin) << r.bytes;
    EXPECT_EQ(p.col, r.col) << r.bytes;
    EXPECT_EQ(p.nlinhas, r.nlinhas) << r.bytes;
    std::vector<int32_t> table = table_of(r.bytes);
    table.push_back(-1);
    EXPECT_EQ(p.first(p.nlinhas + 1), table) << r.bytes;
    owned_matrix m(1, 3);
    EXPECT_EXIT_STDOUT(
        textio::filein_matriz(m.get()->mat, p.lin, p.col, f.get(), p.tabela, p.nlinhas), 1,
        kLineCount)
        << r.bytes;
  }
}

TEST(MalformedFile, RowLineNotExactlyAsLongAsItsEntryIsRefused) {
  // The 2 x 2 file's lines are 14, 5, 5, 5 long; each table below puts a row
  // line's newline somewhere else than the file has it.
  const std::string bytes = "#Linha#Coluna#\n2#2#\n1,2,\n3,4,\n";
  for (const std::vector<int32_t>& table :
       {std::vector<int32_t>{14, 5, 8, 5}, std::vector<int32_t>{14, 5, 5, 9},
        std::vector<int32_t>{14, 5, 4, 6}, std::vector<int32_t>{14, 5, 5, 4}}) {
    auto f = stream_of(bytes);
    owned_matrix m(2, 2);
    EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, f.get(), table.data(), 4), 1,
                       kLineCount)
        << table[2] << "," << table[3];
  }
  // An entry that ends on the second row's newline swallows the first one.
  for (const char* rows : {"1,2,\n3,4,\n", "\n1,2,3,\n", "1,x,\n3,4,\n"}) {
    const std::string one = std::string("#Linha#Coluna#\n1#4#\n") + rows;
    const std::vector<int32_t> table = {14, 5, static_cast<int32_t>(std::strlen(rows))};
    auto f = stream_of(one);
    owned_matrix m(1, 4);
    EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 1, 4, f.get(), table.data(), 3), 1,
                       kLineCount)
        << rows;
  }
}

TEST(MalformedFile, RowLineWithMoreNumbersThanColumnsIsRefused) {
  struct row {
    const char* line;  // the second row line of a 2 x 2 file
    bool refused;
  };
  const row rows[] = {
      {"3,4,5,", true},   // one number too many
      {"3,4,,", true},    // an empty word is a number too (0)
      {"3,4,x,", true},   // so is a word without digits
      {"3,4,5", false},   // text after the last comma is no number
      {"3,4,\r", false},  // nor is a CRLF file's '\r'
      {"3,4,", false},
  };
  for (const row& r : rows) {
    const std::string bytes = std::string("#Linha#Coluna#\n2#2#\n1,2,\n") + r.line + "\n";
    auto f = stream_of(bytes);
    file_params p;
    extract(f.get(), p);
    owned_matrix m(2, 2);
    if (r.refused) {
      EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, f.get(), p.tabela, p.nlinhas), 1,
                         kLineCount)
          << r.line;
    } else {
      EXPECT_EQ(capture_stdout([&] {
                  textio::filein_matriz(m.get()->mat, 2, 2, f.get(), p.tabela, p.nlinhas);
                }),
                "")
          << r.line;
      EXPECT_EQ(m.values(), (std::vector<int32_t>{1, 2, 3, 4})) << r.line;
    }
  }
  // The destination's column count is what counts: a narrower one refuses.
  auto f = stream_of("#Linha#Coluna#\n2#3#\n1,2,3,\n-4,5,6,\n");
  file_params p;
  extract(f.get(), p);
  owned_matrix narrow(2, 1);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(narrow.get()->mat, 2, 1, f.get(), p.tabela, p.nlinhas),
                     1, kLineCount);
}

TEST(MalformedFile, MoreLinesThanAnnouncedAllGetEntries) {
  std::string bytes = "#Linha#Coluna#\n1#2#\n";
  for (int i = 0; i < 200; ++i) {
    bytes += std::to_string(i) + "," + std::to_string(-i) + ",\n";
  }
  auto f = stream_of(bytes);
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 1);
  EXPECT_EQ(p.col, 2);
  ASSERT_EQ(p.nlinhas, 202);
  EXPECT_EQ(p.first(202), table_of(bytes));
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 202, 0, p.tabela)), "199,-199,");
  owned_matrix m(1, 2);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 1, 2, f.get(), p.tabela, p.nlinhas), 1,
                     kLineCount);
}

TEST(MalformedFile, LineLongerThanItsEntryIsRefused) {
  // The table of one file used on another whose second row grew.
  const std::string original = "#Linha#Coluna#\n2#2#\n1,2,\n3,4,\n";
  const std::string grown = "#Linha#Coluna#\n2#2#\n1,2,\n3,4444,\n";
  const std::vector<int32_t> table = table_of(original);
  auto f = stream_of(grown);
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 4, 0, table.data())), "<null>");
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 3, 0, table.data())), "1,2,");
  owned_matrix m(2, 2);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, f.get(), table.data(), 4), 1,
                     kLineCount);

  // An entry no line can have (0 or negative) is refused the same way.
  const std::vector<int32_t> broken = {14, 5, -3, 5};
  auto g = stream_of(original);
  EXPECT_EQ(take_line(textio::get_line_file(g.get(), 3, 0, broken.data())), "<null>");
  EXPECT_EQ(take_line(textio::get_line_file(g.get(), 4, 0, broken.data())), "<null>");
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, g.get(), broken.data(), 4), 1,
                     kLineCount);
}

TEST(MalformedFile, StreamEndingInsideALineIsRefused) {
  const std::string whole = "#Linha#Coluna#\n2#2#\n1,2,\n3,4,\n";
  const std::vector<int32_t> table = table_of(whole);
  auto f = stream_of(whole.substr(0, whole.size() - 3));
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 4, 0, table.data())), "<null>");
  owned_matrix m(2, 2);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, f.get(), table.data(), 4), 1,
                     kLineCount);

  // A last row without its newline is no line: the count no longer fits.
  auto g = stream_of(whole.substr(0, whole.size() - 1));
  file_params p;
  extract(g.get(), p);
  EXPECT_EQ(p.lin, 2);
  EXPECT_EQ(p.nlinhas, 3);
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, g.get(), p.tabela, p.nlinhas), 1,
                     kLineCount);
}

// A stream that ends before the newline of the requested line: the line is
// refused with a null result and nothing is printed, whichever line it is.
TEST(MalformedFile, LineCutShortByTheEndOfTheStreamIsNullAndSilent) {
  const std::string whole = "#Linha#Coluna#\n2#2#\n1,2,\n3,4,\n";
  FILE* full = std::tmpfile();
  ASSERT_NE(full, nullptr);
  std::fputs(whole.c_str(), full);
  std::vector<int32_t> table(4, 0);
  ASSERT_EQ(textio::contabiliza_file(full, table.data()), 4);
  std::fclose(full);

  for (size_t cut : {whole.size() - 1, whole.size() - 3, size_t{22}, size_t{17}, size_t{3}}) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(whole.data(), 1, cut, f);
    std::fflush(f);
    for (int32_t line = 1; line <= 4; ++line) {
      // Lines whose newline still lies inside the cut are read as usual.
      size_t end = 0;
      for (int32_t k = 0; k < line; ++k) {
        end = whole.find('\n', end) + 1;
      }
      if (end <= cut) {
        continue;
      }
      char* got = reinterpret_cast<char*>(1);
      EXPECT_EQ(capture_stdout([&] { got = textio::get_line_file(f, line, 0, table.data()); }), "")
          << "cut " << cut << " line " << line;
      EXPECT_EQ(got, nullptr) << "cut " << cut << " line " << line;
      if (got != reinterpret_cast<char*>(1)) {
        std::free(got);
      }
    }
    std::fclose(f);
  }
}

TEST(MalformedFileDeathTest, EmptyFileEndsAsAMissingSizeLine) {
  auto f = stream_of("");
  file_params p;
  EXPECT_EXIT_STDOUT(extract(f.get(), p), 1, kSizeLineOverflow);
  EXPECT_EXIT_STDOUT(textio::conta_line_file(f.get()), 1, kSizeLineOverflow);
  // A stream that cannot even seek to byte 15 reads the same way.
  char bytes[] = "#Lin";
  FILE* m = fmemopen(bytes, 4, "r");
  EXPECT_EXIT_STDOUT(textio::conta_line_file(m), 1, kSizeLineOverflow);
  std::fclose(m);
}

TEST(MalformedFileDeathTest, TooManyFieldsInTheSizeLineEndThroughTheSplitter) {
  // Read through the table, the size line may hold at most as many fields as
  // the file has lines.
  auto f = stream_of("#Linha#Coluna#\n1#2#3#4#5#\n1,\n");
  file_params p;
  EXPECT_EXIT_STDOUT(extract(f.get(), p), 1,
                     "Error: Ultrapassou o n\xEF\xBF\xBDmero m\xEF\xBF\xBDximo de palavras (3)\n");
}

TEST(MalformedFile, CrlfLineEndsReadThroughTheTable) {
  // At byte 15 stands the '\n' of the header's CRLF: that reading sees an
  // empty size line. The reading through the table sees "2#3#\r", whose '\r'
  // closes no field, and every row's '\r' follows its last comma.
  const std::string bytes = "#Linha#Coluna#\r\n2#3#\r\n1,2,3,\r\n-4,5,6,\r\n";
  auto f = stream_of(bytes);
  EXPECT_EQ(textio::conta_line_file(f.get()), 0);
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 2);
  EXPECT_EQ(p.col, 3);
  EXPECT_EQ(p.nlinhas, 4);
  EXPECT_EQ(p.first(4), (std::vector<int32_t>{15, 6, 8, 9}));
  owned_matrix m(2, 3);
  EXPECT_EQ(capture_stdout(
                [&] { textio::filein_matriz(m.get()->mat, 2, 3, f.get(), p.tabela, p.nlinhas); }),
            "");
  EXPECT_EQ(m.values(), (std::vector<int32_t>{1, 2, 3, -4, 5, 6}));
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 2, 0, p.tabela)), "2#3#\r");
}

TEST(MalformedFile, TableFollowsTheRowCountReadThroughTheTable) {
  // The reading at byte 15 sees an empty line (row count 0); the counts
  // handed out say 5 rows; the table ends after the file's 3 lines.
  auto f = stream_of("#Linha#Coluna#\r\n5#3#\r\n1,2,3,\r\n");
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 5);
  EXPECT_EQ(p.nlinhas, 3);
  EXPECT_EQ(p.first(4), (std::vector<int32_t>{15, 6, 8, -1}));
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 7, 0, p.tabela)), "<null>");
}

TEST(MalformedFile, ShortHeaderIsFoundThroughTheTable) {
  // Byte 15 lands on a row line's newline; the table still finds line 1.
  const std::string bytes = "#L#C#\n2#2#\n1,2,\n3,4,\n";
  auto f = stream_of(bytes);
  EXPECT_EQ(textio::conta_line_file(f.get()), 0);
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 2);
  EXPECT_EQ(p.col, 2);
  EXPECT_EQ(p.nlinhas, 4);
  owned_matrix m(2, 2);
  textio::filein_matriz(m.get()->mat, 2, 2, f.get(), p.tabela, p.nlinhas);
  EXPECT_EQ(m.values(), (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST(MalformedFile, BinaryJunkGivesTheTableOfItsLines) {
  std::string bytes("\x00\xff\x01#Linha\x7f#Co\x00\n", 15);
  bytes += std::string("2#\x00#9#\n", 7);
  bytes += std::string("\xff,\x00\x01,,\n\n\x80\x80\x80\n", 12);
  bytes += "junk without newline";
  auto f = stream_of(bytes);
  file_params p;
  extract(f.get(), p);
  EXPECT_EQ(p.lin, 2);  // "2#" then the NUL ends the text
  EXPECT_EQ(p.col, 0);
  ASSERT_EQ(p.nlinhas, 5);
  EXPECT_EQ(p.first(5), table_of(bytes));
  EXPECT_EQ(p.first(5), (std::vector<int32_t>{14, 7, 7, 1, 4}));
  // Text reaches its first NUL; the line itself is all in the buffer.
  char* line = textio::get_line_file(f.get(), 3, 0, p.tabela);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(line, 6), std::string("\xff,\x00\x01,,", 6));
  std::free(line);
  EXPECT_EQ(take_line(textio::get_line_file(f.get(), 5, 0, p.tabela)), "\x80\x80\x80");
  owned_matrix m(3, 2, {9, 9, 9, 9, 9, 9});
  EXPECT_EXIT_STDOUT(textio::filein_matriz(m.get()->mat, 2, 2, f.get(), p.tabela, p.nlinhas), 1,
                     kLineCount);
}

TEST(MalformedFile, RandomJunkNeverLeavesTheTables) {
  // Files with a newline-terminated size line near byte 15 and at most two
  // '#' in it, so no reader ends the process; the rest is random bytes.
  std::mt19937 gen(77);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> small(0, 12);
  const std::string pieces = "0123456789-+,#\n \r";
  std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1);
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    for (int i = 0; i < 14; ++i) {
      char c = static_cast<char>(byte(gen));
      bytes += c == '\n' ? 'n' : c;
    }
    bytes += '\n';
    const int rows = small(gen);
    bytes += std::to_string(round % 3 == 0 ? rows : small(gen)) + "#" + std::to_string(small(gen)) +
             (round % 5 == 0 ? "" : "#") + "\n";
    for (int r = 0; r < rows; ++r) {
      for (int n = small(gen) * 3; n > 0; --n) {
        bytes += round % 2 ? pieces[piece(gen)] : static_cast<char>(byte(gen));
      }
      bytes += '\n';
    }
    for (int n = small(gen); n > 0; --n) {
      bytes += static_cast<char>(byte(gen));
    }

    auto f = stream_of(bytes);
    file_params p;
    capture_stdout([&] { extract(f.get(), p); });
    const std::vector<int32_t> expected = table_of(bytes);
    ASSERT_EQ(p.nlinhas, static_cast<int32_t>(expected.size())) << round;
    ASSERT_EQ(p.first(p.nlinhas), expected) << round;
    ASSERT_EQ(p.tabela[p.nlinhas], -1) << round;
    for (int32_t k = 1; k <= p.nlinhas; ++k) {
      char* line = textio::get_line_file(f.get(), k, 0, p.tabela);
      ASSERT_NE(line, nullptr) << round << " line " << k;
      std::free(line);
    }
    ASSERT_EQ(take_line(textio::get_line_file(f.get(), p.nlinhas + 1, 0, p.tabela)), "<null>");
    // A row line with more numbers than columns ends the process; the rest
    // are read here.
    bool fits = true;
    for (int32_t k = 3; k <= p.nlinhas; ++k) {
      // The text up to its first NUL, as the reader sees it.
      const std::string text = take_line(textio::get_line_file(f.get(), k, 0, p.tabela));
      fits = fits && std::count(text.begin(), text.end(), ',') <= p.col;
    }
    if (p.nlinhas == p.lin + 2 && p.col > 0 && fits) {
      owned_matrix m(p.lin > 0 ? p.lin : 1, p.col);
      capture_stdout(
          [&] { textio::filein_matriz(m.get()->mat, p.lin, p.col, f.get(), p.tabela, p.nlinhas); });
    }
  }
}
