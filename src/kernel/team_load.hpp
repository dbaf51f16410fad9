// Private to the team kernel: how many threads a small product gets on a busy machine.
//
// A team member that is asleep when a call starts (the runtime's pool sleeps between calls
// that are not back to back) must be woken, and on a machine whose CPUs other programs keep
// busy, a woken thread waits for a core: a whole time slice, 3 to 16 ms measured beside
// one spinning process on the kit's 2-core machine. The runtime's barrier at the end of
// the region waits for every member, even one that arrives when the others have done all
// the work, so a product of 0.4 ms on one thread took 4 ms on two: the caller did every
// piece and then waited for a partner that never got a core in time. Nothing inside the
// team can hand that wait over, since the late member holds no work; the call can only
// not wait for it. So a small product asks first how many CPUs no other program is
// running on, and takes no more members than that; a large one keeps its whole team,
// whose self-balancing pays for a late member many times over.
//
// The runtime keeps a finished OpenMP team's members spinning for a while; they are runnable
// then and would pass for other programs' threads, so every OpenMP region of the library
// records its end (common/omp_team_end.hpp) and a call within that while counts them as
// this process's own. Reading each member's state instead (/proc/self/task/<tid>/stat) was
// tried: 15 to 40 microseconds more per call on a busy machine, a tenth of a product at
// n = 256.
//
// Each small call reads the kernel's count of runnable threads, the fourth field of
// /proc/loadavg, counted at the moment it is read (about 10 microseconds on the kit's
// machine); large products read nothing.
#pragma once

#include <cstdint>

namespace team_kernel::detail {

// Products of at most this many multiply-adds (m x k x n) are small: one core
// does them in under about 10 ms (2^28: 0.4 ms at n = 256 and 3 to 6 ms at
// n = 512 on the kit's machine, values 1..100 and full range), a few time
// slices, so a member that waits one slice for a core cannot pay for itself.
inline constexpr int64_t kSmallWork = int64_t{1} << 28;

// Products of at most this many multiply-adds (2^21: n = 128) run on the
// caller alone, however quiet the machine: they take 0.1 ms or less on one
// core, and handing a helper its part (a futex wake, the helper's climb to
// running, the buffers it touches first) costs 30 to 50 microseconds on the
// kit's machine, so a second thread made them slower (0.3x at n = 32, 0.4 to
// 0.5x at n = 64, 0.6x at n = 96, in interleaved rounds of one run with other
// builds running beside it).
inline constexpr int64_t kTinyWork = int64_t{1} << 21;

// The team for `team` threads (at least 1) over `work` multiply-adds, when
// `others` threads of other programs are runnable and the process may run on
// `cpus` CPUs: the whole team for work above kSmallWork; the caller alone for
// work up to kTinyWork; otherwise one thread per CPU that the others leave
// free (the caller's own CPU always counts as free: it runs the caller). Pure.
int32_t team_for_load(int32_t team, int64_t work, int32_t cpus, int32_t others);

// team_for_load with this moment's load: `others` from /proc/loadavg's
// runnable threads less the caller and the last OpenMP team's members that may
// still spin, `cpus` from the process's CPU set. The whole team when the load
// cannot be read.
int32_t team_under_load(int32_t team, int64_t work);

}  // namespace team_kernel::detail
