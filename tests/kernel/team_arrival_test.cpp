// A small product's team takes only the helpers that arrive while the caller works: the call
// neither waits for a helper that has not joined nor lets one join after it returned, and the
// helpers serve a fork()ed child too. No timing: a helper is held in the test-only arrival
// hook until the test lets it go (or, should the kernel be broken, for a long safety limit,
// after which the checks fail).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "block_case.hpp"
#include "kernel/registry.hpp"
#include "kernel/testing.hpp"

namespace {

using kernel_test::block_case;
using team_kernel::detail::arrival_event;
using team_kernel::detail::piece_event;
using team_kernel::detail::piece_kind;

// The safety limit of every hold: only a broken kernel ever reaches it.
constexpr auto kLimit = std::chrono::seconds(20);

// One product small enough for the helpers, on a team of two.
int run_small(block_case& t) {
  return team_kernel::detail::mmsubmatrizOMP_on(block_kernel::path_named("scalar_i32"), &t.a_desc,
                                                &t.b_desc, &t.c_desc, 2);
}

struct arrivals {
  std::mutex mu;
  std::condition_variable changed;
  bool held = false;      // a helper is held in its first wake-up
  bool released = false;  // ... and may go on
  std::vector<arrival_event> after_release;
  std::vector<int32_t> piece_threads;  // who reported a step of a piece
};
arrivals g_arr;

void hold_first_wake(arrival_event event, int32_t /*member*/) {
  std::unique_lock<std::mutex> lock(g_arr.mu);
  if (event == arrival_event::wakes && !g_arr.held) {
    g_arr.held = true;
    g_arr.changed.notify_all();
    g_arr.changed.wait_for(lock, kLimit, [] { return g_arr.released; });
  } else if (event != arrival_event::wakes && g_arr.held) {
    g_arr.after_release.push_back(event);
    g_arr.changed.notify_all();
  }
}

void record_thread(piece_kind /*kind*/, int64_t /*piece*/, piece_event /*event*/, int32_t t) {
  const std::lock_guard<std::mutex> lock(g_arr.mu);
  g_arr.piece_threads.push_back(t);
}

TEST(TeamArrivals, AHelperWokenForACallThatHasReturnedTouchesNothing) {
  block_case t(100, 120, 120, 100, 100, 100, 61U, INT32_MIN, INT32_MAX);
  const std::vector<int32_t> want = t.expected_c();
  team_kernel::detail::set_arrival_hook(hold_first_wake);
  team_kernel::detail::set_piece_hook(record_thread);
  // The helper woken for this call is held before it tries to join: the
  // caller does every piece itself and returns without waiting for it.
  EXPECT_EQ(run_small(t), 0);
  team_kernel::detail::set_piece_hook(nullptr);
  EXPECT_EQ(t.c.values(), want);
  std::unique_lock<std::mutex> lock(g_arr.mu);
  for (const int32_t thread : g_arr.piece_threads) {
    EXPECT_EQ(thread, 0) << "a helper worked on a piece of a call it never joined";
  }
  ASSERT_TRUE(g_arr.changed.wait_for(lock, kLimit, [] { return g_arr.held; }))
      << "no helper woke for the call";
  EXPECT_TRUE(g_arr.after_release.empty()) << "the call waited for the helper it never had";
  // Let it go: it finds the call's job closed and stays out.
  g_arr.released = true;
  g_arr.changed.notify_all();
  ASSERT_TRUE(g_arr.changed.wait_for(lock, kLimit, [] { return !g_arr.after_release.empty(); }));
  EXPECT_EQ(g_arr.after_release.front(), arrival_event::stays_out);
  lock.unlock();
  team_kernel::detail::set_arrival_hook(nullptr);
  if (HasFailure()) {
    return;  // a helper inside a finished call leaves the pool unusable
  }

  block_case again(100, 120, 120, 100, 100, 100, 61U, INT32_MIN, INT32_MAX);
  EXPECT_EQ(run_small(again), 0);
  EXPECT_EQ(again.c.values(), want);
}

// In the child: the caller is held at the first piece it takes until a helper
// has reported a step, so the call completes only with a helper's help.
std::mutex g_child_mu;
std::condition_variable g_child_changed;
bool g_child_helped = false;

void hold_caller_for_a_helper(piece_kind /*kind*/, int64_t /*piece*/, piece_event event,
                              int32_t t) {
  std::unique_lock<std::mutex> lock(g_child_mu);
  if (t != 0) {
    g_child_helped = true;
    g_child_changed.notify_all();
  } else if (event == piece_event::taken) {
    g_child_changed.wait_for(lock, kLimit, [] { return g_child_helped; });
  }
}

TEST(TeamArrivals, AForkedChildGetsHelpersOfItsOwn) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer ends a child of a threaded process that starts threads";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  GTEST_SKIP() << "ThreadSanitizer ends a child of a threaded process that starts threads";
#endif
#endif
  block_case warm(60, 70, 70, 80, 60, 80, 7U, INT32_MIN, INT32_MAX);
  ASSERT_EQ(run_small(warm), 0);  // the parent's pool and helper exist now
  block_case t(100, 120, 120, 100, 100, 100, 62U, INT32_MIN, INT32_MAX);
  const std::vector<int32_t> want = t.expected_c();
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A plain fork: only what async-signal-safe exits allow, no test macros.
    team_kernel::detail::set_piece_hook(hold_caller_for_a_helper);
    const int rc = run_small(t);
    team_kernel::detail::set_piece_hook(nullptr);
    _exit(rc == 0 && t.c.values() == want ? (g_child_helped ? 0 : 2) : 1);
  }
  int status = 0;
  pid_t done = 0;
  const auto until = std::chrono::steady_clock::now() + 3 * kLimit;
  while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the child's product never finished";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 1) << "the child's product is wrong";
  EXPECT_NE(WEXITSTATUS(status), 2) << "no helper worked in the child";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
