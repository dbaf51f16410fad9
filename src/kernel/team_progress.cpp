// The sleeping half of team_progress: a futex on the word that every finished piece changes.
#include "kernel/team_progress.hpp"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

namespace team_kernel::detail {
namespace {

// The futex is the atomic's own 32-bit word.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
              std::atomic<uint32_t>::is_always_lock_free);

uint32_t* futex_word(std::atomic<uint32_t>* word) { return reinterpret_cast<uint32_t*>(word); }

}  // namespace

void team_progress::finished() {
  word_.fetch_add(1);
  // Sequential consistency on both sides: either this load sees the sleeper,
  // or the sleeper's load of the word (after it counted itself) sees the new
  // value and does not sleep.
  if (sleepers_.load() != 0) {
    syscall(SYS_futex, futex_word(&word_), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  }
}

void team_progress::sleep_unless_changed(uint32_t seen) {
  sleepers_.fetch_add(1);
  if (word_.load() == seen) {
    // Returns at once if the word is no longer `seen`; EINTR and spurious
    // wake-ups only send the caller round its loop again.
    syscall(SYS_futex, futex_word(&word_), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
  }
  sleepers_.fetch_sub(1);
}

}  // namespace team_kernel::detail
