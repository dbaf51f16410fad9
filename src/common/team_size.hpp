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
// kThreadsPerCpu threads per CPU, or than the process's and the kernel's
// limits leave room for (tasks, address space and memory mappings for one
// stack each, process ids). Always at least 1.
int32_t team_size(int32_t requested, int64_t work_items);

// Beyond this many threads per CPU a team only adds switching: every extra
// thread waits for a CPU while holding a stack.
inline constexpr int32_t kThreadsPerCpu = 64;

// What bounds a team, as team_size reads it from the runtime, the process's
// soft limits and the kernel. A negative value means "no limit known".
struct team_limits {
  int64_t default_team = 1;    // the runtime's team for a request below 1
  int64_t thread_limit = -1;   // the runtime's thread limit (OMP_THREAD_LIMIT)
  int64_t cpus = 1;            // CPUs the process may run on
  int64_t tasks = -1;          // RLIMIT_NPROC: tasks of this user
  int64_t address_space = -1;  // RLIMIT_AS, in bytes
  int64_t address_used = 0;    // address space the process already holds
  int64_t stack_bytes = 0;     // the stack every team thread gets
  int64_t map_count = -1;      // vm.max_map_count: mappings per process
  int64_t pid_max = -1;        // kernel.pid_max: ids shared by every task
  int64_t threads_max = -1;    // kernel.threads-max: tasks on the machine
};

// The pure part of team_size: the team for `requested` threads over
// `work_items` pieces under `limits`. Each process-wide or machine-wide room
// (for address space: what the limit leaves beyond what the process holds)
// is only half spent, since the rest of the process and the machine need
// their share; a thread costs one task, one process id, its stack of address
// space and two mappings (the stack and its guard page).
int32_t team_bound(int32_t requested, int64_t work_items, const team_limits& limits);

// Teams up to this size are sized without reading the kernel's limits: they
// are far below any of them, and reading them costs file opens per product.
inline constexpr int64_t kTeamWithoutKernelLimits = 256;

}  // namespace dense_detail
