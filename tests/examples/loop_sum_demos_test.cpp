// The loop-sum lessons: a lost-update sum, a reduction, private copies, nested partial sums.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "program_output.hpp"
#include "support/child.hpp"

namespace {

using examples_test::format;
using examples_test::omp_env;
using examples_test::sorted;
using examples_test::split_lines;
using examples_test::with_prefix;
using test_support::run_program;

TEST(CombinedTotalDemo, PrintsTheExactSumOfSquaresForEveryTeamSize) {
  for (const char* team : {"1", "2", "3", "4", "7", "8", "16"}) {
    SCOPED_TRACE(std::string("OMP_NUM_THREADS=") + team);
    const auto r = run_program(COMBINED_TOTAL_DEMO, {}, omp_env(team));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "   Sum = 333383335000.000000\n");  // 1^2 + ... + 10000^2
  }
}

// The value of a "   Sum = %f" line, or NaN when the line has another shape.
double sum_value(const std::string& out) {
  double value = 0;
  int used = 0;
  if (std::sscanf(out.c_str(), "   Sum = %lf\n%n", &value, &used) != 1 ||
      static_cast<size_t>(used) != out.size() || out != format("   Sum = %f\n", value)) {
    return std::nan("");
  }
  return value;
}

TEST(UnguardedTotalDemo, OneThreadPrintsTheAscendingFloatSum) {
  // A thread limit of 1 caps the requested team of 8, so the additions run in order.
  auto env = omp_env("8");
  env["OMP_THREAD_LIMIT"] = "1";
  const auto r = run_program(UNGUARDED_TOTAL_DEMO, {}, env);
  EXPECT_EQ(r.status, 0);
  float sum = 0.0f;
  for (int i = 0; i < 10000; i++) {
    const float x = static_cast<float>(i);
    sum = sum + x * x;
  }
  EXPECT_EQ(r.out, format("   Sum = %f\n", static_cast<double>(sum)));
  const double exact = 333283335000.0;  // the sum of i^2 for i < 10000
  EXPECT_NEAR(sum_value(r.out), exact, exact * 1e-4);
}

TEST(UnguardedTotalDemo, EightThreadsNeverOvershootTheExactSum) {
  // Lost updates can only make the sum smaller; float rounding moves it a little either way.
  // The program asks for 8 threads whatever OMP_NUM_THREADS says.
  const double exact = 333283335000.0;
  for (int run = 0; run < 5; run++) {
    const auto r = run_program(UNGUARDED_TOTAL_DEMO, {}, omp_env("3"));
    EXPECT_EQ(r.status, 0);
    const double value = sum_value(r.out);
    EXPECT_GT(value, 0.0) << r.out;
    EXPECT_LE(value, exact * (1 + 1e-4)) << r.out;
  }
}

TEST(OwnCopyDemo, OneThreadLeavesMainsVariablesAlone) {
  const auto r = run_program(OWN_COPY_DEMO, {}, omp_env("1"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "   Private Sum(0) = 0.000000\n"
            "   Sum/Private_sum (999) = 0.000000 0.000000\n"
            "   Sum/Private_sum (0) = 0.000000 0.000000\n");
}

TEST(OwnCopyDemo, SharedSumHoldsOneThreadNumberAndPrivatesStayPrivate) {
  for (int team : {2, 3, 5}) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(team));
    const auto r = run_program(OWN_COPY_DEMO, {}, omp_env(std::to_string(team)));
    EXPECT_EQ(r.status, 0);
    const auto lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), static_cast<size_t>(team + 2));
    std::vector<std::string> expected_private;
    expected_private.reserve(team);
    for (int t = 0; t < team; t++) {
      expected_private.push_back(format("   Private Sum(%d) = %d.000000", t, t));
    }
    EXPECT_EQ(sorted({lines.begin(), lines.begin() + team}), expected_private);

    int last = -1;
    char tail = 0;
    ASSERT_EQ(std::sscanf(lines[team].c_str(), "   Sum/Private_sum (999) = %d.000000 0.000000%c",
                          &last, &tail),
              1)
        << lines[team];
    EXPECT_GE(last, 0);
    EXPECT_LT(last, team);
    EXPECT_EQ(lines[team], format("   Sum/Private_sum (999) = %d.000000 0.000000", last));
    EXPECT_EQ(lines[team + 1], format("   Sum/Private_sum (0) = %d.000000 0.000000", last));
  }
}

TEST(NestedSumDemo, OneOuterThreadWithNestingInactive) {
  const auto r = run_program(NESTED_SUM_DEMO, {}, omp_env("1"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "   Private Sum(0)(100.000000) = 100.000000\n"
            "   Private Sum = 100.000000\n");
}

// Checks the per-team lines: one per outer thread, each showing `partial`, and shared sums
// that are multiples of `partial` no larger than `outer` of them, and so is the final sum.
void check_nested_lines(const std::string& out, int outer, int partial) {
  const auto lines = split_lines(out);
  ASSERT_EQ(lines.size(), static_cast<size_t>(outer + 1));
  std::set<int> teams;
  for (int n = 0; n < outer; n++) {
    int tid = -1;
    int shown = -1;
    ASSERT_EQ(std::sscanf(lines[n].c_str(), "   Private Sum(%d)(%d.", &tid, &shown), 2) << lines[n];
    EXPECT_EQ(lines[n], format("   Private Sum(%d)(%d.000000) = %d.000000", tid, shown, partial));
    EXPECT_TRUE(teams.insert(tid).second) << "outer thread twice: " << tid;
    EXPECT_EQ(shown % partial, 0) << lines[n];
    EXPECT_GE(shown, partial) << lines[n];
    EXPECT_LE(shown, partial * outer) << lines[n];
  }
  EXPECT_EQ(teams.size(), static_cast<size_t>(outer));
  if (!teams.empty()) {
    EXPECT_EQ(*teams.rbegin(), outer - 1);
  }
  int final_sum = -1;
  EXPECT_EQ(std::sscanf(lines[outer].c_str(), "   Private Sum = %d.000000", &final_sum), 1);
  EXPECT_EQ(lines[outer], format("   Private Sum = %d.000000", final_sum));
  EXPECT_EQ(final_sum % partial, 0);
  EXPECT_GE(final_sum, partial);
  EXPECT_LE(final_sum, partial * outer);
}

TEST(NestedSumDemo, InactiveNestingGivesEveryOuterThreadTheWholeSum) {
  for (int outer : {2, 3, 4}) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(outer));
    const auto r = run_program(NESTED_SUM_DEMO, {}, omp_env(std::to_string(outer)));
    EXPECT_EQ(r.status, 0);
    check_nested_lines(r.out, outer, 100);
  }
}

TEST(NestedSumDemo, ActiveNestingAddsOnlyTheLastShareOfEachInnerTeam) {
  // 100 elements over 4 inner threads: the last holds 75..99, 25 of them; over 3 inner
  // threads the blocks are 34, 33 and 33.
  auto env = omp_env("2,4", 2);
  auto r = run_program(NESTED_SUM_DEMO, {}, env);
  EXPECT_EQ(r.status, 0);
  check_nested_lines(r.out, 2, 25);

  env = omp_env("3,3", 2);
  r = run_program(NESTED_SUM_DEMO, {}, env);
  EXPECT_EQ(r.status, 0);
  check_nested_lines(r.out, 3, 33);
}

}  // namespace
