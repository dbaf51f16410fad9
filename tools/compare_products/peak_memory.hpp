// What a run of compare_products holds in memory at its peak.
#pragma once

#include "options.hpp"

namespace compare_products {

// Heap bytes a run holds at its peak: both factors, the reference product,
// and the largest working set of one method that will run (the band products
// keep one full-size part per band next to their running sums; a row that
// will be skipped holds nothing), and what the products given with --add
// share with their workers. With `with_threads` false, the thread
// counts are left out (every method as if on one thread), which tells a size
// that cannot fit from a thread count that makes it too big.
double peak_bytes(const options& o, bool with_threads);

}  // namespace compare_products
