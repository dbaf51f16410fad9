// false_sharing_demo: threads that share no variable can still slow each other down.
//
// What it shows: each thread increments a counter of its own, INCREMENTS times. No counter is
// shared, so there is no race and nothing to lock. Once, the counters lie side by side in one
// 64-byte cache line (8 to a line); once, each lies on a line of its own (alignas(64)). A core
// must own a whole line to write into it, so in the first layout the line travels from core to
// core at nearly every increment: false sharing. The work is the same; only the addresses differ.
// What to watch for: with 2 threads on 2 cores the shared line is several times slower; with 1
// thread both layouts take the same time (the ratio is about 1).
//
// Usage: false_sharing_demo [THREADS [INCREMENTS]] (defaults 2 and 100000000; THREADS from 1 to
// 64). Each layout runs three times; its fastest run is printed. Output, exactly four lines:
//   threads 2, increments per thread 100000000
//   same cache line: 0.812345 s
//   own cache lines: 0.123456 s
//   ratio: 6.58x
// Times are wall-clock seconds with six decimals, from the moment every thread is ready to go
// until the last one is done (starting the threads is not timed); the ratio is the first time
// over the second, with two decimals. Bad arguments print the usage line on stderr, status 1.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// The cache line of every x86-64 CPU (and most others).
constexpr size_t kLine = 64;
constexpr int kMaxThreads = 64;
constexpr int kRuns = 3;

// Counters side by side: eight 8-byte counters fill one line.
struct alignas(kLine) packed_counters {
  std::atomic<int64_t> count[kMaxThreads];
};

// One counter per line: the padding keeps every neighbour off it.
struct alignas(kLine) padded_counter {
  std::atomic<int64_t> count;
};

// Only this thread writes its counter, so a relaxed load and store (a plain add in the
// machine code, no lock) is exact; the atomic type only stops the compiler from keeping the
// counter in a register, which would hide the memory traffic the lesson is about.
void count_up(std::atomic<int64_t>& counter, int64_t increments) {
  for (int64_t i = 0; i < increments; ++i) {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
}

// Runs one thread per counter, released together; returns the wall time of the increments.
double time_threads(const std::vector<std::atomic<int64_t>*>& counters, int64_t increments) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> team;
  team.reserve(counters.size());
  for (std::atomic<int64_t>* c : counters) {
    c->store(0);
    team.emplace_back([c, increments, &ready, &go] {
      ready.fetch_add(1);
      while (!go.load(std::memory_order_acquire)) {
        std::this_thread::yield();  // more threads than cores must not starve the others
      }
      count_up(*c, increments);
    });
  }
  while (ready.load() != static_cast<int>(counters.size())) {
    std::this_thread::yield();
  }
  const auto start = std::chrono::steady_clock::now();
  go.store(true, std::memory_order_release);
  for (auto& t : team) {
    t.join();
  }
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(end - start).count();
}

// The fastest of kRuns runs.
double best_time(const std::vector<std::atomic<int64_t>*>& counters, int64_t increments) {
  double best = time_threads(counters, increments);
  for (int r = 1; r < kRuns; ++r) {
    const double t = time_threads(counters, increments);
    best = t < best ? t : best;
  }
  return best;
}

// A whole decimal number from lo to hi, or -1.
int64_t parse(const char* text, int64_t lo, int64_t hi) {
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) {
    return -1;
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t threads = 2;
  int64_t increments = 100000000;
  if (argc > 3 || (argc > 1 && (threads = parse(argv[1], 1, kMaxThreads)) < 0) ||
      (argc > 2 && (increments = parse(argv[2], 1, INT64_MAX)) < 0)) {
    std::fprintf(stderr, "usage: %s [THREADS (1-%d) [INCREMENTS]]\n", argv[0], kMaxThreads);
    return 1;
  }

  static packed_counters packed;
  static padded_counter padded[kMaxThreads];
  std::vector<std::atomic<int64_t>*> side_by_side;
  std::vector<std::atomic<int64_t>*> apart;
  for (int64_t t = 0; t < threads; ++t) {
    side_by_side.push_back(&packed.count[t]);
    apart.push_back(&padded[t].count);
  }

  const double same_line = best_time(side_by_side, increments);
  const double own_lines = best_time(apart, increments);
  std::printf("threads %lld, increments per thread %lld\n", static_cast<long long>(threads),
              static_cast<long long>(increments));
  std::printf("same cache line: %.6f s\n", same_line);
  std::printf("own cache lines: %.6f s\n", own_lines);
  std::printf("ratio: %.2fx\n", same_line / own_lines);
  return 0;
}
