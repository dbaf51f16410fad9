// The pool of helpers that join a small product's team only while its job is open.
#include "kernel/team_pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "common/trace.hpp"
#include "kernel/team_cpus.hpp"

namespace team_kernel::detail {
namespace {

namespace trace = dense_detail::trace;

// The state word: generation << 16 | kOpen | joined helpers.
constexpr uint32_t kOpen = 1U << 15;
constexpr uint32_t kJoined = kOpen - 1;
constexpr uint32_t kGenShift = 16;
constexpr uint32_t kGenerations = 0xFFFFU;  // a generation's bits, as the wake word holds it

uint32_t opened(uint32_t generation) { return (generation << kGenShift) | kOpen; }

// More helpers than this would not speed a small product up anywhere.
constexpr int32_t kMostHelpers = 64;

struct pool {
  explicit pool(int32_t cpu_count) : cpus(cpu_count) {}

  const int32_t cpus;  // the process's CPUs when the pool was made
  std::atomic<bool> owner{false};
  std::atomic<uint32_t> state{0};
  std::atomic<uint32_t> wake{0};
  std::atomic<int32_t> ticket{1};
  std::atomic<int> caller_cpu{-1};  // of the last job's caller: a hint for late helpers
  // The job of the open generation (see the header for who may touch them).
  int32_t members = 0;
  member_work work = nullptr;
  void* job = nullptr;
  // Owner only: the helpers, the CPU set each was made with, and the CPU they
  // are kept off (the last caller's).
  int32_t helpers = 0;
  pthread_t threads[kMostHelpers]{};
  cpu_set_t homes[kMostHelpers]{};
  int kept_off = -1;
};

std::atomic<pool*> g_pool{nullptr};

void report(arrival_event event, int32_t member) {
  const arrival_hook hook = g_arrival_hook.load(std::memory_order_relaxed);
  if (hook != nullptr) {
    hook(event, member);
  }
}

// A helper woken for generation `generation`: joins if the job is still open
// and of that generation, does its part, and leaves.
// `index`: the helper's own number (0, 1, ...).
void arrive(pool& p, uint32_t generation, int32_t index) {
  report(arrival_event::wakes, -1);
  const uint32_t want = opened(generation);
  uint32_t seen = p.state.load(std::memory_order_acquire);
  do {
    if ((seen & ~kJoined) != want) {
      // Too late, most often because it was woken on the busy caller's CPU
      // ("wake affine") and could not run until the caller was done. A thread
      // wakes where it last ran: hop off that CPU now (and take the CPU set
      // back at once), so that the next call finds it on another one.
      { const off_callers_cpu hop(p.caller_cpu.load(std::memory_order_relaxed), index + 1); }
      report(arrival_event::stays_out, -1);
      return;
    }
  } while (!p.state.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel,
                                          std::memory_order_acquire));
  // Joined: the caller waits for this thread before the job's fields change.
  const int32_t member = p.ticket.fetch_add(1, std::memory_order_relaxed);
  if (member < p.members) {
    report(arrival_event::joins, member);
    p.work(p.job, member);
  } else {
    report(arrival_event::stays_out, -1);
  }
  // This member's writes happen before the caller sees it gone. Sequential
  // consistency here and in the waits: either notify sees the caller counted
  // as a waiter, or the caller's check before it sleeps sees the decrement.
  const uint32_t before = p.state.fetch_sub(1);
  if ((before & kOpen) == 0 && (before & kJoined) == 1) {
    p.state.notify_all();  // the pool outlives the call: the word is still there
  }
}

struct helper_start {
  pool* p;
  uint32_t seen;  // the generation last published when the helper was made
  int32_t index;  // its number among the pool's helpers
};

void* helper_main(void* arg) {
  const helper_start start = *static_cast<helper_start*>(arg);
  std::free(arg);
  pool& p = *start.p;
  uint32_t seen = start.seen;
  for (;;) {
    p.wake.wait(seen);
    seen = p.wake.load();
    arrive(p, seen, start.index);
  }
  return nullptr;
}

// Starts helpers (owner only) until there are `want`; fewer if the system
// refuses threads. Each blocks every signal, so that the program's signals
// go to the program's own threads.
void start_helpers(pool& p, int32_t want) {
  if (p.helpers >= want) {
    return;
  }
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    return;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  while (p.helpers < want) {
    auto* start = static_cast<helper_start*>(std::malloc(sizeof(helper_start)));
    if (start == nullptr) {
      break;
    }
    *start = {&p, p.wake.load(std::memory_order_relaxed), p.helpers};
    pthread_t thread;
    if (pthread_create(&thread, &attr, helper_main, start) != 0) {
      std::free(start);
      break;
    }
    pthread_setname_np(thread, "dense-team");
    p.threads[p.helpers] = thread;
    if (pthread_getaffinity_np(pthread_self(), sizeof(cpu_set_t), &p.homes[p.helpers]) != 0) {
      CPU_ZERO(&p.homes[p.helpers]);  // unknown: never narrowed
    }
    ++p.helpers;
    p.kept_off = -1;  // the new one is not yet
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pthread_attr_destroy(&attr);
}

// Keeps every helper off CPU `cpu` (owner only), each within the CPU set it
// was made with: a sleeping thread woken by a thread that keeps its CPU busy
// is often placed on that CPU ("wake affine"; on the kit's virtual machine
// in most calls, even with the other CPU idle), and runs only once the
// caller is done.
void keep_helpers_off(pool& p, int cpu) {
  if (cpu < 0 || cpu == p.kept_off) {
    return;
  }
  for (int32_t h = 0; h < p.helpers; ++h) {
    cpu_set_t set = p.homes[h];
    if (CPU_COUNT(&set) == 0) {
      continue;
    }
    CPU_CLR(cpu, &set);
    if (CPU_COUNT(&set) == 0) {
      set = p.homes[h];
    }
    pthread_setaffinity_np(p.threads[h], sizeof set, &set);
  }
  p.kept_off = cpu;
}

int32_t cpus_allowed() {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

// In a fork()ed child, the only thread: the parent's pool has no helpers here.
void forget_pool_in_child() { g_pool.store(nullptr, std::memory_order_relaxed); }

// This process's pool, made on first use (and again in a fork()ed child);
// null when the heap refuses it.
pool* process_pool() {
  pool* p = g_pool.load(std::memory_order_acquire);
  while (p == nullptr) {
    void* room = std::malloc(sizeof(pool));
    if (room == nullptr) {
      return nullptr;
    }
    pool* fresh = new (room) pool(cpus_allowed());
    if (g_pool.compare_exchange_strong(p, fresh, std::memory_order_acq_rel,
                                       std::memory_order_acquire)) {
      // Once per program: a child inherits both the handler and this flag.
      static std::atomic<bool> registered{false};
      if (!registered.exchange(true)) {
        pthread_atfork(nullptr, nullptr, forget_pool_in_child);
      }
      return fresh;
    }
    fresh->~pool();  // another thread made this process's pool first: no helpers yet
    std::free(room);
  }
  return p;
}

}  // namespace

void run_with_arrivals(int32_t members, member_work work, void* job) {
  pool* const p = members > 1 ? process_pool() : nullptr;
  if (p == nullptr || p->owner.exchange(true, std::memory_order_acquire)) {
    work(job, 0);
    return;
  }
  const int32_t wanted = std::min({members - 1, std::max(1, p->cpus - 1), kMostHelpers});
  start_helpers(*p, wanted);
  p->members = members;
  p->work = work;
  p->job = job;
  p->ticket.store(1, std::memory_order_relaxed);
  const int cpu = sched_getcpu();
  keep_helpers_off(*p, cpu);
  p->caller_cpu.store(cpu, std::memory_order_relaxed);
  const uint32_t generation = (p->wake.load(std::memory_order_relaxed) + 1) & kGenerations;
  // Release: a helper that joins this generation sees the fields above.
  p->state.store(opened(generation), std::memory_order_release);
  p->wake.store(generation);  // sequentially consistent, as the leaving helper's decrement
  for (int32_t h = 0; h < std::min(wanted, p->helpers); ++h) {
    p->wake.notify_one();
  }
  work(job, 0);
  // Closed: no one joins after this; wait for those who did (they may be
  // in the middle of a piece).
  uint32_t now = p->state.fetch_and(~kOpen) & ~kOpen;
  if ((now & kJoined) != 0) {
    const trace::span waiting(trace::kWait, 0);
    while ((now & kJoined) != 0) {
      p->state.wait(now);
      now = p->state.load();
    }
  }
  p->owner.store(false, std::memory_order_release);
}

}  // namespace team_kernel::detail
