// compare_products' calls for the shared rounds (tools/common/rounds.hpp): a product of the
// library called in this process, with its printing caught.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>

#include "tools/common/measurement.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/stdout_sink.hpp"

namespace compare_products {

using tool_common::call_result;
using tool_common::raw_call;
using tool_common::shape;
using tool_common::timed_call;

// Computes a new product of a and b on the given thread count, or null.
using product_fn = std::function<dense_core::matriz*(const dense_core::matriz* a,
                                                     const dense_core::matriz* b, int32_t threads)>;

// A call of a product in this process: its stdout goes into `sink`, and
// wtime is read just before and just after it (the redirection stays outside).
timed_call in_process(product_fn product, tool_common::stdout_sink* sink);

}  // namespace compare_products
