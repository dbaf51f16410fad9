// Private to the team kernel, for tests only: a function the team calls at each step of
// each piece of work, so that a test can stall one thread on one piece (it sleeps or waits
// inside the call) and check, from the steps every thread reports, the order the kernel's
// waits promise and that every piece was done once, without depending on thread timing.
//
// Test-only shared state: g_piece_hook, one process-wide atomic function pointer, null
// unless a test sets it (testing.hpp). Each thread of a team reads it once per call with
// a relaxed load and calls nothing while it is null, so production calls pay one load per
// thread and one predicted branch per step of a piece. A test sets it only while no product runs,
// and the function it sets must be safe to call from every thread of the team at once.
#pragma once

#include <atomic>
#include <cstdint>

namespace team_kernel::detail {

// Which kind of piece a step is about.
enum class piece_kind : int32_t {
  scan,  // a run of rows of the 16-bit check: `piece` is its index
  pack,  // a pack piece of b: `piece` is its number in the plan (team_plan.hpp)
  item,  // an item: `piece` is its number in the plan
};

// The steps of a piece, on the thread that reports them.
enum class piece_event : int32_t {
  taken,   // this thread took it from the counter (before any wait: a stall here
           // holds a piece that nobody works on yet)
  stolen,  // this thread took it over from the thread that had taken it
  waits,   // this thread must wait for another piece before it can go on
  starts,  // its work begins (writes that others read: panels of b, c)
  done,    // its work is finished and published
};

using piece_hook = void (*)(piece_kind kind, int64_t piece, piece_event event, int32_t thread);

inline std::atomic<piece_hook> g_piece_hook{nullptr};

}  // namespace team_kernel::detail
