// The load a small product's team is sized by: runnable threads of other programs.
#include "kernel/team_load.hpp"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/omp_team_end.hpp"

namespace team_kernel::detail {
namespace {

// The whole of a small /proc file into `buf` (NUL-terminated); false when unreadable.
bool read_small(const char* path, char* buf, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const ssize_t got = read(fd, buf, size - 1);
  close(fd);
  if (got <= 0) {
    return false;
  }
  buf[got] = '\0';
  return true;
}

// Runnable threads on the whole machine, this one included: "a/b" after the
// three load averages of /proc/loadavg. -1 when unreadable.
int32_t runnable_threads() {
  char buf[128];
  if (!read_small("/proc/loadavg", buf, sizeof buf)) {
    return -1;
  }
  const char* p = buf;
  for (int field = 0; field < 3 && p != nullptr; ++field) {
    p = std::strchr(p, ' ');
    p = p != nullptr ? p + 1 : nullptr;
  }
  return p != nullptr ? static_cast<int32_t>(std::strtol(p, nullptr, 10)) : -1;
}

}  // namespace

int32_t team_for_load(int32_t team, int64_t work, int32_t cpus, int32_t others) {
  if (work > kSmallWork) {
    return team;
  }
  if (work <= kTinyWork) {
    return 1;
  }
  const int32_t free_cpus = std::max(1, cpus - std::max(0, others));
  return std::clamp(free_cpus, 1, team);
}

int32_t team_under_load(int32_t team, int64_t work) {
  if (team <= 1 || work > kSmallWork || work <= kTinyWork) {
    return team_for_load(team, work, team, 0);  // the load plays no part: nothing to read
  }
  const int32_t all = runnable_threads();
  cpu_set_t allowed;
  if (all < 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
    return team;
  }
  const int32_t spinning = dense_detail::omp_members_spinning(dense_detail::monotonic_ns());
  return team_for_load(team, work, CPU_COUNT(&allowed), all - 1 - spinning);
}

}  // namespace team_kernel::detail
