// One row of compare_products' table: timed repetitions of one method, each result checked.
#include "compare_measure.hpp"

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

}  // namespace compare_tool
