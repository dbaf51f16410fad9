// How many threads an OpenMP team of the library may ask the runtime for.
//
// The runtime aborts the process (or crashes) when it cannot create the team
// it was asked for, and a product's result is the same for any team size, so
// every team of the library is sized through this one bound instead of taking
// a caller's count at face value.
#pragma once

#include <cstdint>

namespace dense_detail {

// The team for a request of `requested` threads (below 1: the runtime's
// default) over `work_items` independent pieces of work: never more threads
// than pieces (at least 1), than the runtime's thread limit, than
// kThreadsPerCpu threads per CPU, or than the process's limits on tasks
// (RLIMIT_NPROC) and address space (RLIMIT_AS, one thread stack each) leave
// room for. Always at least 1.
int32_t team_size(int32_t requested, int64_t work_items);

// Beyond this many threads per CPU a team only adds switching: every extra
// thread waits for a CPU while holding a stack.
inline constexpr int32_t kThreadsPerCpu = 64;

}  // namespace dense_detail
