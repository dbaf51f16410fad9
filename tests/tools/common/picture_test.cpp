// The kit's pictures: what makes them honest to read (one time scale, the median call, the busy
// figure in the title, labels that do not overlap), checked on the gnuplot input.
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "tools/common/gnuplot.hpp"
#include "tools/common/timeline.hpp"

namespace {

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

tool_common::traced_product call_of(const std::string& name, double total_us) {
  return {name, total_us, {{"calling thread", {{"multiply", 0.0, total_us / 2}}}}};
}

// Bars of equal length are equal times only when every panel has the same axis: the longest call's.
TEST(Timeline, EveryPanelSharesTheLongestCallsTimeAxis) {
  const std::vector<tool_common::traced_product> calls = {
      call_of("short", 1000.0), call_of("long", 5000.0), call_of("middle", 2000.0)};
  EXPECT_DOUBLE_EQ(tool_common::shared_axis_ms(calls), 5.1);
  const std::string script = tool_common::timeline_script(calls, "title");
  EXPECT_EQ(count_of(script, "set xrange [0:5.1]"), 3u) << script;
  EXPECT_EQ(count_of(script, "set xrange"), 3u) << script;
  // Each panel's legend inside it: the key is set in every panel.
  EXPECT_EQ(count_of(script, "set key inside"), 3u) << script;
}

void sleep_ms(int ms) {
  timespec t{0, ms * 1000000L};
  nanosleep(&t, nullptr);
}

// The traced call kept is the one nearest the row's median, not the first nor the fastest.
TEST(Timeline, KeepsTheTracedCallNearestTheMedian) {
  EXPECT_EQ(tool_common::nearest_to({0.9, 0.2, 0.45, 0.6}, 0.5), 2u);
  EXPECT_EQ(tool_common::nearest_to({}, 0.5), 0u);
  const int lengths[] = {40, 2, 12, 2, 40};
  int call = 0;
  int after = 0;
  const auto kept = tool_common::trace_nearest_median(
      "row", 0.012, 5, 10.0, [&] { sleep_ms(lengths[call++]); }, [&] { ++after; });
  EXPECT_EQ(call, 5);
  EXPECT_EQ(after, 5);
  EXPECT_EQ(kept.traced, 5);
  EXPECT_NEAR(kept.total_us, 12000.0, 6000.0);
  EXPECT_DOUBLE_EQ(kept.median_us, 12000.0);
  // A budget spent stops the tracing early, but one call is always made.
  call = 0;
  EXPECT_EQ(tool_common::trace_nearest_median(
                "row", 0.0, 5, 0.0, [&] { ++call; }, [] {})
                .traced,
            1);
}

// On a busy machine the title says how busy, on every picture; text from outside stays one line.
TEST(Picture, TitleCarriesTheBusyFigureAndKeepsOutsideTextOnItsLine) {
  tool_common::machine_load busy;
  busy.known = true;
  busy.others_percent = 54.2;
  EXPECT_EQ(tool_common::picture_title("what", "cpu\nx", busy),
            "what\ncpu x\nBUSY MACHINE: other programs used 54% of its CPU time and the "
            "hypervisor 0% while this was measured");
  busy.others_percent = 9.0;
  EXPECT_EQ(tool_common::picture_title("what", "cpu", busy), "what\ncpu");
  busy.known = false;
  EXPECT_EQ(tool_common::picture_title("what", "cpu", busy),
            "what\ncpu\nhow busy the machine was is unknown: the rounds were too short to tell");
  EXPECT_EQ(tool_common::gnuplot_quoted_lines("a\"\nb"), "\"a\\\"\" . \"\\n\" . \"b\"");
}

// Labels that would touch are spread around their own heights, in their order; others stay put.
TEST(Picture, LabelsOfLinesEndingCloseTogetherAreSpreadApart) {
  const std::vector<double> placed = tool_common::spread_labels({3.0, 1.05, 1.0, 10.0}, 0.5);
  ASSERT_EQ(placed.size(), 4u);
  EXPECT_DOUBLE_EQ(placed[0], 3.0);
  EXPECT_DOUBLE_EQ(placed[2], 0.775);
  EXPECT_DOUBLE_EQ(placed[1], 1.275);
  EXPECT_DOUBLE_EQ(placed[3], 10.0);
  // Three on one spot: centred on it.
  EXPECT_EQ(tool_common::spread_labels({2.0, 2.0, 2.0}, 1.0), (std::vector<double>{1.0, 2.0, 3.0}));
}

// Noisy points are drawn apart from the results, and the key says what they are.
TEST(Picture, NoisyPointsAreDrawnHollowAndExplained) {
  tool_common::line_panel panel;
  panel.lines = {{"omp \"2\"", "#000000", true, {{128, 4, 3, 5, false}, {256, 8, 2, 30, true}}}};
  const std::string script = tool_common::line_panel_script(panel, "b");
  EXPECT_NE(script.find("128 4 3 5 0\n256 8 2 30 1\n"), std::string::npos) << script;
  EXPECT_NE(script.find("($5 != 0 ? $2 : NaN):3:4 with yerrorbars pt 6"), std::string::npos);
  EXPECT_NE(script.find("title \"hollow grey: noise"), std::string::npos) << script;
  EXPECT_NE(script.find("set label \"omp \\\"2\\\"\" at first 256"), std::string::npos) << script;
  panel.lines[0].points[1].noisy = false;
  EXPECT_EQ(tool_common::line_panel_script(panel, "b").find("hollow grey"), std::string::npos);
  // A line with no point (a row skipped at every size) has no label to place.
  panel.lines.push_back({"none", "#000000", false, {}});
  EXPECT_EQ(tool_common::line_panel_script(panel, "b").find("\"none\""), std::string::npos);
}

}  // namespace
