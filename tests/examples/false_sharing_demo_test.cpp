// false_sharing_demo: its four lines in their documented format, and its usage line. The times
// themselves are the machine's business and are never judged here.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "program_output.hpp"
#include "support/child.hpp"

namespace {

using examples_test::split_lines;
using test_support::run_program;

TEST(FalseSharingDemo, PrintsBothTimesAndTheirRatioInTheDocumentedFormat) {
  // name | arguments | the first line
  const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases{
      {"two threads", {"2", "300000"}, "threads 2, increments per thread 300000"},
      {"one thread", {"1", "5000"}, "threads 1, increments per thread 5000"},
      {"more threads than a line holds", {"9", "1000"}, "threads 9, increments per thread 1000"},
  };
  const std::regex same(R"(same cache line: (\d+\.\d{6}) s)");
  const std::regex own(R"(own cache lines: (\d+\.\d{6}) s)");
  const std::regex ratio(R"(ratio: (\d+\.\d{2})x)");
  for (const auto& [name, args, first] : cases) {
    SCOPED_TRACE(name);
    const auto r = run_program(FALSE_SHARING_DEMO, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    const auto lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], first);
    std::smatch s, o, q;
    ASSERT_TRUE(std::regex_match(lines[1], s, same)) << lines[1];
    ASSERT_TRUE(std::regex_match(lines[2], o, own)) << lines[2];
    ASSERT_TRUE(std::regex_match(lines[3], q, ratio)) << lines[3];
    // The ratio is the first time over the second (up to the printed digits).
    const double t_same = std::stod(s[1]);
    const double t_own = std::stod(o[1]);
    if (t_own >= 1e-3) {
      EXPECT_NEAR(std::stod(q[1]), t_same / t_own, 0.01 + 2e-6 * t_same / (t_own * t_own));
    }
  }
}

TEST(FalseSharingDemo, BadArgumentsPrintTheUsageLine) {
  const std::string usage =
      std::string("usage: ") + FALSE_SHARING_DEMO + " [THREADS (1-64) [INCREMENTS]]\n";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"0"}, {"65"}, {"x"}, {"2", "0"}, {"2", "10x"}, {"2", "10", "3"}}) {
    const auto r = run_program(FALSE_SHARING_DEMO, args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, usage);
  }
}

}  // namespace
