// A product of the library called in this process, for the shared rounds.
#include "rounds.hpp"

#include <dense/textio.hpp>
#include <string>
#include <utility>

namespace compare_products {

timed_call in_process(product_fn product, tool_common::stdout_sink* sink) {
  return [product = std::move(product), sink](const dense_core::matriz* a,
                                              const dense_core::matriz* b, int32_t threads) {
    sink->begin();
    const double start = textio::wtime();
    dense_core::matriz* c = product(a, b, threads);
    const double stop = textio::wtime();
    const std::string said = sink->end();
    call_result got;
    got.product = c;
    got.seconds = stop - start;
    if (c == nullptr) {
      got.failure =
          "gave no result" + (said.empty() ? std::string() : ": " + tool_common::one_line(said));
    }
    return got;
  };
}

}  // namespace compare_products
