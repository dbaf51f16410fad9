// The programs' one command-line reader: whole numbers by one rule, and the runner's refusals.
#include "tools/common/cli.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(Cli, WholeNumbersOfAnyLengthWithinTheRange) {
  struct {
    const char* text;
    int64_t hi;
    bool ok;
    int64_t value;
  } const cases[] = {
      {"8", 100, true, 8},
      {"0000000000008", 2147483647, true, 8},  // more digits than any int32 has
      {"000000000000000000000000000000000042", 100, true, 42},
      {"2147483647", 2147483647, true, 2147483647},
      {"2147483648", 2147483647, false, 0},
      {"99999999999999999999999999", 4294967295, false, 0},  // would overflow any integer
      {"100", 99, false, 0},
      {"", 99, false, 0},
      {"+1", 99, false, 0},
      {"-1", 99, false, 0},
      {" 1", 99, false, 0},
      {"1 ", 99, false, 0},
      {"1e3", 9999, false, 0},
  };
  for (const auto& c : cases) {
    int64_t got = -7;
    EXPECT_EQ(tool_common::parse_whole(c.text, 1, c.hi, &got), c.ok) << c.text;
    EXPECT_EQ(got, c.ok ? c.value : -7) << c.text;
  }
}

TEST(Cli, TheRunnerRefusesInTheSharedWords) {
  tool_common::shape_choice shape;
  int32_t repeat = 0;
  bool flag = false;
  std::vector<std::string> pair;
  const std::vector<tool_common::option> table = {
      tool_common::size_entry(&shape),
      tool_common::shape_entry(&shape),
      tool_common::repeat_entry(&repeat, 1000),
      tool_common::flag_entry("--quiet", &flag),
      {"--load", 2,
       [&pair](const std::vector<std::string>& v) {
         pair = v;
         return std::string();
       },
       "--load: expected two files"},
  };
  auto run = [&](std::vector<const char*> args) {
    args.insert(args.begin(), "program");
    return tool_common::read_options(static_cast<int>(args.size()), args.data(), table);
  };
  struct {
    std::vector<const char*> args;
    std::string error;
  } const refusals[] = {
      {{"--size", "0"}, "--size: expected a whole number from 1 to 2147483647, got '0'"},
      {{"--shape=3x4"},
       "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '3x4'"},
      {{"--repeat"}, "--repeat: missing value"},
      {{"--repeat=1001"}, "--repeat: expected a whole number from 1 to 1000, got '1001'"},
      {{"--quiet=1"}, "--quiet: takes no value"},
      {{"--load", "a"}, "--load: expected two files"},
      {{"--load=a", "b"}, "--load: expected two files"},
      {{"--nope"}, "unknown option '--nope' (see --help)"},
      {{"-x"}, "unknown option '-x' (see --help)"},
      {{"512"}, "unexpected argument '512' (see --help)"},
  };
  for (const auto& c : refusals) {
    EXPECT_EQ(run(c.args), c.error) << c.args[0];
  }

  ASSERT_EQ(run({"--size=0000000000008", "--quiet", "--load", "a", "b", "--repeat", "3"}), "");
  EXPECT_EQ(shape.rows, 8);
  EXPECT_EQ(shape.shape_option, "--size");
  EXPECT_EQ(shape.shape_conflict(), "");
  EXPECT_TRUE(flag);
  EXPECT_EQ(pair, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(repeat, 3);
  ASSERT_EQ(run({"--shape", "2x3x4"}), "");
  EXPECT_EQ(shape.shape_conflict(), "--size and --shape both fix the shape; drop one");
}

}  // namespace
