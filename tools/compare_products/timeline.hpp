// What threads did during one traced call of each threaded row (--trace, --timeline): lanes of
// phases, written as Chrome trace JSON or drawn with gnuplot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/trace.hpp"

namespace compare_products {

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
};

// Sorts the spans of one call into lanes: the calling thread's first (the
// thread with id `caller`), then the others by the product's own number for
// them, or, for threads the product does not number, in the order they
// started. `start` and `end` bound the call on the spans' clock.
traced_product make_lanes(const std::string& name, double start, double end, int64_t caller,
                          const std::vector<dense_detail::trace::span_record>& spans);

// Chrome's trace event format (JSON), which Perfetto and chrome://tracing open:
// a process per traced row, named like the table's row, a thread per lane,
// one "X" (complete) event per span, times in microseconds from the start of
// that product; a first lane "product" holds one span of the whole call.
std::string chrome_trace_json(const std::vector<traced_product>& products);

// gnuplot input that draws the lanes as a PNG on standard output: one panel
// per product, one lane per thread, one colour per phase with a legend, time
// in milliseconds, the product's end marked; titled with `machine`.
std::string timeline_script(const std::vector<traced_product>& products,
                            const std::string& machine);

}  // namespace compare_products
