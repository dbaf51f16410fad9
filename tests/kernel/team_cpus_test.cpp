// A team member woken on the caller's CPU moves off it for the call, and gets its own CPU set back.
#include "kernel/team_cpus.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

namespace {

cpu_set_t affinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  pthread_getaffinity_np(pthread_self(), sizeof set, &set);
  return set;
}

TEST(TeamCpus, AMemberOnTheCallersCpuMovesForTheCallAndComesBackUnpinned) {
  const cpu_set_t mine = affinity();
  if (CPU_COUNT(&mine) < 2) {
    GTEST_SKIP() << "needs two CPUs";
  }
  // Put this thread on one CPU for sure, then let it have two again: it
  // stays where it runs until something moves it.
  int here = sched_getcpu();
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(here, &one);
  ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
  ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof mine, &mine), 0);

  {
    // The caller itself, and a member already on another CPU, never move.
    const team_kernel::detail::off_callers_cpu caller(here, 0);
    EXPECT_FALSE(caller.moved());
    const team_kernel::detail::off_callers_cpu elsewhere(here == 0 ? 1 : 0, 1);
    EXPECT_FALSE(elsewhere.moved());
  }
  bool moved = false;
  // The scheduler may move this thread between two lines; try again then.
  for (int attempt = 0; attempt < 20 && !moved; ++attempt) {
    here = sched_getcpu();
    const team_kernel::detail::off_callers_cpu member(here, 1);
    moved = member.moved();
    if (moved) {
      EXPECT_NE(sched_getcpu(), here);
      const cpu_set_t during = affinity();
      EXPECT_EQ(CPU_COUNT(&during), 1);
      EXPECT_FALSE(CPU_ISSET(here, &during));
    }
  }
  EXPECT_TRUE(moved);
  const cpu_set_t after = affinity();
  EXPECT_TRUE(CPU_EQUAL(&after, &mine));
}

}  // namespace
