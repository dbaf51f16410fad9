// The scheduling lessons: which thread runs which iteration, and which work it does.
//
// The sleep programs run with a preloaded sleep() that returns at once and logs
// "<thread> <seconds>" per call, so no test waits for the lessons' 25 to 100 seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "program_output.hpp"
#include "support/child.hpp"

namespace {

using examples_test::format;
using examples_test::omp_env;
using examples_test::sorted;
using examples_test::split_lines;
using examples_test::temp_path;
using examples_test::with_prefix;
using test_support::run_program;

struct sleep_run {
  test_support::child_result result;
  std::map<int, std::vector<unsigned>> sleeps;  // thread -> seconds asked for, in call order
};

sleep_run run_with_fake_sleep(const char* program, int team,
                              const std::map<std::string, std::string>& extra_env = {}) {
  temp_path log;
  auto env = omp_env(std::to_string(team));
  env.insert(extra_env.begin(), extra_env.end());
  env["LD_PRELOAD"] = SLEEP_RECORDER;
  env["DENSE_SLEEP_LOG"] = log.str();
  // A sanitizer runtime wants to come first among the loaded libraries; the stand-in is harmless.
  const char* asan_options = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] =
      std::string(asan_options != nullptr ? asan_options : "") + ":verify_asan_link_order=0";
  sleep_run run{run_program(program, {}, env), {}};
  for (const auto& line : split_lines(log.contents())) {
    int tid = -1;
    unsigned seconds = 0;
    if (std::sscanf(line.c_str(), "%d %u", &tid, &seconds) == 2) {
      run.sleeps[tid].push_back(seconds);
    } else {
      ADD_FAILURE() << "bad sleep record: " << line;
    }
  }
  return run;
}

// Every line a thread prints, in its own order (lines of one thread never swap).
std::map<int, std::vector<std::string>> lines_by_thread(const std::string& out) {
  std::map<int, std::vector<std::string>> by_thread;
  for (const auto& line : split_lines(out)) {
    int tid = -1;
    if (std::sscanf(line.c_str(), "Hello World from thread = %d", &tid) == 1 ||
        std::sscanf(line.c_str(), "TID (%d)", &tid) == 1) {
      by_thread[tid].push_back(line);
    } else {
      ADD_FAILURE() << "unexpected line: " << line;
    }
  }
  return by_thread;
}

// What thread `tid` prints when it runs `iterations` in this order.
std::vector<std::string> expected_thread_lines(int tid, const std::vector<int>& iterations) {
  const int parity = tid % 2;
  const char* work = parity == 1 ? "smallWork" : "bigWork";
  std::vector<std::string> lines{format("Hello World from thread = %d", tid)};
  for (int i : iterations) {
    lines.push_back(format("TID (%d) ->Inside %s function(%d)(i=%d)", tid, work, parity, i));
    lines.push_back(format("TID (%d) ->Out of %s function(%d)", tid, work, parity));
  }
  return lines;
}

// The iterations announced in a thread's lines, in order.
std::vector<int> iterations_of(const std::vector<std::string>& lines) {
  std::vector<int> iterations;
  for (const auto& line : lines) {
    const size_t at = line.find("(i=");
    if (at != std::string::npos) {
      iterations.push_back(std::stoi(line.substr(at + 3)));
    }
  }
  return iterations;
}

TEST(FixedSplitDemo, GivesEachThreadOneContiguousBlock) {
  const std::map<int, std::vector<std::vector<int>>> blocks_for{
      {1, {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}},
      {2, {{0, 1, 2, 3, 4}, {5, 6, 7, 8, 9}}},
      {3, {{0, 1, 2, 3}, {4, 5, 6}, {7, 8, 9}}},
      {4, {{0, 1, 2}, {3, 4, 5}, {6, 7}, {8, 9}}},
      // More threads than iterations: threads 10 and 11 only say hello.
      {12, {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {}, {}}},
  };
  for (const auto& [team, blocks] : blocks_for) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(team));
    auto run = run_with_fake_sleep(FIXED_SPLIT_DEMO, team);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(split_lines(run.result.out).size(), static_cast<size_t>(team + 2 * 10));
    // Only threads with iterations sleep.
    EXPECT_EQ(run.sleeps.size(), static_cast<size_t>(std::min(team, 10)));
    auto by_thread = lines_by_thread(run.result.out);
    EXPECT_EQ(by_thread.size(), static_cast<size_t>(team));
    for (int tid = 0; tid < team; tid++) {
      EXPECT_EQ(by_thread[tid], expected_thread_lines(tid, blocks[tid])) << "thread " << tid;
      // Even threads do big work (5 s), odd threads small work (1 s), once per iteration.
      const std::vector<unsigned> expected_sleeps(blocks[tid].size(), tid % 2 == 0 ? 5u : 1u);
      EXPECT_EQ(run.sleeps[tid], expected_sleeps) << "thread " << tid;
    }
  }
}

// With one thread, thread 0 is even: all ten iterations are big work, in ascending order.
std::string one_thread_output() {
  std::string out;
  for (const auto& line : expected_thread_lines(0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9})) {
    out += line + "\n";
  }
  return out;
}

TEST(FixedSplitDemo, OneThreadDoesTenBigWorksInOrder) {
  auto run = run_with_fake_sleep(FIXED_SPLIT_DEMO, 1);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, one_thread_output());
  EXPECT_EQ(run.sleeps.size(), 1u);
  EXPECT_EQ(run.sleeps[0], std::vector<unsigned>(10, 5u));
}

TEST(OnDemandSplitDemo, OneThreadDoesTenLongerBigWorksInOrder) {
  auto run = run_with_fake_sleep(ON_DEMAND_SPLIT_DEMO, 1);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.out, one_thread_output());
  EXPECT_EQ(run.sleeps.size(), 1u);
  EXPECT_EQ(run.sleeps[0], std::vector<unsigned>(10, 10u));
}

TEST(OnDemandSplitDemo, HandsOutChunksOfTwoEachRunOnce) {
  for (int team : {2, 3, 4, 7}) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(team));
    auto run = run_with_fake_sleep(ON_DEMAND_SPLIT_DEMO, team);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    auto by_thread = lines_by_thread(run.result.out);
    EXPECT_EQ(by_thread.size(), static_cast<size_t>(team));
    std::multiset<int> all;
    for (int tid = 0; tid < team; tid++) {
      const auto iterations = iterations_of(by_thread[tid]);
      // A chunk is two neighbouring iterations, [2k, 2k + 1], run back to back by one thread;
      // a thread's chunks come in ascending order.
      ASSERT_EQ(iterations.size() % 2, 0u) << "thread " << tid;
      for (size_t n = 0; n < iterations.size(); n += 2) {
        EXPECT_EQ(iterations[n] % 2, 0) << "thread " << tid;
        EXPECT_EQ(iterations[n + 1], iterations[n] + 1) << "thread " << tid;
        if (n > 0) {
          EXPECT_GT(iterations[n], iterations[n - 1]) << "thread " << tid;
        }
      }
      EXPECT_EQ(by_thread[tid], expected_thread_lines(tid, iterations)) << "thread " << tid;
      const std::vector<unsigned> expected_sleeps(iterations.size(), tid % 2 == 0 ? 10u : 1u);
      EXPECT_EQ(run.sleeps[tid], expected_sleeps) << "thread " << tid;
      all.insert(iterations.begin(), iterations.end());
    }
    EXPECT_EQ(all, (std::multiset<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  }
}

TEST(OnDemandSplitDemo, TheThreadWithoutTheLongFirstChunkTakesMostOfTheRest) {
  // Each 10-second big work is held until eight 1-second small works have been done, the order
  // the clock gives them: while the even thread works through its first chunk, the odd thread
  // comes back for every chunk left. A fixed split would give thread 0 three chunks instead.
  auto run = run_with_fake_sleep(ON_DEMAND_SPLIT_DEMO, 2, {{"DENSE_SLEEP_HOLD", "10:8"}});
  EXPECT_EQ(run.result.status, 0);
  auto by_thread = lines_by_thread(run.result.out);
  const auto even = iterations_of(by_thread[0]);
  const auto odd = iterations_of(by_thread[1]);
  EXPECT_LE(even.size(), 2u) << "thread 0 ran more than the one long chunk";
  EXPECT_GE(odd.size(), 8u) << "thread 1 did not take the chunks left";
  EXPECT_EQ(even.size() + odd.size(), 10u);
}

TEST(VectorAddDemo, OneThreadAddsInOrder) {
  const auto r = run_program(VECTOR_ADD_DEMO, {}, omp_env("1"));
  EXPECT_EQ(r.status, 0);
  std::string expected = "Number of threads = 1\nThread 0 starting...\n";
  for (int i = 0; i < 20; i++) {
    expected += format("Thread 0: c[%d]= %d.000000\n", i, 2 * i);
  }
  EXPECT_EQ(r.out, expected);
}

TEST(VectorAddDemo, EveryElementIsAddedOnceBySomeThread) {
  for (int team : {2, 3, 4, 25}) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(team));
    const auto r = run_program(VECTOR_ADD_DEMO, {}, omp_env(std::to_string(team)));
    EXPECT_EQ(r.status, 0);
    const auto lines = split_lines(r.out);
    EXPECT_EQ(lines.size(), static_cast<size_t>(1 + team + 20));
    EXPECT_EQ(with_prefix(lines, "Number of threads = "),
              std::vector<std::string>{format("Number of threads = %d", team)});

    std::vector<std::string> expected_starts;
    expected_starts.reserve(team);
    for (int t = 0; t < team; t++) {
      expected_starts.push_back(format("Thread %d starting...", t));
    }

    std::vector<std::string> starts;
    std::map<int, int> runs_of_element;
    std::map<int, std::vector<int>> elements_of;  // thread -> elements in its order
    for (const auto& line : lines) {
      int tid = -1;
      int i = -1;
      if (std::sscanf(line.c_str(), "Thread %d: c[%d]", &tid, &i) == 2) {
        EXPECT_EQ(line, format("Thread %d: c[%d]= %d.000000", tid, i, 2 * i));
        EXPECT_GE(tid, 0);
        EXPECT_LT(tid, team);
        runs_of_element[i]++;
        elements_of[tid].push_back(i);
      } else if (line.find("starting") != std::string::npos) {
        starts.push_back(line);
      }
    }
    EXPECT_EQ(sorted(starts), sorted(expected_starts));
    for (int i = 0; i < 20; i++) {
      EXPECT_EQ(runs_of_element[i], 1) << "c[" << i << "]";
    }
    // One iteration at a time, handed out in ascending order: each thread's run ascends.
    for (const auto& [tid, elements] : elements_of) {
      EXPECT_TRUE(std::is_sorted(elements.begin(), elements.end())) << "thread " << tid;
    }
  }
}

}  // namespace
