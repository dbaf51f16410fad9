// The record of the last OpenMP team's end.
#include "common/omp_team_end.hpp"

#include <time.h>

#include <algorithm>
#include <atomic>

namespace dense_detail {
namespace {

// No team yet: an end so far back that nothing counts as spinning.
std::atomic<int64_t> g_last_end_ns{INT64_MIN / 2};
std::atomic<int32_t> g_last_team{0};

}  // namespace

int64_t monotonic_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

void omp_team_left(int32_t team) {
  // A team of one wakes no pool thread: those of an earlier team spin on from
  // that team's end, so its record stands.
  if (team <= 1) {
    return;
  }
  g_last_team.store(team, std::memory_order_relaxed);
  g_last_end_ns.store(monotonic_ns(), std::memory_order_relaxed);
}

int32_t omp_members_spinning(int64_t now_ns) {
  if (now_ns - g_last_end_ns.load(std::memory_order_relaxed) >= kPoolSpinNs) {
    return 0;
  }
  return std::max(0, g_last_team.load(std::memory_order_relaxed) - 1);
}

}  // namespace dense_detail
