// The pieces the fuzz targets judge the library by: if the guard or a
// reference reader were wrong, every fuzz run would check the wrong thing.
#include "fuzz_support.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace fuzz_support;
using std::string_literals::operator""s;

TEST(ExitGuard, TurnsExitIntoAReturnWithItsStatus) {
  int reached = 0;
  auto body = [&] {
    reached = 1;
    std::exit(3);
  };
  const exit_record e = run_guarded(body);
  EXPECT_TRUE(e.exited);
  EXPECT_EQ(e.status, 3);
  EXPECT_EQ(reached, 1);

  auto normal = [&] { reached = 2; };
  const exit_record n = run_guarded(normal);
  EXPECT_FALSE(n.exited);
  EXPECT_EQ(reached, 2);
}

TEST(ExitGuard, InnerGuardCatchesFirstAndOuterStaysArmed) {
  int inner_status = -1;
  auto outer = [&] {
    auto inner = [] { std::exit(5); };
    inner_status = run_guarded(inner).status;
    std::exit(6);
  };
  const exit_record e = run_guarded(outer);
  EXPECT_EQ(inner_status, 5);
  EXPECT_TRUE(e.exited);
  EXPECT_EQ(e.status, 6);
}

TEST(ExitGuard, OutsideAGuardExitEndsTheProcess) {
  EXPECT_EXIT(std::exit(4), ::testing::ExitedWithCode(4), "");
}

TEST(ExitGuard, FailAbortsWithTheReason) {
  EXPECT_DEATH(fail("the reason"), "fuzz check failed: the reason");
}

TEST(ReferenceSplit, FollowsTheDocumentedWordRules) {
  EXPECT_EQ(reference_split("12#34#", '#', 2).values, (std::vector<int32_t>{12, 34}));
  EXPECT_EQ(reference_split("7,,9,", ',', 5).values, (std::vector<int32_t>{7, 0, 9}));
  EXPECT_EQ(reference_split("5#6", '#', 5).values, (std::vector<int32_t>{5}));
  EXPECT_TRUE(reference_split("", '#', 5).values.empty());
  EXPECT_TRUE(reference_split("123", '#', 5).values.empty());
  EXPECT_EQ(reference_split(" -3,+4,12abc,abc,", ',', 9).values,
            (std::vector<int32_t>{-3, 4, 12, 0}));
  // Low 32 bits of strtol: 2^32 + 1 is 1, a saturated LONG_MAX is -1.
  EXPECT_EQ(reference_split("4294967297#-2147483648#", '#', 2).values,
            (std::vector<int32_t>{1, INT32_MIN}));
  EXPECT_EQ(reference_split("123456789012345678901234567890#", '#', 1).values,
            (std::vector<int32_t>{-1}));
  // The text ends at its first NUL.
  EXPECT_EQ(reference_split("1#2\0003#"s, '#', 5).values, (std::vector<int32_t>{1}));
}

TEST(ReferenceSplit, ReportsTheWordLimitAtTheFirstDelimiterPastIt) {
  const split_result over = reference_split("1#2#3#", '#', 2);
  EXPECT_TRUE(over.over_limit);
  EXPECT_EQ(over.values, (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(reference_split("1#2#", '#', 2).over_limit);
  EXPECT_FALSE(reference_split("1#2#3", '#', 2).over_limit);
  EXPECT_TRUE(reference_split("#", '#', 0).over_limit);
  EXPECT_TRUE(reference_split("#", '#', -4).over_limit);
  EXPECT_FALSE(reference_split("no delimiter", '#', -4).over_limit);
}

TEST(ReferenceLines, TableCountsOnlyNewlineTerminatedLines) {
  const file_lines a = reference_lines("ab\ncd\nef");
  EXPECT_EQ(a.table, (std::vector<int32_t>{2, 3}));
  ASSERT_EQ(a.lines.size(), 2u);
  EXPECT_EQ(a.lines[1], "cd");

  const file_lines m = reference_lines("#Linha#Coluna#\n2#3#\n1,2,3,\n-4,5,6,\n");
  EXPECT_EQ(m.table, (std::vector<int32_t>{14, 5, 7, 8}));
  EXPECT_TRUE(reference_lines("").table.empty());
  EXPECT_EQ(reference_lines("\n\n").table, (std::vector<int32_t>{0, 1}));
}

TEST(ReferenceSizeLine, NeedsANewlineWithinTwentyCharactersFromByte15) {
  EXPECT_FALSE(reference_size_line("#Linha#Coluna#\n").ok);
  EXPECT_FALSE(reference_size_line("").ok);
  EXPECT_FALSE(
      reference_size_line("#Linha#\n3#4#\n").ok);  // short header: byte 15 is past the size line

  const size_line s = reference_size_line("#Linha#Coluna#\n3#4\n");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.rows, 3);
  EXPECT_EQ(reference_size_line("#Linha#Coluna#\n3\n").rows, 0);  // no closed field

  const std::string header = "#Linha#Coluna#\n";
  EXPECT_TRUE(reference_size_line(header + std::string(19, '7') + "\n").ok);
  EXPECT_FALSE(reference_size_line(header + std::string(20, '7') + "\n").ok);
  // CRLF: the size line at byte 15 is the empty rest of the header line.
  const size_line crlf = reference_size_line("#Linha#Coluna#\r\n3#4#\r\n");
  EXPECT_TRUE(crlf.ok);
  EXPECT_EQ(crlf.rows, 0);
}

TEST(ReferenceFile, IsTheDocumentedFormat) {
  EXPECT_EQ(reference_file(2, 3, {1, 2, 3, -4, 5, 6}), "#Linha#Coluna#\n2#3#\n1,2,3,\n-4,5,6,\n");
  EXPECT_EQ(reference_file(0, 0, {}), "#Linha#Coluna#\n0#0#\n");
  EXPECT_EQ(reference_file(2, 0, {}), "#Linha#Coluna#\n2#0#\n\n\n");
}

TEST(InMemoryFiles, HoldEveryByteAndSeekLikeFiles) {
  const std::string bytes = "a\0b\n\xff"s;
  FILE* f = open_bytes(bytes);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(read_all(f), bytes);
  EXPECT_EQ(std::fseek(f, 100, SEEK_SET), 0);  // past the end, as on a disk file
  EXPECT_EQ(std::fgetc(f), EOF);
  std::fclose(f);

  FILE* empty = open_bytes("");
  EXPECT_EQ(std::fgetc(empty), EOF);
  std::fclose(empty);
}

TEST(AllocatedSize, IsUnknownOrAtLeastTheRequest) {
  void* p = std::malloc(40);
  std::memset(p, 0, 40);
  const size_t n = allocated_size(p);
  EXPECT_TRUE(n == 0 || n >= 40);
  std::free(p);
}

}  // namespace
