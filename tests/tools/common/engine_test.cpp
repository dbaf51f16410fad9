// The measurement engine's shared behaviour, tested once for every program that measures
// through it: the noise rule's bound, and the cells that must not present too little as a
// measurement (too few rounds, a call faster than the clock, a wide speedup).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/common/measurement.hpp"
#include "tools/common/report_cells.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/statistics.hpp"

namespace {

// A row of 100x100x100 whose timed calls took `seconds`, one a round, with its times derived.
tool_common::measured_row timed_row(const std::vector<double>& seconds) {
  tool_common::measured_row r;
  r.size = {100, 100, 100};
  r.seconds = seconds;
  for (size_t i = 0; i < seconds.size(); ++i) {
    r.rounds.push_back(static_cast<int32_t>(i));
  }
  tool_common::derive_times(r);
  return r;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(EngineMarks, TheNoiseRuleMarksIntervalsJustOutsidePlusMinusTenPercent) {
  // Six calls: the interval of the median is the fastest to the slowest.
  const struct {
    double low, high;
    bool noisy;
  } cases[] = {
      {0.91, 1.09, false}, {0.95, 1.0, false}, {0.89, 1.0, true},
      {1.0, 1.11, true},   {0.91, 1.11, true}, {0.5, 1.5, true},
  };
  for (const auto& c : cases) {
    const auto r = timed_row({c.low, 1.0, 1.0, 1.0, 1.0, c.high});
    ASSERT_DOUBLE_EQ(r.median_s, 1.0);
    EXPECT_EQ(tool_common::noisy(r), c.noisy) << c.low << ".." << c.high;
    tool_common::marks used;
    EXPECT_EQ(ends_with(tool_common::rate_cell(r, &used), "*"), c.noisy) << c.low;
    EXPECT_EQ(used.noisy, c.noisy);
    // A speedup's interval obeys the same rule, whether or not it holds 1.0.
    for (const double mid : {1.0, 2.0}) {
      const tool_common::summary s{mid, {c.low * mid, c.high * mid}, 6};
      tool_common::marks speedup_used;
      EXPECT_EQ(ends_with(tool_common::speedup_cell(s, false, 0.0, &speedup_used), "*"), c.noisy)
          << mid << " " << c.low << ".." << c.high;
      EXPECT_EQ(speedup_used.noisy, c.noisy);
    }
  }
}

TEST(EngineMarks, AWideSpeedupIsMarkedLikeANoisyRate) {
  tool_common::marks used;
  EXPECT_EQ(tool_common::speedup_cell({0.314, {0.165, 0.780}, 8}, false, 0.0, &used),
            "0.314x (0.165\xe2\x80\x93"
            "0.780)*");
  EXPECT_EQ(tool_common::speedup_cell({1.0, {0.134, 1.66}, 8}, false, 0.0, &used),
            "\xe2\x89\x88"
            "1x (0.134\xe2\x80\x93"
            "1.66)*");
  EXPECT_TRUE(used.noisy);
  EXPECT_TRUE(used.about_one);
}

TEST(EngineMarks, TooFewRoundsForAnIntervalSaySoInsteadOfPrintingOne) {
  tool_common::marks used;
  // One call: the old table printed "2.00 (2.00–2.00)", an exact-looking range of one sample.
  EXPECT_EQ(tool_common::rate_cell(timed_row({0.001}), &used), "2.00 (1 round)");
  EXPECT_EQ(tool_common::rate_cell(timed_row({0.001, 0.001, 0.001, 0.001, 0.001}), &used),
            "2.00 (5 rounds)");
  EXPECT_EQ(tool_common::speedup_cell({1.42, {1.42, 1.42}, 1}, false, 0.0, &used),
            "1.42x (1 round)");
  EXPECT_TRUE(used.too_few);
  EXPECT_FALSE(used.noisy);
  EXPECT_NE(tool_common::notes(used, {}, "thread")
                .find("(N rounds): too few rounds for a 95% "
                      "interval of the median, which needs 6"),
            std::string::npos);
  // Six are enough: the smallest and largest bound the median with 96.9%.
  tool_common::marks six;
  EXPECT_EQ(tool_common::rate_cell(timed_row(std::vector<double>(6, 0.001)), &six),
            "2.00 (2.00\xe2\x80\x93"
            "2.00)");
  EXPECT_FALSE(six.too_few);
  // The stop rule waits for an interval too.
  EXPECT_FALSE(tool_common::steady({1.0, 1.0, 1.0, 1.0, 1.0}, 0.05, 0.0));
  EXPECT_TRUE(tool_common::steady({1.0, 1.0, 1.0, 1.0, 1.0, 1.0}, 0.05, 0.0));
}

TEST(EngineMarks, ACallFasterThanTheClockGivesNoUpperEndOfTheRate) {
  // 2e6 operations; one call read 0 s.
  const auto r = timed_row({0.0, 1e-4, 1e-4, 1e-4, 1e-4, 1.5e-4});
  EXPECT_DOUBLE_EQ(r.gops, 20.0);
  tool_common::marks used;
  EXPECT_EQ(tool_common::rate_cell(r, &used), "20.0 (a call read 0 s)");
  // A row whose median read 0 s has no rate at all.
  EXPECT_EQ(tool_common::rate_cell(timed_row(std::vector<double>(6, 0.0)), &used), "-");
}

}  // namespace
