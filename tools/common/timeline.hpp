// What threads did during one traced call of a product (--trace, --timeline): lanes of phases,
// written as Chrome trace JSON or drawn with gnuplot. compare_products traces the threads of
// one process; a program of several processes (MPI ranks) builds its lanes itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/trace.hpp"

namespace tool_common {

// One phase of one thread, in microseconds from the start of the product.
struct phase_span {
  std::string phase;
  double start_us;
  double end_us;
};

// One thread's lane: "calling thread", "thread 1", ...
struct lane {
  std::string name;
  std::vector<phase_span> spans;
};

// One traced call of one row.
struct traced_product {
  std::string name;  // as the table names the row: "kernel, 2 threads"
  double total_us;   // the whole call
  std::vector<lane> lanes;
  // How it was chosen: of `traced` calls, the one nearest the row's median
  // time `median_us` (0 when unknown); said in the picture.
  int32_t traced = 1;
  double median_us = 0.0;
};

// Sorts the spans of one call into lanes: the calling thread's first (the
// thread with id `caller`), then the others by the product's own number for
// them, or, for threads the product does not number, in the order they
// started. `start` and `end` bound the call on the spans' clock.
traced_product make_lanes(const std::string& name, double start, double end, int64_t caller,
                          const std::vector<dense_detail::trace::span_record>& spans);

// The index of the duration in `seconds` nearest `median` (the first of
// equals); 0 for none.
size_t nearest_to(const std::vector<double>& seconds, double median);

// Calls `call` up to `most` times with every thread's phases recorded
// (`after` runs after each, outside the recording: it releases the result),
// stopping early once the calls took `budget` seconds, and keeps the call
// nearest `median_s`: a traced call never stands for a row by being the
// outlier the machine happened to make. Call it when no product is running.
traced_product trace_nearest_median(const std::string& name, double median_s, int32_t most,
                                    double budget, const std::function<void()>& call,
                                    const std::function<void()>& after);

// Chrome's trace event format (JSON), which Perfetto and chrome://tracing open:
// a process per traced row, named like the table's row, a thread per lane,
// one "X" (complete) event per span, times in microseconds from the start of
// that product; a first lane "product" holds one span of the whole call.
std::string chrome_trace_json(const std::vector<traced_product>& products);

// The longest call of `products`, in milliseconds: the end of the time axis
// every panel of a timeline shares, so that equal lengths are equal times.
double shared_axis_ms(const std::vector<traced_product>& products);

// gnuplot input that draws the lanes as a PNG on standard output: one panel
// per product, one lane per thread, one colour per phase with a legend inside
// the panel, time in milliseconds on one axis for every panel, each product's
// end marked, and how its call was chosen. `title` (lines apart by '\n') says
// what and where (picture_title in gnuplot.hpp).
std::string timeline_script(const std::vector<traced_product>& products, const std::string& title);

}  // namespace tool_common
