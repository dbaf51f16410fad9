// The checks compare_products runs on every result.
#include "check.hpp"

#include "tools/common/battery.hpp"

namespace compare_products {
namespace {

constexpr char kDiffers[] = "differs from the sequential product: ";

}  // namespace

result_check exact_check(const dense_core::matriz* reference, tool_common::stdout_sink& sink) {
  return [reference, &sink](const dense_core::matriz* result) -> std::string {
    if (result->mat != nullptr && result->lin == reference->lin && result->col == reference->col) {
      const auto d = tool_common::first_difference(reference, result);
      return d.found ? kDiffers + tool_common::difference_text(d.row, d.col, d.expected, d.got)
                     : std::string();
    }
    // No storage, or another shape: the library's own words.
    sink.begin();
    const int same = dense_core::mcomparar(reference, result);
    const std::string report = sink.end();
    if (same == 1) {
      return {};
    }
    return kDiffers + tool_common::one_line(report);
  };
}

result_check freivalds_result_check(const tool_common::freivalds_plan& plan) {
  return [&plan](const dense_core::matriz* result) -> std::string {
    const tool_common::product_verdict v = plan.check(result);
    if (v.passed) {
      return {};
    }
    if (v.out_of_memory) {
      return "could not be checked: " + v.report;
    }
    // Its element is counted from 1, as the library counts.
    return kDiffers + (v.row > 0
                           ? tool_common::difference_text(v.row - 1, v.col - 1, v.expected, v.found)
                           : v.report);
  };
}

bool uses_exact_reference(check_rule rule, int32_t rows, int32_t inner, int32_t cols) {
  switch (rule) {
    case check_rule::exact:
      return true;
    case check_rule::freivalds:
      return false;
    case check_rule::automatic:
      break;
  }
  constexpr double kCheapWork = 1024.0 * 1024.0 * 1024.0;
  return static_cast<double>(rows) * inner * cols <= kCheapWork;
}

}  // namespace compare_products
