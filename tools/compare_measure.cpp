// One row of compare_products' table: timed repetitions of one method, each result checked.
#include "compare_measure.hpp"

#include <cstdio>
#include <dense/textio.hpp>

#include "common/matrix_records.hpp"
#include "compare_methods.hpp"

namespace compare_tool {

row measure(const product_method* method, int32_t threads, int32_t repeat,
            const dense_core::matriz* a, const dense_core::matriz* b, const result_check& check,
            const product_fn& product, stdout_sink& sink,
            const std::function<void(int32_t)>& on_repetition, std::string* verdict,
            const result_keeper& keep, double budget_seconds) {
  row r;
  r.method = method;
  r.threads = threads;
  r.rows = a->lin;
  r.inner = a->col;
  r.cols = b->col;
  verdict->clear();
  double spent = 0.0;
  for (int32_t rep = 0; rep < repeat; ++rep) {
    if (budget_seconds > 0.0 && rep > 0 && spent >= budget_seconds) {
      break;
    }
    if (on_repetition) {
      on_repetition(rep);
    }
    // Only the call is timed: the redirection and the check stay outside.
    sink.begin();
    const double start = textio::wtime();
    dense_core::matriz* result = product(a, b, threads);
    const double stop = textio::wtime();
    const std::string said = sink.end();
    r.seconds.push_back(stop - start);
    spent += stop - start;

    std::string wrong;
    if (result == nullptr) {
      wrong = "gave no result" + (said.empty() ? std::string() : ": " + one_line(said));
    } else {
      const double check_start = textio::wtime();
      wrong = check(result);
      r.check_seconds.push_back(textio::wtime() - check_start);
      if (!wrong.empty() || !keep || !keep(result, r.seconds.back())) {
        dense_detail::release_matrix(result);
      }
    }
    if (!wrong.empty() && r.identical) {
      r.identical = false;
      *verdict = wrong;
    }
  }
  return r;
}

std::string sweep_skip_reason(const std::vector<row>& done, const product_method* method,
                              int32_t threads, int32_t rows, int32_t inner, int32_t cols,
                              double limit_seconds) {
  const row* before = nullptr;
  for (const auto& r : done) {
    if (r.method == method && r.threads == threads && r.skipped.empty() && !r.seconds.empty() &&
        r.rows < rows && (before == nullptr || r.rows > before->rows)) {
      before = &r;
    }
  }
  if (before == nullptr) {
    return {};
  }
  const double scale = static_cast<double>(rows) * inner * cols /
                       (static_cast<double>(before->rows) * before->inner * before->cols);
  const double seconds = median(before->seconds);
  const double predicted = seconds * scale;
  if (predicted <= limit_seconds) {
    return {};
  }
  char why[200];
  std::snprintf(why, sizeof why,
                "one repetition would take about %.0f s (%.2f s at n = %d); measure it alone with "
                "--size %d",
                predicted, seconds, before->rows, rows);
  return why;
}

}  // namespace compare_tool
