// One row of compare_products' table: timed repetitions of one method, each result checked.
#include "compare_measure.hpp"

#include "compare_methods.hpp"
#include <dense/textio.hpp>

namespace compare_tool {

row measure(int method, int32_t threads, int32_t repeat, const dense_core::matriz* a,
            const dense_core::matriz* b, const dense_core::matriz* reference,
            const product_fn& product, stdout_sink& sink,
            const std::function<void(int32_t)>& on_repetition, std::string* verdict) {
  row r;
  r.method = method;
  r.threads = threads;
  verdict->clear();
  for (int32_t rep = 0; rep < repeat; ++rep) {
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

    std::string wrong;
    if (result == nullptr) {
      wrong = "gave no result" + (said.empty() ? std::string() : ": " + one_line(said));
    } else {
      sink.begin();
      const int same = dense_core::mcomparar(reference, result);
      const std::string report = sink.end();
      if (same != 1) {
        wrong = "differs from the sequential product: " + one_line(report);
      }
      release_matrix(result);
    }
    if (!wrong.empty() && r.identical) {
      r.identical = false;
      *verdict = wrong;
    }
  }
  return r;
}

}  // namespace compare_tool
