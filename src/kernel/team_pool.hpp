// Private to the team kernel: a small product's team, made of the caller and whichever of the
// kit's own helper threads arrive while the caller is still at work; the caller never waits
// for one that has not arrived.
//
// Why: between calls a helper sleeps, and a sleeping thread woken by a thread that keeps its
// CPU busy may be placed on that very CPU ("wake affine"; on the kit's virtual machine, in
// most calls, even with the other CPU idle), where it runs only once the caller stops. An OpenMP
// region's closing barrier waits for every member it asked for, so a product of 0.65 ms on one
// thread took 1.5 to 2.2 ms on two: the caller did every piece (taking over those not begun)
// and then waited in the barrier, which let the member run at last. Here the caller publishes
// the job, runs its own part, and closes the job: a helper joins only while the job is open,
// and the caller waits only for the helpers that joined (a piece they began must finish before
// the call's buffers are freed). A helper that wakes after the close finds the job closed and
// goes back to sleep, touching nothing of the call.
//
// Where the helpers wake: the caller keeps them off its own CPU, each within the CPU set it
// was made with (one system call per helper when the caller's CPU differs from the last
// call's, none otherwise), so that they wake on another CPU. Measured on the kit's machine,
// quiet, 31 calls each: a helper left to wake where it liked was on the caller's CPU in 22 of
// 32 wake-ups and woke 0.6 to 3 ms into the call; kept off it, it woke 0.09 ms in, every time.
// A helper that still wakes late on the caller's CPU hops to another one before it sleeps
// again, and takes its CPU set back at once (team_cpus.hpp).
//
// The helpers are detached threads, started the first time a call wants them (never more
// than the CPUs the process may run on less one, and at least one), blocking every signal,
// sleeping on a futex between jobs and never ending: a pool blocked in a wait must not hold
// up the process's exit, so it is never torn down. A fork()ed child has none of its parent's
// threads: a handler that fork() runs in the child forgets the parent's pool (left as it was,
// a few words), and the child's first call makes a new one. (Comparing getpid() on each call
// would do the same for 1.6 microseconds a call, a system call on the kit's machine.) One
// caller at a time owns the pool; a call that finds it owned by another thread runs its whole
// job alone. The number of CPUs that bounds the helpers is read once, as the pool is made.
//
// Shared mutable state, all of it in the process's one pool, which is never freed (a helper
// may still read its words after the call it woke for has returned):
//   owner  atomic flag: a caller holds the job slot (acquire to take it, release to give
//          it back after every joined helper has left);
//   state  atomic word: generation (16 bits), open flag, number of joined helpers; a helper
//          joins with one compare-and-swap that requires the job open and of the generation
//          it woke for, and leaves with a decrement (release), waking the caller when it is
//          the last to leave a closed job; the caller opens the job with a release store and
//          closes it with an atomic and (acq_rel), after which no one can join;
//   wake   atomic word, the last generation published, that sleeping helpers wait on;
//   ticket atomic counter of member numbers handed to joined helpers (1, 2, ...), numbers
//          at or past the job's member count joining nothing;
//   caller_cpu  atomic, relaxed: the CPU of the last job's caller, a hint that a late helper
//          reads to hop off it;
//   the job's members, function and argument: plain fields, written by the owner before it
//          opens a generation and read by a helper only after its compare-and-swap has joined
//          that generation, and not written again until every joined helper has left;
//   the started helpers (their count, threads and CPU sets) and the CPU they are kept off,
//          read and written by the owner only;
//   the pointer to the process's pool, an atomic installed with one compare-and-swap and
//   cleared in a fork()ed child;
//   g_arrival_hook, test-only, as the piece hook (piece_hook.hpp).
#pragma once

#include <atomic>
#include <cstdint>

namespace team_kernel::detail {

// One member's part of a job: called with member 0 on the caller and 1, 2, ...
// on the helpers that join; `job` is the caller's argument.
using member_work = void (*)(void* job, int32_t member);

// Runs work(job, 0) on the calling thread and work(job, t) on each helper that
// arrives while the job is open, t from 1 to at most members - 1, each number
// at most once; returns once the caller's part is done and every helper that
// joined has left. Members below 2 (or a pool that cannot be made or is owned
// by another caller) run work(job, 0) alone. work must let every member finish
// whatever the others do, including nothing.
void run_with_arrivals(int32_t members, member_work work, void* job);

// What a helper reports to the test-only arrival hook.
enum class arrival_event : int32_t {
  wakes,      // woken for a job, before it tries to join (member: -1)
  joins,      // joined the job as `member`
  stays_out,  // found the job closed, of another generation, or full (member: -1)
};

using arrival_hook = void (*)(arrival_event event, int32_t member);

// Null unless a test sets it (testing.hpp), only while no product runs; read by
// each helper once per wake-up. The function must be safe from any helper.
inline std::atomic<arrival_hook> g_arrival_hook{nullptr};

}  // namespace team_kernel::detail
