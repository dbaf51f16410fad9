// One row of compare_products' table: timed repetitions of one method, each result checked.
#include "measure.hpp"

#include <cstdio>
#include <dense/textio.hpp>

#include "common/matrix_records.hpp"
#include "methods.hpp"
#include "tools/common/statistics.hpp"

namespace compare_products {

row measure(const measure_request& q, std::string* verdict) {
  row r;
  r.method = q.method;
  r.threads = q.threads;
  r.rows = q.a->lin;
  r.inner = q.a->col;
  r.cols = q.b->col;
  verdict->clear();
  double spent = 0.0;
  for (int32_t rep = 0; rep < q.repeat; ++rep) {
    if (q.budget_seconds > 0.0 && rep > 0 && spent >= q.budget_seconds) {
      break;
    }
    if (q.on_repetition) {
      q.on_repetition(rep);
    }
    // Only the call is timed: the redirection and the check stay outside.
    q.sink->begin();
    const double start = textio::wtime();
    dense_core::matriz* result = q.product(q.a, q.b, q.threads);
    const double stop = textio::wtime();
    const std::string said = q.sink->end();
    r.seconds.push_back(stop - start);
    spent += stop - start;

    std::string wrong;
    if (result == nullptr) {
      wrong = "gave no result" + (said.empty() ? std::string() : ": " + one_line(said));
    } else {
      const double check_start = textio::wtime();
      wrong = (*q.check)(result);
      r.check_seconds.push_back(textio::wtime() - check_start);
      if (!wrong.empty() || !q.keep || !q.keep(result, r.seconds.back())) {
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
  const double seconds = tool_common::median(before->seconds);
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

}  // namespace compare_products
