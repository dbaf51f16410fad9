// Private to the kit: a per-thread timeline of the threaded products, for compare_products'
// --trace and --timeline (never installed).
//
// Each threaded product marks its phases with a `span` on the thread that
// runs them: a worker's job, the calling thread's wait for a join, a team's
// packing, multiplying and waiting. Recording is off unless a caller turns it
// on with start(); then each span appends one record to a buffer of its
// thread's own, so no thread ever waits for another to record. stop() turns
// recording off and hands over every thread's records.
//
// The one piece of shared mutable state is the switch (an atomic flag) with
// the list of the threads' buffers (pushed onto with an atomic exchange, read
// only by stop()). Off, a span costs one relaxed load and a branch that is
// always predicted the same way; on, two wtime readings and an append
// (docs/threads-at-work.md gives both as measured).
//
// start() and stop() are for a caller that runs one product at a time: call
// them when no product is running (every span of a product has ended when
// the product returns, since its threads are joined or its team has left its
// region). Times come from wtime's clock (gettimeofday), in seconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace dense_detail::trace {

// One phase of one thread.
struct span_record {
  const char* phase;  // a static text: "multiply", "wait for thread", ...
  double start;       // seconds, wtime's clock
  double end;
  int64_t thread;  // the operating system's id of the thread (gettid)
  int32_t worker;  // the product's own number for the thread, -1 for the calling thread
};

// The phases the products mark, named once for the products and the tests.
inline constexpr char kPartition[] = "partition";            // cut the factors, make the parts
inline constexpr char kStartThreads[] = "start threads";     // create the workers
inline constexpr char kRows[] = "rows";                      // a thread's rows of the result
inline constexpr char kBandProduct[] = "band product";       // one band of a times one of b
inline constexpr char kWaitForThread[] = "wait for thread";  // one join
inline constexpr char kAddPart[] = "add part";               // add one part into the sum
inline constexpr char kScanValues[] = "scan values";         // a team's rows of the 16-bit check
inline constexpr char kPackB[] = "pack b";                   // a run of b's panels, for the team
inline constexpr char kPackA[] = "pack a";                   // a block of a, for one thread
inline constexpr char kMultiply[] = "multiply";              // tiles against packed panels
inline constexpr char kWait[] = "wait";  // for a piece of work another thread holds

// The switch. Read through recording(), written by start() and stop() only.
inline std::atomic<bool> g_recording{false};

inline bool recording() { return g_recording.load(std::memory_order_relaxed); }

// Forgets whatever was recorded and turns recording on.
void start();

// Turns recording off and returns every span recorded since start(), from
// every thread, ordered by start time.
std::vector<span_record> stop();

// The id of the calling thread, as span_record::thread holds it.
int64_t this_thread();

// Appends one span to this thread's buffer (what ~span does).
void record(const char* phase, double start, double end, int32_t worker);

// Seconds on wtime's clock.
double now();

// Marks the phase `phase` from its construction to the end of its scope, on
// the thread that made it; `worker` is the product's own number for that
// thread (-1 for the calling thread). Nothing at all when recording is off.
class span {
 public:
  span(const char* phase, int32_t worker)
      : phase_(recording() ? phase : nullptr), worker_(worker), start_(phase_ ? now() : 0.0) {}
  ~span() { end(); }
  // Ends the phase here rather than at the end of the scope.
  void end() {
    if (phase_ != nullptr) {
      record(phase_, start_, now(), worker_);
      phase_ = nullptr;
    }
  }
  span(const span&) = delete;
  span& operator=(const span&) = delete;

 private:
  const char* phase_;
  int32_t worker_;
  double start_;
};

}  // namespace dense_detail::trace
