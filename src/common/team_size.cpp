// The bound on the size of every OpenMP team the library opens.
#include "common/team_size.hpp"

#include <omp.h>
#include <sys/resource.h>

#include <algorithm>
#include <utility>

namespace dense_detail {
namespace {

// The address space one more thread takes at least: its stack. libgomp gives
// its threads the default pthread stack unless OMP_STACKSIZE says otherwise.
constexpr int64_t kStackBytes = int64_t{8} << 20;

// Threads that the soft limit `resource` leaves room for, `per_thread` of it
// each, keeping half of the room for the rest of the process; -1 when the
// limit is unlimited or cannot be read.
int64_t room_under(int resource, int64_t per_thread) {
  struct rlimit lim {};
  if (getrlimit(resource, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) {
    return -1;
  }
  const int64_t cur = lim.rlim_cur > static_cast<rlim_t>(INT64_MAX)
                          ? INT64_MAX
                          : static_cast<int64_t>(lim.rlim_cur);
  return std::max<int64_t>(1, cur / 2 / per_thread);
}

}  // namespace

int32_t team_size(int32_t requested, int64_t work_items) {
  int64_t team = requested >= 1 ? requested : omp_get_max_threads();
  team = std::min(team, std::max<int64_t>(1, work_items));
  team = std::min<int64_t>(team, omp_get_thread_limit());
  team = std::min<int64_t>(team, int64_t{kThreadsPerCpu} * std::max(1, omp_get_num_procs()));
  for (const auto& [resource, per_thread] : {std::pair{RLIMIT_NPROC, int64_t{1}},
                                             std::pair{RLIMIT_AS, kStackBytes}}) {
    const int64_t room = room_under(resource, per_thread);
    if (room > 0) {
      team = std::min(team, room);
    }
  }
  return static_cast<int32_t>(std::max<int64_t>(1, team));
}

}  // namespace dense_detail
