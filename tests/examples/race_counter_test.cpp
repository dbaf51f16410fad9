// race_counter: its command line, its thread lines, and how it fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "program_output.hpp"
#include "support/child.hpp"

namespace {

using examples_test::format;
using examples_test::sorted;
using examples_test::split_lines;
using examples_test::with_prefix;
using test_support::run_program;

// The closing line "<threads> <seconds> / total = <total>" with six decimals of seconds.
bool is_final_line(const std::string& line, int threads, int total) {
  const std::string head = format("%d ", threads);
  const std::string tail = format(" / total = %d", total);
  if (line.size() <= head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::string seconds = line.substr(head.size(), line.size() - head.size() - tail.size());
  const size_t dot = seconds.find('.');
  if (dot == 0 || dot == std::string::npos || seconds.size() != dot + 7) {
    return false;
  }
  for (size_t k = 0; k < seconds.size(); k++) {
    if (k != dot && (seconds[k] < '0' || seconds[k] > '9')) {
      return false;
    }
  }
  return true;
}

TEST(RaceCounter, WrongArgumentCountPrintsOnlyTheUsage) {
  const std::string usage = std::string("Uso: ") + RACE_COUNTER + " <nro processos> <n do loop>\n";
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"2"}, {"2", "10", "x"}}) {
    SCOPED_TRACE(std::to_string(args.size()) + " arguments");
    const auto r = run_program(RACE_COUNTER, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage);
  }
}

TEST(RaceCounter, CountsThatAreNotWholeInt32NumbersPrintOnlyTheUsage) {
  const std::string usage = std::string("Uso: ") + RACE_COUNTER + " <nro processos> <n do loop>\n";
  const std::vector<std::vector<std::string>> cases{{"abc", "10"},
                                                    {"2", "abc"},
                                                    {"99999999999", "10"},
                                                    {"2", "99999999999"},
                                                    {"2147483648", "1"},
                                                    {"-2147483649", "1"},
                                                    {"3x", "10"},
                                                    {"2", "10.5"},
                                                    {"", "10"},
                                                    {"2", " "}};
  for (const auto& args : cases) {
    SCOPED_TRACE("'" + args[0] + "' '" + args[1] + "'");
    const auto r = run_program(RACE_COUNTER, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage);
  }
}

TEST(RaceCounter, NoThreadForZeroOrNegativeCounts) {
  const std::vector<std::pair<std::string, int>> cases{
      {"0", 0}, {"-3", -3}, {"+0", 0}, {"-2147483648", INT32_MIN}};
  for (const auto& [arg, shown] : cases) {
    SCOPED_TRACE("thread count " + arg);
    const auto r = run_program(RACE_COUNTER, {arg, "100"});
    EXPECT_EQ(r.status, 0);
    const auto lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_TRUE(is_final_line(lines[0], shown, 0)) << lines[0];
    EXPECT_EQ(r.out.back(), '\n');
  }
}

TEST(RaceCounter, OneThreadEndsAtMinusTheLoopCount) {
  const auto r = run_program(RACE_COUNTER, {"1", "100000"});
  EXPECT_EQ(r.status, 0);
  const auto lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0], "(exec_thread) (-) thread_init(0); loop/total = 100000/0");
  EXPECT_EQ(lines[1], "(exec_thread) (-) thread_end(0); loop/total = 100000/-100000");
  EXPECT_TRUE(is_final_line(lines[2], 1, -100000)) << lines[2];
}

TEST(RaceCounter, LoopCountZeroOrBelowLeavesTheTotalAtZero) {
  for (const char* loop : {"0", "-5"}) {
    SCOPED_TRACE(std::string("loop count ") + loop);
    const auto r = run_program(RACE_COUNTER, {"6", loop});
    EXPECT_EQ(r.status, 0);
    const auto lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 13u) << r.out;
    // Nobody changes the counter, so every line is known; only their order is the threads'.
    std::vector<std::string> expected;
    for (int id = 0; id < 6; id++) {
      const char sign = id % 2 == 0 ? '-' : '+';
      expected.push_back(
          format("(exec_thread) (%c) thread_init(%d); loop/total = %s/0", sign, id, loop));
      expected.push_back(
          format("(exec_thread) (%c) thread_end(%d); loop/total = %s/0", sign, id, loop));
    }
    EXPECT_EQ(sorted({lines.begin(), lines.end() - 1}), sorted(expected));
    EXPECT_TRUE(is_final_line(lines.back(), 6, 0)) << lines.back();
  }
}

TEST(RaceCounter, SignFollowsTheIndexAndEachThreadReportsTwice) {
  const auto r = run_program(RACE_COUNTER, {"7", "20000"});
  EXPECT_EQ(r.status, 0);
  const auto lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 15u) << r.out;
  std::multiset<std::string> seen;
  for (size_t n = 0; n + 1 < lines.size(); n++) {
    char sign = 0;
    char phase[5] = {};
    int id = -1;
    int value = 0;
    ASSERT_EQ(std::sscanf(lines[n].c_str(),
                          "(exec_thread) (%c) thread_%4[a-z](%d); loop/total = 20000/%d", &sign,
                          phase, &id, &value),
              4)
        << lines[n];
    EXPECT_EQ(lines[n], format("(exec_thread) (%c) thread_%s(%d); loop/total = 20000/%d", sign,
                               phase, id, value));
    EXPECT_EQ(sign, id % 2 == 0 ? '-' : '+') << lines[n];
    // Three threads add and four subtract 20000 each: no value can leave that range.
    EXPECT_GE(value, -80000);
    EXPECT_LE(value, 60000);
    seen.insert(phase + std::to_string(id));
  }
  for (int id = 0; id < 7; id++) {
    EXPECT_EQ(seen.count("init" + std::to_string(id)), 1u) << id;
    EXPECT_EQ(seen.count("end" + std::to_string(id)), 1u) << id;
  }
  int final_total = 0;
  ASSERT_EQ(std::sscanf(lines.back().c_str(), "7 %*f / total = %d", &final_total), 1)
      << lines.back();
  EXPECT_TRUE(is_final_line(lines.back(), 7, final_total)) << lines.back();
  EXPECT_GE(final_total, -80000);
  EXPECT_LE(final_total, 60000);
}

// Runs race_counter under a small address-space limit, so that memory runs out early.
test_support::child_result run_limited(const std::string& threads, const std::string& loops) {
  const std::string script = "ulimit -s 8192 && ulimit -v 262144 && exec \"$0\" \"$@\"";
  return run_program("/bin/sh", {"-c", script, RACE_COUNTER, threads, loops});
}

TEST(RaceCounter, ReportsAnAllocationThatFails) {
  if (examples_test::built_with_sanitizer()) {
    GTEST_SKIP() << "sanitizers need the address space";
  }
  // 100 million handles and records need far more than the 256 MiB allowed.
  const auto r = run_limited("100000000", "1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ERROR: Out of memory\n");
}

TEST(RaceCounter, ReportsTheSecondAllocationFailingAlone) {
  if (examples_test::built_with_sanitizer()) {
    GTEST_SKIP() << "sanitizers need the address space";
  }
  // 12 million handles (96 MiB) fit in the 256 MiB allowed, and so would the records (192 MiB)
  // alone; both together do not, so whichever comes second fails while the first succeeded.
  const auto r = run_limited("12000000", "1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ERROR: Out of memory\n");
}

TEST(RaceCounter, JoinsOnlyTheThreadsItCouldCreate) {
  if (examples_test::built_with_sanitizer()) {
    GTEST_SKIP() << "sanitizers need the address space";
  }
  // 200 stacks of 8 MiB do not fit in 256 MiB: creation fails part way.
  const auto r = run_limited("200", "0");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("race_counter: cannot create thread "), std::string::npos) << r.err;
  const auto lines = split_lines(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(is_final_line(lines.back(), 200, 0)) << lines.back();
  const auto inits = with_prefix(lines, "(exec_thread) (");
  const size_t created = (lines.size() - 1) / 2;
  EXPECT_EQ(inits.size(), lines.size() - 1);
  EXPECT_GT(created, 0u);
  EXPECT_LT(created, 200u);
  // The threads that ran are exactly 0 .. created - 1, each with its two lines.
  std::vector<std::string> expected;
  for (size_t id = 0; id < created; id++) {
    const char sign = id % 2 == 0 ? '-' : '+';
    expected.push_back(format("(exec_thread) (%c) thread_init(%zu); loop/total = 0/0", sign, id));
    expected.push_back(format("(exec_thread) (%c) thread_end(%zu); loop/total = 0/0", sign, id));
  }
  EXPECT_EQ(sorted(inits), sorted(expected));
  EXPECT_EQ(r.err, format("race_counter: cannot create thread %zu of 200: %s\n", created,
                          "Resource temporarily unavailable"));
}

}  // namespace
