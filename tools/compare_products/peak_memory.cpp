// Memory a run of compare_products needs, counted before anything is allocated.
#include "peak_memory.hpp"

#include <algorithm>

#include "methods.hpp"
#include "tools/common/memory.hpp"

namespace compare_products {

double peak_bytes(const options& o, bool with_threads) {
  using tool_common::matrix_bytes;
  const double product = matrix_bytes(o.rows, o.cols);
  double worst_parts = 1;  // matrices of the product's size that one method holds at once
  for (const product_method* m : o.methods) {
    for (int32_t t : measured_thread_counts(*m, o.threads)) {
      if (!with_threads) {
        t = 1;
      }
      if (!skip_reason(*m, o.inner, t).empty()) {
        continue;
      }
      worst_parts = std::max(worst_parts, m->held_products(t));
    }
  }
  const double factors = matrix_bytes(o.rows, o.inner) + matrix_bytes(o.inner, o.cols);
  // Each added product keeps both factors and a result in the memory it
  // shares with its worker, and the worker its own copy of the factors, for
  // the whole run; while it is called, the worker's result and our copy of
  // it come on top.
  const auto added = static_cast<double>(o.added.size());
  if (added > 0) {
    worst_parts = std::max(worst_parts, 2.0);
  }
  return factors + added * (2 * factors + product) + (1 + worst_parts) * product;
}

}  // namespace compare_products
