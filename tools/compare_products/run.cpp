// One run of compare_products: the factors of each shape, how their products are checked, and
// every method measured on them.
#include "run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/dense_arith.hpp>
#include <dense/textio.hpp>
#include <memory>

#include "check.hpp"
#include "common/matrix_records.hpp"
#include "factors.hpp"
#include "methods.hpp"
#include "rounds.hpp"
#include "tools/common/battery.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/freivalds.hpp"
#include "tools/common/text.hpp"
#include "worker.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;
using tool_common::errno_text;
using tool_common::threads_text;

// The context's refusal ends the process; the abort only tells the compiler so.
[[noreturn]] void refuse(const run_context& ctx, const std::string& why) {
  ctx.refuse(why);
  std::abort();
}

// ---- Step 3: the factors of one shape ---------------------------------------------------------

// Reads a checked matrix file through the library's readers.
matriz* read_factor_file(const run_context& ctx, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    refuse(ctx, "--load: " + path + ": " + errno_text());
  }
  int32_t lin = 0, col = 0, nlinhas = 0;
  int32_t* tabela = nullptr;
  ctx.sink->begin();
  textio::extrai_parametros_matriz(f, &lin, &col, &tabela, &nlinhas);
  matriz* m = dense_detail::new_zeroed_matrix(lin, col);
  if (m != nullptr) {
    textio::filein_matriz(m->mat, lin, col, f, tabela, nlinhas);
  }
  ctx.sink->end();
  std::free(tabela);
  std::fclose(f);
  // The memory check said it would fit; the heap disagreed.
  if (m == nullptr) {
    refuse(ctx, "--load: " + path + ": not enough memory for its matrix");
  }
  return m;
}

matriz* random_factor(const run_context& ctx, const options& o, int32_t rows, int32_t cols,
                      uint64_t* seed_state) {
  matriz* m = dense_detail::new_zeroed_matrix(rows, cols);
  if (m == nullptr) {
    refuse(ctx, o.shape_option + ": not enough memory for a " + std::to_string(rows) + "x" +
                    std::to_string(cols) + " factor");
  }
  if (o.seeded) {
    fill_seeded(m, o.limit, seed_state);
    return m;
  }
  ctx.sink->begin();
  dense_core::mgerar_aleatorio(m, o.limit);
  ctx.sink->end();
  return m;
}

factors prepare_factors(const run_context& ctx, const options& o, const shape& s) {
  if (!o.load_a.empty()) {
    return {read_factor_file(ctx, o.load_a), read_factor_file(ctx, o.load_b)};
  }
  uint64_t state = o.seed;
  factors f{random_factor(ctx, o, s.rows, s.inner, &state),
            random_factor(ctx, o, s.inner, s.cols, &state)};
  if (!o.seeded) {
    reverse_rows(f.b);
  }
  return f;
}

// ---- Step 4: measuring every method on one shape ----------------------------------------------

void progress(bool show, const std::string& text) {
  if (!show) {
    return;
  }
  std::fprintf(stderr, "\r%-72.72s", text.c_str());
  std::fflush(stderr);
}

// In a sweep, a row leaves the rounds once its calls took this long in all:
// the slow loop nests at the largest sizes would otherwise take minutes.
constexpr double kSweepRowBudget = 1.0;

// In a sweep, a method whose one repetition at this size is predicted to take
// longer than this is skipped: the loop nests slow down faster than n^3 past
// the caches (tipo5 takes minutes at 2048), and the sweep is meant to show
// the trend in about a minute.
constexpr double kSweepRowLimit = 2.0;

// The fastest result that passed, kept for --save when no exact reference exists.
struct fastest_result {
  matriz* product = nullptr;
  double seconds = 0.0;
  bool offer(matriz* m, double s) {
    if (product != nullptr && s >= seconds) {
      return false;
    }
    dense_detail::release_matrix(product);
    product = m;
    seconds = s;
    return true;
  }
};

// A few more calls of each threaded row of the kit that ran, with every
// thread's phases recorded: calls of their own, so the table's times never
// include the recording; the one nearest the row's median is kept.
constexpr int32_t kTracedCalls = 5;
constexpr double kTraceBudget = 1.0;

void trace_rows(run_result& run, size_t first, const factors& f, tool_common::stdout_sink* sink,
                bool sweep) {
  for (size_t i = first; i < run.rows.size(); ++i) {
    const row& r = run.rows[i];
    if (!r.skipped.empty() || !r.stopped.empty() || r.method->run == nullptr ||
        r.method->threads == threading::sequential) {
      continue;
    }
    const std::string name = std::string(r.method->name) + ", " + threads_text(r.threads) +
                             (sweep ? ", n = " + std::to_string(r.size.rows) : "");
    matriz* c = nullptr;
    sink->begin();
    run.traced.push_back(tool_common::trace_nearest_median(
        name, tool_common::median(r.seconds), kTracedCalls, kTraceBudget,
        [&] { c = r.method->run(f.a, f.b, r.threads); }, [&] { dense_detail::release_matrix(c); }));
    sink->end();
  }
}

// The row of the same method on one thread in this shape (rows `first` on),
// when row `i` runs on more threads and that row runs too; else null.
const row* one_thread_row(const run_result& run, size_t first, size_t i) {
  const row& r = run.rows[i];
  if (r.threads == 1 || r.method->threads != threading::requested) {
    return nullptr;
  }
  for (size_t j = first; j < run.rows.size(); ++j) {
    const row& other = run.rows[j];
    if (other.method == r.method && other.threads == 1 && other.skipped.empty()) {
      return &other;
    }
  }
  return nullptr;
}

// A planned row of `method` on `threads` threads; in a sweep, skipped when
// the smaller sizes predict it too slow or saw it time out.
planned_row plan_row(const options& o, const shape& s, const std::vector<row>& done,
                     const product_method* method, int32_t threads, std::string skipped) {
  planned_row p;
  p.r.method = method;
  p.r.threads = threads;
  p.r.size = s;
  p.r.skipped = std::move(skipped);
  if (p.r.skipped.empty() && !o.sizes.empty()) {
    std::vector<const tool_common::measured_row*> earlier;
    for (const row& r : done) {
      if (r.method == method && r.threads == threads) {
        earlier.push_back(&r);
      }
    }
    p.r.skipped = tool_common::sweep_skip_reason(earlier, s, kSweepRowLimit);
  }
  return p;
}

// How the result of each shape is checked: the exact reference while it is
// cheap, else Freivalds' test.
struct shape_check {
  matriz* reference = nullptr;
  std::unique_ptr<tool_common::freivalds_plan> plan;
  result_check check;
};

void prepare_check(const options& o, const run_context& ctx, const shape& s, const factors& f,
                   bool show_progress, run_result& run, shape_check& out) {
  if (!uses_exact_reference(o.verify, s.rows, s.inner, s.cols)) {
    progress(show_progress, "preparing Freivalds' test ...");
    const double start = textio::wtime();
    out.plan = std::make_unique<tool_common::freivalds_plan>(f.a, f.b, run.check_seed);
    run.plan_seconds += textio::wtime() - start;
    out.check = freivalds_result_check(*out.plan);
    return;
  }
  progress(show_progress, "computing the reference product ...");
  ctx.sink->begin();
  const double start = textio::wtime();
  out.reference = dense_arith::mmultiplicar(f.a, f.b, 1);
  run.reference_seconds += textio::wtime() - start;
  ctx.sink->end();
  if (out.reference == nullptr) {
    std::fprintf(stderr, "compare_products: the sequential product gave no result\n");
    std::exit(tool_common::kExitDiffers);
  }
  out.check = exact_check(out.reference, *ctx.sink);
  ++run.exact_shapes;
  run.largest_exact = s.rows;
}

tool_common::round_rules rules_for(const options& o) {
  tool_common::round_rules rules;
  rules.exact_rounds = o.repeat;
  rules.time_budget = o.time_budget;
  if (!o.sizes.empty()) {
    rules.time_budget = o.time_given ? o.time_budget : 0.0;
    rules.row_budget = kSweepRowBudget;
  }
  return rules;
}

// The rounds of one shape over the rows from `first` on; returns how many ran.
int32_t measure_rows(const options& o, const std::vector<timed_call>& calls, size_t first,
                     tool_common::round_context& rc, bool show_progress, run_result& run) {
  std::vector<tool_common::candidate> candidates;
  for (size_t i = first; i < run.rows.size(); ++i) {
    if (calls[i - first]) {
      candidates.push_back({&run.rows[i], i, calls[i - first], one_thread_row(run, first, i)});
    }
  }
  const std::string at_size = o.sizes.empty() || first == run.rows.size()
                                  ? ""
                                  : "n = " + std::to_string(run.rows[first].size.rows) + ", ";
  rc.order = &run.order;
  rc.raw = &run.raw;
  rc.progress = [&](int32_t round, size_t i) {
    const row& r = run.rows[i];
    progress(show_progress, at_size +
                                (round < 0 ? "warm-up" : "round " + std::to_string(round + 1)) +
                                ": " + r.method->name + ", " + threads_text(r.threads));
  };
  std::vector<tool_common::row_verdict> differences;
  // The workers of the added products work for us: their CPU time is ours too.
  run.meter.start(tool_common::own_cpu_seconds() + workers_cpu_seconds());
  const int32_t rounds = tool_common::run_rounds(candidates, rules_for(o), rc, &differences);
  run.meter.stop(tool_common::own_cpu_seconds() + workers_cpu_seconds());
  for (const auto& d : differences) {
    const row& r = *static_cast<const row*>(d.of);
    run.differences.push_back(std::string(r.method->name) + " (" + r.method->what + ") on " +
                              threads_text(r.threads) + " " + explained(d.verdict, o.timeout));
  }
  return rounds;
}

// Each added product on the battery before any shape is measured: one that
// fails it is not timed, and the first failing case goes to stderr.
void try_batteries(const options& o, const run_context& ctx, bool show_progress, run_result& run) {
  const double start = textio::wtime();
  for (added_product& p : *ctx.added) {
    const std::string failed = p.try_battery(
        o.threads.empty() ? 1 : o.threads.back(), o.limit, run.check_seed, *ctx.sink,
        [&](const std::string& at) {
          progress(show_progress, std::string("battery: ") + p.method().name + ", " + at);
        });
    if (!failed.empty()) {
      run.differences.push_back(std::string(p.method().name) + " (" + p.method().what + ") " +
                                failed);
    }
  }
  run.battery_seconds = textio::wtime() - start;
}

void measure_shape(const options& o, const run_context& ctx, const shape& s, bool last,
                   bool show_progress, run_result& run) {
  progress(show_progress, "preparing the factors ...");
  factors f = prepare_factors(ctx, o, s);
  shape_check sc;
  prepare_check(o, ctx, s, f, show_progress, run, sc);
  // Every row of the shape first, so that the rows the rounds fill stay where they are.
  const size_t first = run.rows.size();
  std::vector<timed_call> calls;
  for (planned_row& p : plan_rows(o, s, run.rows, ctx)) {
    run.rows.push_back(std::move(p.r));
    calls.push_back(std::move(p.call));
  }
  fastest_result fastest;
  tool_common::round_context rc;
  rc.a = f.a;
  rc.b = f.b;
  rc.check = &sc.check;
  if (last && sc.reference == nullptr && !o.save_dir.empty()) {
    rc.keep = [&fastest](matriz* c, double secs) { return fastest.offer(c, secs); };
  }
  const int32_t rounds = measure_rows(o, calls, first, rc, show_progress, run);
  for (size_t i = first; i < run.rows.size(); ++i) {
    run.rows[i].shape_rounds = rounds;
  }
  run.fewest_rounds = run.fewest_rounds == 0 ? rounds : std::min(run.fewest_rounds, rounds);
  run.most_rounds = std::max(run.most_rounds, rounds);
  if (!o.trace.empty() || !o.timeline.empty()) {
    trace_rows(run, first, f, ctx.sink, !o.sizes.empty());
  }
  if (last) {
    run.saved = f;
    run.saved_product = sc.reference != nullptr ? sc.reference : fastest.product;
    return;
  }
  dense_detail::release_matrix(sc.reference);
  dense_detail::release_matrix(f.a);
  dense_detail::release_matrix(f.b);
}

}  // namespace

std::vector<planned_row> plan_rows(const options& o, const shape& s, const std::vector<row>& done,
                                   const run_context& ctx) {
  std::vector<planned_row> plan;
  for (const product_method* m : o.methods) {
    for (int32_t t : measured_thread_counts(*m, o.threads)) {
      plan.push_back(plan_row(o, s, done, m, t, skip_reason(*m, s.inner, t)));
      if (plan.back().r.skipped.empty()) {
        plan.back().call = in_process(m->run, ctx.sink);
      }
    }
  }
  // The added products after the methods, at every requested thread count.
  if (ctx.added == nullptr) {
    return plan;
  }
  for (added_product& p : *ctx.added) {
    for (int32_t t : measured_thread_counts(p.method(), o.threads)) {
      plan.push_back(plan_row(o, s, done, &p.method(), t, ""));
      if (!p.untimed().empty()) {
        plan.back().r.stopped = p.untimed();
        plan.back().r.identical = false;
      } else if (plan.back().r.skipped.empty()) {
        plan.back().call = p.call();
      }
    }
  }
  return plan;
}

std::vector<shape> shapes_of(const options& o) {
  if (o.sizes.empty()) {
    return {{o.rows, o.inner, o.cols}};
  }
  std::vector<shape> shapes;
  for (int32_t n : o.sizes) {
    shapes.push_back({n, n, n});
  }
  return shapes;
}

run_result::~run_result() {
  dense_detail::release_matrix(saved_product);
  dense_detail::release_matrix(saved.a);
  dense_detail::release_matrix(saved.b);
}

void measure_all(const options& o, const run_context& ctx, bool show_progress, run_result& run) {
  run.check_seed = o.seeded ? o.seed : static_cast<uint64_t>(textio::wtime() * 1e6);
  run.order_seed = run.check_seed;
  run.order.state = run.order_seed;
  if (ctx.added != nullptr) {
    try_batteries(o, ctx, show_progress, run);
  }
  const auto shapes = shapes_of(o);
  for (size_t i = 0; i < shapes.size(); ++i) {
    measure_shape(o, ctx, shapes[i], i + 1 == shapes.size(), show_progress, run);
  }
  progress(show_progress, "");
  if (show_progress) {
    std::fputs("\r", stderr);
  }
  derive(run.rows);
  run.load = run.meter.load();
  run.status = run.differences.empty() ? tool_common::kExitOk : tool_common::kExitDiffers;
}

// How the results were checked, for the header line.
std::string check_text(const options& o, const run_result& run) {
  // The added products' batteries, which every check follows.
  const std::string battery =
      o.added.empty() ? ""
                      : ", added products first tried on a battery of " +
                            std::to_string(tool_common::battery_cases(1).size()) + " cases (" +
                            tool_common::format_number("%.6f s)", run.battery_seconds);
  char reference[160];
  std::snprintf(reference, sizeof reference,
                "checked against mmultiplicar tipo 1 (reference %.6f s)", run.reference_seconds);
  const int shapes = static_cast<int>(shapes_of(o).size());
  if (run.exact_shapes == shapes) {
    return reference + battery;
  }
  char prepared[120];
  std::snprintf(prepared, sizeof prepared, " (%d random vectors, prepared in %.6f s)",
                tool_common::kFreivaldsRounds, run.plan_seconds);
  std::string freivalds = std::string("checked with Freivalds' test") + prepared;
  if (run.exact_shapes == 0) {
    return freivalds + battery;
  }
  return std::string(reference) + " up to n = " + std::to_string(run.largest_exact) + ", " +
         freivalds + " above" + battery;
}

}  // namespace compare_products
