// A team member's move off the caller's CPU, and back to its own CPU set.
#include "kernel/team_cpus.hpp"

#include <pthread.h>

namespace team_kernel::detail {

off_callers_cpu::off_callers_cpu(int caller_cpu, int member) {
  if (member == 0 || caller_cpu < 0 || sched_getcpu() != caller_cpu ||
      pthread_getaffinity_np(pthread_self(), sizeof saved_, &saved_) != 0) {
    return;
  }
  // The allowed CPUs other than the caller's, in order; member t takes the
  // (t - 1)-th of them, round and round.
  int others = 0;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    others += cpu != caller_cpu && CPU_ISSET(cpu, &saved_) ? 1 : 0;
  }
  if (others == 0) {
    return;
  }
  int skip = (member - 1) % others;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (cpu == caller_cpu || !CPU_ISSET(cpu, &saved_) || skip-- > 0) {
      continue;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    moved_ = pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
    return;
  }
}

off_callers_cpu::~off_callers_cpu() {
  if (moved_) {
    pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_);
  }
}

}  // namespace team_kernel::detail
