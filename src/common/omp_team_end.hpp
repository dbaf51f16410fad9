// When this process's last OpenMP team left its region, and how large it was.
//
// The runtime keeps a finished team's members spinning for a while (7 to 11 ms by GNU's
// default) before they sleep, waiting for the next region. Spinning, they are runnable, and a
// count of runnable threads (/proc/loadavg) takes them for other programs' load. The team
// kernel sizes a small product's team by that count, so every OpenMP region of the library
// records its end here: a product right after an `omp` call, or after a large team-kernel
// call, then counts those spinning members as this process's own instead of running alone.
// A region outside the library (a caller's own OpenMP code) is not seen: a small call just
// after one may run alone, slower than it might but never stalled.
//
// Shared mutable state: the end time and the team size, two relaxed atomics. A reader may see
// one of two racing regions' values for each; either is a team that just ended.
#pragma once

#include <cstdint>

namespace dense_detail {

// How long after a team's end its members may still spin (see above).
inline constexpr int64_t kPoolSpinNs = 20'000'000;

// Records that an OpenMP team of `team` threads (the caller included) has just
// left its region. A team of one uses no pool thread and leaves the record as
// it was: an earlier team's members still spin from their own end.
void omp_team_left(int32_t team);

// The members of the last OpenMP team, less its caller, that may still be
// spinning `now_ns` (CLOCK_MONOTONIC) after their region: 0 once kPoolSpinNs
// has passed since its end, or when no team has run.
int32_t omp_members_spinning(int64_t now_ns);

// CLOCK_MONOTONIC in nanoseconds.
int64_t monotonic_ns();

}  // namespace dense_detail
