// mpi_compare's --trace and --timeline: one more call of each method after the timed rounds, every
// rank's phases recorded on its own clock, shifted onto rank 0's, gathered to rank 0.
//
// Which call: for each method, its row on every rank of the run with the most
// threads of --threads, called kTracedCalls times more after the rounds (never
// a call the table times; fewer once they took kTraceBudget seconds); of
// those, the one whose time (the slowest rank's)
// is nearest the row's median is kept, so that a trace does not stand for its
// row by being the call the machine happened to disturb. Every rank records
// the phases the MPI products and the team kernel mark (common/trace.hpp) and
// the bounds of its call.
//
// Clocks: every rank reads its own clock (gettimeofday). Before the traced
// calls, each rank r > 0 exchanges kPings empty messages with rank 0: r reads
// its clock (t1), sends, rank 0 answers with its own reading t0, r reads its
// clock again (t2). If both trips took equal time, rank 0 read t0 at r's
// (t1 + t2) / 2, so r's offset is t0 - (t1 + t2) / 2; however the round trip
// splits, that is off by at most (t2 - t1) / 2, plus the clock's tick (1 us)
// since each reading is cut to it. Of the exchanges, the one
// with the shortest round trip is kept. On one host the clocks are one clock
// and the estimate says so within a few microseconds; across hosts it holds
// as long as the clocks do not drift apart during the traced calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "collective.hpp"
#include "common/trace.hpp"
#include "options.hpp"
#include "tools/common/timeline.hpp"

namespace mpi_compare {

inline constexpr int32_t kPings = 16;
inline constexpr int32_t kTracedCalls = 5;
// Seconds of traced calls of one method after which no more are made (one at least).
inline constexpr double kTraceBudget = 2.0;

// One rank's clock against rank 0's: add `offset` to its readings; the
// result is off by at most `uncertainty` (half the shortest round trip and
// the clock's tick).
struct clock_offset {
  double offset = 0.0;  // seconds
  double uncertainty = 0.0;
};

// One phase of one thread of one rank, on rank 0's clock.
struct rank_span {
  std::string phase;
  double start;  // seconds, rank 0's clock
  double end;
  int64_t thread;  // the operating system's id of the thread, on its rank's host
  int32_t worker;  // the product's own number for the thread, -1 for the calling thread
  int32_t call;    // index into traced_run::calls
};

// One traced call on every rank of the run.
struct rank_call {
  std::string name;           // "summa, 2 ranks, 1 thread each"
  size_t setup = 0;           // the row it repeats, index into set_up_rows
  int32_t traced = 1;         // of how many traced calls it is the one kept
  std::vector<double> start;  // per rank, rank 0's clock
  std::vector<double> end;
};

// What rank 0 holds once every rank's spans are in.
struct traced_run {
  int32_t ranks = 1;
  std::vector<clock_offset> clocks;           // per rank; rank 0's is zero
  std::vector<rank_call> calls;               // in the order they ran
  std::vector<std::vector<rank_span>> spans;  // per rank, by start
  std::vector<int64_t> caller;                // per rank: the thread that made the calls
};

// Each rank's offset to rank 0's clock, estimated as above; on rank 0, every
// rank's, on the others their own alone at their index. Collective.
std::vector<clock_offset> align_clocks();

// The traced calls on every rank, gathered on rank 0 (elsewhere empty). Collective.
// `median_s`: on rank 0, each row's median time from the rounds (index of `setups`).
traced_run trace_methods(const options& o, std::vector<row_setup>& setups, const whole_factors& w,
                         const std::vector<double>& median_s);

// Chrome trace JSON: pid = rank, tid = the lane of a thread inside its rank
// (0: the calling thread), one "X" event per span, a "call" event per rank
// and call named like the call, times in microseconds from the first call's
// start on rank 0's clock; the clock offsets and how they were made under "otherData".
std::string trace_json(const traced_run& run, const options& o);

// The calls as tool_common's lanes, one product per call, a lane per rank
// and thread ("rank 1, thread 2"), times from that call's first start.
// `median_s`: each call's row's median time from the table (0 unknown).
std::vector<tool_common::traced_product> trace_products(const traced_run& run,
                                                        const std::vector<double>& median_s);

}  // namespace mpi_compare
