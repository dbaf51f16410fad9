// What a self-balancing team is built from: the counter that hands out its pieces of work,
// and the progress count its threads wait on by sleeping.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "kernel/team_progress.hpp"
#include "kernel/work_counter.hpp"

namespace {

using team_kernel::detail::team_progress;
using team_kernel::detail::work_counter;

// Each thread takes pieces until none is left and keeps them in the order it
// got them; `late` more threads start only once `late_after` pieces are gone.
struct hand_out {
  std::vector<std::vector<int64_t>> taken;
  std::vector<int64_t> gone_at_start;  // pieces taken before each late thread's first take
};

hand_out take_all(int64_t total, int threads, int late, int64_t late_after) {
  work_counter counter(total);
  std::atomic<int64_t> gone{0};
  hand_out out{std::vector<std::vector<int64_t>>(static_cast<size_t>(threads + late)),
               std::vector<int64_t>(static_cast<size_t>(late), 0)};
  const auto take = [&](size_t who) {
    for (int64_t p = counter.take(); p >= 0; p = counter.take()) {
      out.taken[who].push_back(p);
      gone.fetch_add(1);
      std::this_thread::yield();  // let the others interleave
    }
    EXPECT_EQ(counter.take(), -1) << "a counter that ran out must stay out";
  };
  std::vector<std::thread> team;
  team.reserve(static_cast<size_t>(threads) + static_cast<size_t>(late));
  for (int t = 0; t < threads; ++t) {
    team.emplace_back(take, static_cast<size_t>(t));
  }
  for (int l = 0; l < late; ++l) {
    team.emplace_back([&, l] {
      while (gone.load() < late_after) {
        std::this_thread::yield();
      }
      out.gone_at_start[static_cast<size_t>(l)] = gone.load();
      take(static_cast<size_t>(threads) + static_cast<size_t>(l));
    });
  }
  for (auto& th : team) {
    th.join();
  }
  return out;
}

TEST(WorkCounter, EveryPieceExactlyOnceInIncreasingOrderWhateverTheTeam) {
  for (int threads : {1, 2, 3, 8, 17}) {
    for (int64_t total : {0, 1, 5, 2000}) {
      SCOPED_TRACE(testing::Message() << total << " pieces on " << threads << " threads");
      const hand_out out = take_all(total, threads, 0, 0);
      std::vector<int64_t> all;
      for (const auto& mine : out.taken) {
        EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
        all.insert(all.end(), mine.begin(), mine.end());
      }
      std::sort(all.begin(), all.end());
      std::vector<int64_t> want(static_cast<size_t>(total));
      std::iota(want.begin(), want.end(), 0);
      EXPECT_EQ(all, want);
    }
  }
}

// A thread that starts late gets only pieces nobody took before it came, and
// nothing at all when it comes after the last one; no piece is lost or doubled.
TEST(WorkCounter, ALateThreadTakesOnlyWhatIsLeft) {
  constexpr int64_t kTotal = 3000;
  for (const int64_t late_after : {int64_t{1000}, kTotal}) {
    SCOPED_TRACE(testing::Message() << "late after " << late_after);
    const hand_out out = take_all(kTotal, 3, 2, late_after);
    std::vector<int64_t> all;
    for (const auto& mine : out.taken) {
      all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kTotal));
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    for (int l = 0; l < 2; ++l) {
      const auto& mine = out.taken[3 + static_cast<size_t>(l)];
      // Pieces go in order, so everything it got was handed out after it came.
      if (!mine.empty()) {
        EXPECT_GE(mine.front(), out.gone_at_start[static_cast<size_t>(l)]);
      }
      if (late_after == kTotal) {
        EXPECT_TRUE(mine.empty());
      }
    }
  }
}

double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The waiter needs the piece a slow partner finishes after 100 ms: it must see
// what the piece published, and must sleep, not spin, while it waits.
TEST(TeamProgress, AWaiterSleepsUntilThePieceItNeedsIsFinishedAndSeesItsResult) {
  team_progress progress;
  std::atomic<int32_t> mark{0};
  int32_t result = 0;  // plain data, published by the mark
  EXPECT_FALSE(progress.wait_until([] { return true; })) << "nothing to wait for";
  std::thread partner([&] {
    for (int piece = 0; piece < 4; ++piece) {  // pieces the waiter does not need
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      progress.finished();
    }
    result = 42;
    mark.store(1, std::memory_order_release);
    progress.finished();
  });
  const double cpu_before = thread_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(progress.wait_until([&] { return mark.load(std::memory_order_acquire) != 0; }));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = thread_cpu_seconds() - cpu_before;
  partner.join();
  EXPECT_EQ(result, 42);
  EXPECT_GE(waited, 0.09);
  EXPECT_LT(cpu, 0.02) << "the waiter burnt " << cpu << " s of CPU in " << waited << " s";
}

// Threads that each wait for the one before them, round a ring, many times:
// no wake-up is ever lost (the test would hang) and each sees its predecessor's work.
TEST(TeamProgress, NoWakeUpIsLostAlongAChainOfWaiters) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  team_progress progress;
  std::atomic<int64_t> turn{0};
  int64_t last = -1;  // plain data handed round the ring
  std::vector<std::thread> ring;
  ring.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    ring.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        const int64_t mine = int64_t{r} * kThreads + t;
        progress.wait_until([&] { return turn.load(std::memory_order_acquire) == mine; });
        EXPECT_EQ(last, mine - 1);
        last = mine;
        turn.store(mine + 1, std::memory_order_release);
        progress.finished();
      }
    });
  }
  for (auto& th : ring) {
    th.join();
  }
  EXPECT_EQ(last, int64_t{kThreads} * kRounds - 1);
}

}  // namespace
