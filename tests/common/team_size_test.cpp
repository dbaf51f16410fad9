// The one bound on every OpenMP team of the library.
#include "common/team_size.hpp"

#include <omp.h>

#include <cstdio>
#include <cstdlib>

#include "support/capture.hpp"

namespace {

using dense_detail::team_bound;
using dense_detail::team_limits;

constexpr int64_t kMiB = int64_t{1} << 20;

// A machine of 4 CPUs with no limit set: only the request, the work and
// the CPUs bound the team.
team_limits roomy() {
  team_limits l;
  l.default_team = 4;
  l.cpus = 4;
  l.stack_bytes = 8 * kMiB;
  return l;
}

TEST(TeamBound, EveryLimitCapsTheTeam) {
  struct row {
    const char* what;
    int32_t requested;
    int64_t work;
    team_limits limits;
    int32_t want;
  };
  auto with = [](auto set) {
    team_limits l = roomy();
    set(l);
    return l;
  };
  const row rows[] = {
      {"request within everything", 3, 100, roomy(), 3},
      {"below 1 takes the default team", 0, 100, roomy(), 4},
      {"INT32_MIN takes the default team", INT32_MIN, 100, roomy(), 4},
      {"no more threads than work", 100, 7, roomy(), 7},
      {"no work still gets one thread", 100, 0, roomy(), 1},
      {"64 threads per CPU", INT32_MAX, INT64_MAX, roomy(), 256},
      {"the runtime's thread limit", 100, 100, with([](team_limits& l) { l.thread_limit = 5; }), 5},
      {"half the tasks", 100, 100, with([](team_limits& l) { l.tasks = 20; }), 10},
      {"half the address space left, one stack each", 100, 100, with([](team_limits& l) {
         l.address_space = 1024 * kMiB;
         l.address_used = 512 * kMiB;
       }),
       32},
      {"address space all used still gives one thread", 100, 100, with([](team_limits& l) {
         l.address_space = 64 * kMiB;
         l.address_used = 80 * kMiB;
       }),
       1},
      {"two mappings a thread, half of them", 300, 1000, with([](team_limits& l) {
         l.cpus = 1000;
         l.map_count = 400;
       }),
       100},
      {"half the process ids", 40000, 100000, with([](team_limits& l) {
         l.cpus = 1024;
         l.pid_max = 32768;
       }),
       16384},
      {"half the kernel's tasks", 40000, 100000, with([](team_limits& l) {
         l.cpus = 1024;
         l.threads_max = 1000;
       }),
       500},
      {"the tightest limit wins", 100000, 100000, with([](team_limits& l) {
         l.cpus = 1024;
         l.pid_max = 32768;
         l.map_count = 65530;
         l.threads_max = 192738;
       }),
       16382},
  };
  for (const row& r : rows) {
    EXPECT_EQ(team_bound(r.requested, r.work, r.limits), r.want) << r.what;
  }
}

TEST(TeamSize, NeverExceedsTheCpusOrTheWork) {
  EXPECT_EQ(dense_detail::team_size(1, 1), 1);
  EXPECT_EQ(dense_detail::team_size(100000, 3), 3);
  const int32_t huge = dense_detail::team_size(INT32_MAX, INT64_MAX);
  EXPECT_GE(huge, 1);
  EXPECT_LE(huge, dense_detail::kThreadsPerCpu * omp_get_num_procs());
}

// In a fresh process: the runtime reads OMP_THREAD_LIMIT when it starts.
void print_team_and_exit() {
  std::printf("%d", dense_detail::team_size(100, 1000));
  std::exit(0);
}

TEST(TeamSizeDeathTest, FollowsTheRuntimesThreadLimit) {
  setenv("OMP_THREAD_LIMIT", "3", 1);
  EXPECT_EXIT_STDOUT(print_team_and_exit(), 0, "3");
  unsetenv("OMP_THREAD_LIMIT");
}

}  // namespace
