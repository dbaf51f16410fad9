// Waiting for the rest of a team without spinning: a word that changes whenever a piece of
// the team's work is finished, which a thread that needs another's piece sleeps on.
//
// A busy machine is why: when the team has more threads than the machine has free cores,
// a thread that spins while it waits burns the core that the thread it waits for needs.
// So a thread waits here for at most kSpin (a few microseconds: long enough to catch a
// partner that is about to finish, short enough to cost no one anything), then sleeps in
// the kernel (a futex on the word) until another piece is finished, and checks
// again. A sleeping thread leaves its core to whatever else can run, which may well be the
// thread it waits for; on an idle machine the price is the wake-up (measured in
// team_kernel.hpp's header).
//
// Shared mutable state: the word (the futex word) and the number of sleepers, so that
// finished() makes a system call only when someone sleeps, both std::atomic with
// read-modify-writes and loads in sequential consistency. Nothing else: what a waiter
// waits for is its own predicate over marks that the pieces publish with release stores
// before they call finished().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace team_kernel::detail {

class team_progress {
 public:
  // How long a waiter spins before it sleeps.
  static constexpr std::chrono::nanoseconds kSpin{3000};

  team_progress() = default;
  team_progress(const team_progress&) = delete;
  team_progress& operator=(const team_progress&) = delete;

  // One more piece is finished: call it after the piece has published its
  // results and marks, and every sleeping waiter wakes up to check again.
  void finished();

  // Spins for at most kSpin until done() is true; returns done().
  template <typename Done>
  bool spin_until(Done done) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (int32_t round = 1;; ++round) {
      if (done()) {
        return true;
      }
      relax();
      if (round % 16 == 0 && std::chrono::steady_clock::now() >= until) {
        return done();
      }
    }
  }

  // Returns once done() is true. done() must read only marks that become true
  // before some later call of finished(), or a waiter may sleep past it.
  // Returns whether it had to wait at all.
  template <typename Done>
  bool wait_until(Done done) {
    if (done()) {
      return false;
    }
    const auto until = std::chrono::steady_clock::now() + kSpin;
    bool spinning = true;
    for (int32_t round = 1;; ++round) {
      // Read the word before the predicate: a piece finished after this
      // load changes the word, so the sleep below returns at once.
      const uint32_t seen = word_.load();
      if (done()) {
        return true;
      }
      if (spinning) {
        relax();
        // The clock is read every few rounds only: a pause is far cheaper.
        spinning = round % 16 != 0 || std::chrono::steady_clock::now() < until;
      } else {
        sleep_unless_changed(seen);
      }
    }
  }

 private:
  static void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  // Sleeps until word_ differs from `seen` (at once if it already does), or
  // for no reason at all, as a futex may.
  void sleep_unless_changed(uint32_t seen);

  std::atomic<uint32_t> word_{0};
  std::atomic<int32_t> sleepers_{0};
};

}  // namespace team_kernel::detail
