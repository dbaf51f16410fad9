// The threads' recorder: nothing when off; on, every span of every thread, whole, once.
#include "common/trace.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace {

namespace trace = dense_detail::trace;

TEST(Trace, OffRecordsNothingAndOnKeepsEverySpanOfEveryThreadWhole) {
  {
    const trace::span before(trace::kRows, 0);  // recording is off by default
  }
  trace::start();
  const auto empty = trace::stop();
  EXPECT_TRUE(empty.empty());

  // Many threads, each many spans, each span's phase and worker telling its
  // thread and place apart: a lost or torn record shows as a wrong count or
  // a mismatched pair.
  constexpr int kThreads = 8;
  constexpr int kSpans = 3000;
  static const char* const kPhases[] = {trace::kMultiply, trace::kPackA, trace::kWait};
  trace::start();
  const double before = trace::now();
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kSpans; ++i) {
        const trace::span s(kPhases[(t + i) % 3], t * kSpans + i);
      }
    });
  }
  for (auto& th : threads) {
    th.join();
  }
  { const trace::span mine(trace::kAddPart, -1); }
  const double after = trace::now();
  const auto spans = trace::stop();
  ASSERT_EQ(spans.size(), static_cast<size_t>(kThreads * kSpans + 1));
  std::map<int64_t, int> per_thread;
  std::vector<bool> seen(static_cast<size_t>(kThreads) * kSpans, false);
  double last_start = 0.0;
  for (const auto& s : spans) {
    EXPECT_GE(s.start, last_start);  // handed over in start order
    last_start = s.start;
    EXPECT_LE(before, s.start);
    EXPECT_LE(s.start, s.end);
    EXPECT_LE(s.end, after);
    ++per_thread[s.thread];
    if (s.worker < 0) {
      EXPECT_EQ(s.phase, trace::kAddPart);
      EXPECT_EQ(s.thread, trace::this_thread());
      continue;
    }
    const int t = s.worker / kSpans;
    const int i = s.worker % kSpans;
    EXPECT_EQ(s.phase, kPhases[(t + i) % 3]) << s.worker;
    EXPECT_FALSE(seen[static_cast<size_t>(s.worker)]) << s.worker;
    seen[static_cast<size_t>(s.worker)] = true;
  }
  EXPECT_EQ(per_thread.size(), static_cast<size_t>(kThreads + 1));

  // Stopped, a span records nothing, and the next session starts empty.
  { const trace::span after_stop(trace::kRows, 1); }
  trace::start();
  EXPECT_TRUE(trace::stop().empty());
}

// A span around a sleep of known length records that length: start and end
// come from two readings of the clock, taken when the span begins and ends.
// (A span recorded with end = start would pass every check above.)
TEST(Trace, ASpanAroundASleepRecordsTheSleepsLength) {
  constexpr double kSleep = 0.020;  // seconds
  trace::start();
  const double before = trace::now();
  {
    const trace::span s(trace::kWait, 3);
    std::this_thread::sleep_for(std::chrono::duration<double>(kSleep));
  }
  const double after = trace::now();
  const auto spans = trace::stop();
  ASSERT_EQ(spans.size(), 1u);
  // The clock has microseconds: allow one tick of rounding at each end.
  constexpr double kTick = 1e-6;
  EXPECT_GE(spans[0].end - spans[0].start, kSleep - kTick);
  EXPECT_LE(before, spans[0].start);
  EXPECT_LE(spans[0].end, after);
}

}  // namespace
