// The bound on the size of every OpenMP team the library opens.
#include "common/team_size.hpp"

#include <omp.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace dense_detail {
namespace {

// The soft limit `resource`, or -1 when it is unlimited or cannot be read.
int64_t soft_limit(int resource) {
  struct rlimit lim {};
  if (getrlimit(resource, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) {
    return -1;
  }
  return lim.rlim_cur > static_cast<rlim_t>(INT64_MAX) ? INT64_MAX
                                                       : static_cast<int64_t>(lim.rlim_cur);
}

// The first number in a /proc/sys file, or -1.
int64_t kernel_value(const char* path) {
  FILE* f = std::fopen(path, "re");
  if (f == nullptr) {
    return -1;
  }
  long long v = -1;
  if (std::fscanf(f, "%lld", &v) != 1) {
    v = -1;
  }
  std::fclose(f);
  return v;
}

// The stack libgomp gives its threads: OMP_STACKSIZE (or GOMP_STACKSIZE),
// a number with an optional B, K, M or G suffix (K when none), else the
// threads library's default. The larger of the two counts, so that a value
// the runtime would reject cannot make the bound looser.
int64_t team_stack_bytes() {
  size_t fallback = 8u << 20;
  pthread_attr_t attr;
  if (pthread_getattr_default_np(&attr) == 0) {
    size_t size = 0;
    if (pthread_attr_getstacksize(&attr, &size) == 0 && size > 0) {
      fallback = size;
    }
    pthread_attr_destroy(&attr);
  }
  auto stack = static_cast<int64_t>(fallback);
  const char* text = std::getenv("OMP_STACKSIZE");
  if (text == nullptr) {
    text = std::getenv("GOMP_STACKSIZE");
  }
  if (text != nullptr) {
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    while (end != nullptr && std::isspace(static_cast<unsigned char>(*end)) != 0) {
      ++end;
    }
    int shift = 10;
    switch (end == nullptr ? 'k' : std::tolower(static_cast<unsigned char>(*end))) {
      case 'b':
        shift = 0;
        break;
      case 'm':
        shift = 20;
        break;
      case 'g':
        shift = 30;
        break;
      default:
        break;
    }
    if (n > 0 && n < (INT64_MAX >> shift)) {
      stack = std::max(stack, static_cast<int64_t>(n) << shift);
    }
  }
  return stack;
}

// The address space the process holds now (the first field of
// /proc/self/statm, in pages), or 0 when it cannot be read.
int64_t address_space_used() {
  FILE* f = std::fopen("/proc/self/statm", "re");
  if (f == nullptr) {
    return 0;
  }
  long long pages = 0;
  if (std::fscanf(f, "%lld", &pages) != 1) {
    pages = 0;
  }
  std::fclose(f);
  const long page = sysconf(_SC_PAGESIZE);
  return static_cast<int64_t>(pages) * (page > 0 ? page : 4096);
}

}  // namespace

int32_t team_bound(int32_t requested, int64_t work_items, const team_limits& limits) {
  int64_t team = requested >= 1 ? requested : limits.default_team;
  team = std::min(team, std::max<int64_t>(1, work_items));
  // Room under one limit, keeping half of it for everything else.
  const auto cap = [&team](int64_t limit, int64_t per_thread) {
    if (limit >= 0 && per_thread > 0) {
      team = std::min(team, limit / 2 / per_thread);
    }
  };
  if (limits.thread_limit >= 1) {
    team = std::min(team, limits.thread_limit);
  }
  team = std::min(team, int64_t{kThreadsPerCpu} * std::max<int64_t>(1, limits.cpus));
  cap(limits.tasks, 1);
  if (limits.address_space >= 0) {
    cap(std::max<int64_t>(0, limits.address_space - limits.address_used), limits.stack_bytes);
  }
  cap(limits.map_count, 2);
  cap(limits.pid_max, 1);
  cap(limits.threads_max, 1);
  return static_cast<int32_t>(std::clamp<int64_t>(team, 1, INT32_MAX));
}

int32_t team_size(int32_t requested, int64_t work_items) {
  team_limits limits;
  limits.default_team = omp_get_max_threads();
  limits.thread_limit = omp_get_thread_limit();
  limits.cpus = omp_get_num_procs();
  limits.tasks = soft_limit(RLIMIT_NPROC);
  limits.address_space = soft_limit(RLIMIT_AS);
  if (limits.address_space >= 0) {
    limits.stack_bytes = team_stack_bytes();
    limits.address_used = address_space_used();
  }
  const int32_t team = team_bound(requested, work_items, limits);
  if (team <= kTeamWithoutKernelLimits) {
    return team;
  }
  limits.map_count = kernel_value("/proc/sys/vm/max_map_count");
  limits.pid_max = kernel_value("/proc/sys/kernel/pid_max");
  limits.threads_max = kernel_value("/proc/sys/kernel/threads-max");
  return team_bound(requested, work_items, limits);
}

}  // namespace dense_detail
