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
#include "common/trace.hpp"
#include "factors.hpp"
#include "methods.hpp"
#include "rounds.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/freivalds.hpp"
#include "worker.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;

std::string errno_text() { return std::strerror(errno); }

// The context's refusal ends the process; the abort only tells the compiler so.
[[noreturn]] void refuse(const run_context& ctx, const std::string& why) {
  ctx.refuse(why);
  std::abort();
}

std::string threads_text(int32_t t) {
  return std::to_string(t) + (t == 1 ? " thread" : " threads");
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

// One more call of each threaded row of the kit that ran, with every
// thread's phases recorded: a call of its own, so the table's times never
// include the recording.
void trace_rows(run_result& run, size_t first, const round_context& rc, stdout_sink* sink,
                bool sweep) {
  namespace trace = dense_detail::trace;
  for (size_t i = first; i < run.rows.size(); ++i) {
    const row& r = run.rows[i];
    if (!r.skipped.empty() || !r.stopped.empty() || r.method->run == nullptr ||
        r.method->threads == threading::sequential) {
      continue;
    }
    sink->begin();
    trace::start();
    const double start = trace::now();
    matriz* c = r.method->run(rc.a, rc.b, r.threads);
    const double end = trace::now();
    const auto spans = trace::stop();
    sink->end();
    dense_detail::release_matrix(c);
    const std::string name = std::string(r.method->name) + ", " + threads_text(r.threads) +
                             (sweep ? ", n = " + std::to_string(r.rows) : "");
    run.traced.push_back(make_lanes(name, start, end, trace::this_thread(), spans));
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

void measure_shape(const options& o, const run_context& ctx, const shape& s, bool last,
                   bool show_progress, run_result& run) {
  progress(show_progress, "preparing the factors ...");
  factors f = prepare_factors(ctx, o, s);

  matriz* reference = nullptr;
  std::unique_ptr<tool_common::freivalds_plan> plan;
  result_check check;
  if (uses_exact_reference(o.verify, s.rows, s.inner, s.cols)) {
    progress(show_progress, "computing the reference product ...");
    ctx.sink->begin();
    const double start = textio::wtime();
    reference = dense_arith::mmultiplicar(f.a, f.b, 1);
    run.reference_seconds += textio::wtime() - start;
    ctx.sink->end();
    if (reference == nullptr) {
      std::fprintf(stderr, "compare_products: the sequential product gave no result\n");
      std::exit(tool_common::kExitDiffers);
    }
    check = exact_check(reference, *ctx.sink);
    ++run.exact_shapes;
    run.largest_exact = s.rows;
  } else {
    progress(show_progress, "preparing Freivalds' test ...");
    const double start = textio::wtime();
    plan = std::make_unique<tool_common::freivalds_plan>(f.a, f.b, run.check_seed);
    run.plan_seconds += textio::wtime() - start;
    check = freivalds_result_check(*plan);
  }

  fastest_result fastest;
  const bool keep_fastest = last && reference == nullptr && !o.save_dir.empty();
  // Every row of the shape first, so that the rows the rounds fill stay where they are.
  const size_t first = run.rows.size();
  std::vector<timed_call> calls;
  for (const product_method* m : o.methods) {
    for (int32_t t : measured_thread_counts(*m, o.threads)) {
      row r;
      r.method = m;
      r.threads = t;
      r.rows = s.rows;
      r.inner = s.inner;
      r.cols = s.cols;
      r.skipped = skip_reason(*m, s.inner, t);
      if (r.skipped.empty() && !o.sizes.empty()) {
        r.skipped = sweep_skip_reason(run.rows, m, t, s.rows, s.inner, s.cols, kSweepRowLimit);
      }
      run.rows.push_back(r);
      calls.push_back(r.skipped.empty() ? in_process(m->run, ctx.sink) : timed_call());
    }
  }
  // The added products after the methods, at every requested thread count.
  if (ctx.added != nullptr) {
    for (added_product& p : *ctx.added) {
      for (int32_t t : measured_thread_counts(p.method(), o.threads)) {
        row r;
        r.method = &p.method();
        r.threads = t;
        r.rows = s.rows;
        r.inner = s.inner;
        r.cols = s.cols;
        if (!o.sizes.empty()) {
          r.skipped =
              sweep_skip_reason(run.rows, r.method, t, s.rows, s.inner, s.cols, kSweepRowLimit);
        }
        run.rows.push_back(r);
        calls.push_back(r.skipped.empty() ? p.call() : timed_call());
      }
    }
  }
  std::vector<candidate> candidates;
  for (size_t i = first; i < run.rows.size(); ++i) {
    if (calls[i - first]) {
      candidates.push_back({&run.rows[i], i, calls[i - first], one_thread_row(run, first, i)});
    }
  }

  round_rules rules;
  rules.exact_rounds = o.repeat;
  if (!o.sizes.empty()) {
    rules.time_budget = o.time_given ? o.time_budget : 0.0;
    rules.row_budget = kSweepRowBudget;
  } else {
    rules.time_budget = o.time_budget;
  }
  round_context rc;
  rc.a = f.a;
  rc.b = f.b;
  rc.check = &check;
  rc.order = &run.order;
  rc.raw = &run.raw;
  if (keep_fastest) {
    rc.keep = [&fastest](matriz* c, double secs) { return fastest.offer(c, secs); };
  }
  const std::string at_size = o.sizes.empty() ? "" : "n = " + std::to_string(s.rows) + ", ";
  rc.progress = [&](int32_t round, const row& r) {
    progress(show_progress, at_size +
                                (round < 0 ? "warm-up" : "round " + std::to_string(round + 1)) +
                                ": " + r.method->name + ", " + threads_text(r.threads));
  };
  std::vector<row_verdict> differences;
  const tool_common::cpu_ticks before = tool_common::read_cpu_ticks();
  // The workers of the added products work for us: their CPU time is ours too.
  const double own_before = tool_common::own_cpu_seconds() + workers_cpu_seconds();
  const int32_t rounds = run_rounds(candidates, rules, rc, &differences);
  const tool_common::cpu_ticks after = tool_common::read_cpu_ticks();
  run.ticks_in_rounds.busy += after.busy - before.busy;
  run.ticks_in_rounds.idle += after.idle - before.idle;
  run.ticks_in_rounds.steal += after.steal - before.steal;
  run.own_seconds_in_rounds += tool_common::own_cpu_seconds() + workers_cpu_seconds() - own_before;
  for (size_t i = first; i < run.rows.size(); ++i) {
    run.rows[i].shape_rounds = rounds;
  }
  run.fewest_rounds = run.fewest_rounds == 0 ? rounds : std::min(run.fewest_rounds, rounds);
  run.most_rounds = std::max(run.most_rounds, rounds);
  if (!o.trace.empty() || !o.timeline.empty()) {
    trace_rows(run, first, rc, ctx.sink, !o.sizes.empty());
  }
  for (const auto& d : differences) {
    run.differences.push_back(std::string(d.of->method->name) + " (" + d.of->method->what +
                              ") on " + threads_text(d.of->threads) + " " + d.verdict);
  }

  if (last) {
    run.saved = f;
    run.saved_product = reference != nullptr ? reference : fastest.product;
    return;
  }
  dense_detail::release_matrix(reference);
  dense_detail::release_matrix(f.a);
  dense_detail::release_matrix(f.b);
}

}  // namespace

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
  const auto shapes = shapes_of(o);
  for (size_t i = 0; i < shapes.size(); ++i) {
    measure_shape(o, ctx, shapes[i], i + 1 == shapes.size(), show_progress, run);
  }
  progress(show_progress, "");
  if (show_progress) {
    std::fputs("\r", stderr);
  }
  derive(run.rows);
  run.load = tool_common::load_between({}, run.ticks_in_rounds, run.own_seconds_in_rounds,
                                       tool_common::ticks_per_second());
  run.status = run.differences.empty() ? tool_common::kExitOk : tool_common::kExitDiffers;
}

// How the results were checked, for the header line.
std::string check_text(const options& o, const run_result& run) {
  char reference[160];
  std::snprintf(reference, sizeof reference,
                "checked against mmultiplicar tipo 1 (reference %.6f s)", run.reference_seconds);
  const int shapes = static_cast<int>(shapes_of(o).size());
  if (run.exact_shapes == shapes) {
    return reference;
  }
  char prepared[120];
  std::snprintf(prepared, sizeof prepared, " (%d random vectors, prepared in %.6f s)",
                tool_common::kFreivaldsRounds, run.plan_seconds);
  std::string freivalds = std::string("checked with Freivalds' test") + prepared;
  if (run.exact_shapes == 0) {
    return freivalds;
  }
  return std::string(reference) + " up to n = " + std::to_string(run.largest_exact) + ", " +
         freivalds + " above";
}

}  // namespace compare_products
