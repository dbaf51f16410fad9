// How compare_products checks each result: against the exact reference product, or with
// Freivalds' random-vector test when the reference would cost more than the methods measured.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>

#include "options.hpp"
#include "tools/common/freivalds.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/stdout_sink.hpp"

namespace compare_products {

// Checks one result: empty when it is right, else how it is wrong
// ("differs from the sequential product: first differing element row 2,
// column 1 (0-based): expected 7, got 8").
using tool_common::result_check;

// Element by element against `reference`. A result without storage or of
// another shape is told by mcomparar, whose report goes through `sink` and
// into the verdict.
result_check exact_check(const dense_core::matriz* reference, tool_common::stdout_sink& sink);

// Freivalds' test of each result against the factors `plan` was made for;
// a failure is worded as the exact check words it. The plan must outlive the
// returned check.
result_check freivalds_result_check(const tool_common::freivalds_plan& plan);

// Whether --verify `rule` compares with the exact reference on factors A
// rows x inner and B inner x cols. auto does while the reference is cheap:
// up to the work of a 1024 x 1024 x 1024 product, which the sequential
// reference does in about a second.
bool uses_exact_reference(check_rule rule, int32_t rows, int32_t inner, int32_t cols);

}  // namespace compare_products
