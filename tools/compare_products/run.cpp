// One run of compare_products: the factors of each shape, how their products are checked, and
// every method measured on them.
#include "run.hpp"

#include <unistd.h>

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
#include "measure.hpp"
#include "methods.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/freivalds.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;

std::string errno_text() { return std::strerror(errno); }

std::string threads_text(int32_t t) {
  return std::to_string(t) + (t == 1 ? " thread" : " threads");
}

// ---- Step 3: the factors of one shape ---------------------------------------------------------

// Reads a checked matrix file through the library's readers.
matriz* read_factor_file(const run_context& ctx, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    ctx.refuse("--load: " + path + ": " + errno_text());
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
    ctx.refuse("--load: " + path + ": not enough memory for its matrix");
  }
  return m;
}

matriz* random_factor(const run_context& ctx, const options& o, int32_t rows, int32_t cols,
                      uint64_t* seed_state) {
  matriz* m = dense_detail::new_zeroed_matrix(rows, cols);
  if (m == nullptr) {
    ctx.refuse(o.shape_option + ": not enough memory for a " + std::to_string(rows) + "x" +
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

// In a sweep, a row stops repeating once its repetitions took this long in
// all: the slow loop nests at the largest sizes would otherwise take minutes.
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
  for (const product_method* m : o.methods) {
    for (int32_t t : measured_thread_counts(*m, o.threads)) {
      std::string skipped = skip_reason(*m, s.inner, t);
      if (skipped.empty() && !o.sizes.empty()) {
        skipped = sweep_skip_reason(run.rows, m, t, s.rows, s.inner, s.cols, kSweepRowLimit);
      }
      if (!skipped.empty()) {
        row r;
        r.method = m;
        r.threads = t;
        r.rows = s.rows;
        r.inner = s.inner;
        r.cols = s.cols;
        r.skipped = skipped;
        run.rows.push_back(r);
        continue;
      }
      const std::string label = std::string(m->name) + ", " + threads_text(t) + ", repetition ";
      measure_request q;
      q.method = m;
      q.product = m->run;
      q.threads = t;
      q.repeat = o.repeat;
      q.a = f.a;
      q.b = f.b;
      q.check = &check;
      q.sink = ctx.sink;
      q.on_repetition = [&](int32_t rep) {
        progress(show_progress,
                 label + std::to_string(rep + 1) + " of " + std::to_string(o.repeat));
      };
      if (keep_fastest) {
        q.keep = [&fastest](matriz* c, double secs) { return fastest.offer(c, secs); };
      }
      q.budget_seconds = o.sizes.empty() ? 0.0 : kSweepRowBudget;
      std::string verdict;
      run.rows.push_back(measure(q, &verdict));
      if (!verdict.empty()) {
        run.differences.push_back(std::string(m->name) + " (" + m->what + ") on " +
                                  threads_text(t) + " " + verdict);
      }
    }
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
  const auto shapes = shapes_of(o);
  for (size_t i = 0; i < shapes.size(); ++i) {
    measure_shape(o, ctx, shapes[i], i + 1 == shapes.size(), show_progress, run);
  }
  progress(show_progress, "");
  if (show_progress) {
    std::fputs("\r", stderr);
  }
  derive(run.rows);
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
