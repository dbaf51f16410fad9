// How busy the machine was, from two /proc/stat snapshots and the measuring process's own time.
#include "tools/common/machine.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(Machine, ProcessTicksCountUserAndSystemTimeAfterTheName) {
  // pid (comm) state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
  uint64_t ticks = 0;
  ASSERT_TRUE(tool_common::parse_process_ticks(
      "42 (worker) S 1 42 42 0 -1 4194560 10 0 0 0 250 31 0 0 20 0 1 0\n", &ticks));
  EXPECT_EQ(ticks, 281u);
  // A name may hold spaces and ") ": the fields count from the last ')'.
  ASSERT_TRUE(tool_common::parse_process_ticks(
      "43 (a) 7 (b) R 1 43 43 0 -1 4194560 10 0 0 0 5 6 0 0 20 0 1 0\n", &ticks));
  EXPECT_EQ(ticks, 11u);
  EXPECT_FALSE(tool_common::parse_process_ticks("43 (a) R 1 2\n", &ticks));
  EXPECT_FALSE(tool_common::parse_process_ticks("", &ticks));
  // Our own process, read for real, after a tenth of a second of work: /proc/PID/stat
  // counts it as getrusage does (to within a tick or two).
  const double start = tool_common::own_cpu_seconds();
  volatile uint64_t spin = 0;
  while (tool_common::own_cpu_seconds() < start + 0.1) {
    spin = spin + 1;
  }
  EXPECT_GE(tool_common::process_cpu_seconds(static_cast<int>(getpid())), start + 0.05);
  EXPECT_EQ(tool_common::process_cpu_seconds(-1), 0.0);  // no such process
}

}  // namespace
