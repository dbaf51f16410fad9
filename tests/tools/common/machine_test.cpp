// How busy the machine was, from two /proc/stat snapshots and the measuring process's own time.
#include "tools/common/machine.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Machine, OthersAndStealFromTwoSnapshots) {
  // user nice system idle iowait irq softirq steal guest guest_nice
  const char* before = "cpu  1000 0 200 5000 100 0 10 40 0 0\ncpu0 500 0 100 2500 50 0 5 20 0 0\n";
  const char* after = "cpu  1800 0 300 5200 100 0 10 140 0 0\ncpu0 900 0 150 2600 50 0 5 70 0 0\n";
  tool_common::cpu_ticks b;
  tool_common::cpu_ticks a;
  ASSERT_TRUE(tool_common::parse_cpu_ticks(before, &b));
  ASSERT_TRUE(tool_common::parse_cpu_ticks(after, &a));
  EXPECT_EQ(b.busy, 1210u);
  EXPECT_EQ(b.idle, 5100u);
  EXPECT_EQ(b.steal, 40u);
  // 1200 ticks in all: 900 busy, 200 idle, 100 stolen. We used 4 s = 400 ticks at 100 Hz.
  const auto load = tool_common::load_between(b, a, 4.0, 100.0);
  EXPECT_TRUE(load.known);
  EXPECT_DOUBLE_EQ(load.others_percent, 100.0 * 500 / 1200);
  EXPECT_DOUBLE_EQ(load.steal_percent, 100.0 * 100 / 1200);
  // Sampled ticks can count a little less than our own time: never below zero.
  EXPECT_EQ(tool_common::load_between(b, a, 10.0, 100.0).others_percent, 0.0);
  // Fewer ticks than a second's worth: too short to tell.
  EXPECT_FALSE(tool_common::load_between(b, b, 0.0, 100.0).known);
  EXPECT_FALSE(tool_common::load_between(b, a, 0.0, 1201.0).known);
  EXPECT_FALSE(tool_common::parse_cpu_ticks("intr 1 2 3\n", &a));
}

}  // namespace
