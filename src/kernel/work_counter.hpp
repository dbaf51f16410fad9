// Work handed out on demand: the one counter from which the threads of a team take their
// next piece of work, so that a thread that loses its core leaves its share to the others.
//
// Shared mutable state: the counter itself, one std::atomic advanced with a relaxed
// fetch_add. It only decides who does which piece; whatever one piece needs from another
// is ordered by the marks the pieces publish (see team_progress.hpp), not by the counter.
#pragma once

#include <atomic>
#include <cstdint>

namespace team_kernel::detail {

// The pieces [0, total) of a team's work, each handed out exactly once, in
// increasing order, to whichever thread asks next. A thread that starts late
// gets what is left, or nothing; no thread ever waits in take().
class work_counter {
 public:
  explicit work_counter(int64_t total) : total_(total) {}
  work_counter(const work_counter&) = delete;
  work_counter& operator=(const work_counter&) = delete;

  // The next piece nobody has taken, or -1 once every piece has been taken.
  // Each thread asks once more after the last piece, so the counter passes
  // total by at most the number of threads and never overflows.
  int64_t take() {
    const int64_t piece = next_.fetch_add(1, std::memory_order_relaxed);
    return piece < total_ ? piece : -1;
  }

  int64_t total() const { return total_; }

 private:
  std::atomic<int64_t> next_{0};
  const int64_t total_;
};

}  // namespace team_kernel::detail
