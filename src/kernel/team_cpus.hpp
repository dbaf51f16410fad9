// Private to the team kernel: keeps the members of an OpenMP team off the CPU of the thread that
// started it, for the length of one call.
//
// When no CPU is idle, Linux wakes a sleeping thread on the CPU of the
// thread that woke it ("wake affine": its caches are warm there). So when
// another program keeps the other cores busy, the team's members, woken by
// the caller at the start of the region, all land on the caller's CPU, and
// the team shares one core however many threads it has: on 2 cores beside
// one busy process, the members of a 2-thread team were found on the same
// CPU in 197 of 200 calls, and the team ran no faster than one thread. The
// scheduler never undoes it, since three threads on two CPUs are as even as
// they can be either way.
//
// A member that finds itself on the caller's CPU while its own CPU set
// allows another one moves there for the call (the caller's CPU plus its
// team number, round the allowed CPUs), and takes its own CPU set back when
// it leaves, so nothing stays pinned and a set chosen by the program or the
// user (taskset, OMP_PROC_BIND) is never widened. On an idle machine no
// member wakes on the caller's CPU and this costs one sched_getcpu (a few
// nanoseconds); a member that moves costs two system calls, a few
// microseconds. No state is shared: each member reads only the caller's CPU,
// read once before the region.
#pragma once

#include <sched.h>

namespace team_kernel::detail {

class off_callers_cpu {
 public:
  // `caller_cpu`: sched_getcpu() of the thread that starts the team, before
  // the region; `member`: omp_get_thread_num() (0, the caller, never moves).
  off_callers_cpu(int caller_cpu, int member);
  ~off_callers_cpu();
  off_callers_cpu(const off_callers_cpu&) = delete;
  off_callers_cpu& operator=(const off_callers_cpu&) = delete;

  bool moved() const { return moved_; }

 private:
  cpu_set_t saved_{};
  bool moved_ = false;
};

}  // namespace team_kernel::detail
