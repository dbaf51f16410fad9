// The work of one run of compare_products: for each shape, the factors, the check, and every
// method measured on them.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <deque>
#include <string>
#include <vector>

#include "added.hpp"
#include "options.hpp"
#include "report.hpp"
#include "rounds.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/seeded.hpp"
#include "tools/common/stdout_sink.hpp"
#include "tools/common/timeline.hpp"

namespace compare_products {

// The shapes a run measures: one, or each size of a sweep.
std::vector<shape> shapes_of(const options& o);

struct factors {
  dense_core::matriz* a = nullptr;
  dense_core::matriz* b = nullptr;
};

// What the run found, over every shape.
struct run_result {
  std::vector<row> rows;
  std::vector<std::string> differences;  // one line per method that gave a wrong result
  int exact_shapes = 0;                  // shapes checked against the exact reference
  int32_t largest_exact = 0;             // the largest such shape's rows, for the header line
  double reference_seconds = 0.0;        // the exact references' cost, all shapes together
  double plan_seconds = 0.0;             // Freivalds' preparation (a*(b*X)), all shapes together
  double battery_seconds = 0.0;          // the added products' batteries, all together
  factors saved;                         // the last shape's factors, for --save
  dense_core::matriz* saved_product = nullptr;  // the product --save writes as C.txt
  uint64_t check_seed = 0;                      // Freivalds' vectors: --seed, else the clock
  uint64_t order_seed = 0;                      // the rounds' order: the same seed
  tool_common::splitmix64 order{0};             // draws each round's order
  std::vector<raw_call> raw;                    // every timed call, for --raw
  int32_t fewest_rounds = 0;                    // over the shapes
  int32_t most_rounds = 0;
  // /proc/stat's ticks and this process's CPU time while the rounds ran.
  tool_common::load_meter meter;
  tool_common::machine_load load;  // what other programs and the hypervisor took
  // --trace, --timeline: of each threaded row, the traced call nearest its median
  std::vector<tool_common::traced_product> traced;
  int status = 0;  // kExitOk, or kExitDiffers

  run_result() = default;
  run_result(const run_result&) = delete;
  run_result& operator=(const run_result&) = delete;
  ~run_result();  // releases the saved matrices
};

// How the run reaches the rest of the program: the library's stdout goes
// through `sink`; a refusal ends the process with kExitRefused; the
// products given with --add, loaded, are measured after the methods (may be null).
struct run_context {
  tool_common::stdout_sink* sink;
  void (*refuse)(const std::string& why);  // never returns
  std::deque<added_product>* added = nullptr;
};

// One row of a shape's plan: the row, and its call (empty when it is skipped).
struct planned_row {
  row r;
  timed_call call;
};

// The rows of shape `s`, in the table's order (the methods at each thread
// count they are measured with, then the added products), each with its call
// or why it is skipped; `done` are the rows of the smaller shapes of a sweep.
// Nothing is called.
std::vector<planned_row> plan_rows(const options& o, const shape& s, const std::vector<row>& done,
                                   const run_context& ctx);

// Measures every shape of `o`, in order, into `run`, showing progress on
// stderr when `show_progress`. Every library call runs with stdout in the sink.
void measure_all(const options& o, const run_context& ctx, bool show_progress, run_result& run);

// How the results were checked, for the header line.
std::string check_text(const options& o, const run_result& run);

}  // namespace compare_products
