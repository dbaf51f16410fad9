// The checks compare_products runs on every result.
#include "check.hpp"

namespace compare_products {

result_check exact_check(const dense_core::matriz* reference, stdout_sink& sink) {
  return [reference, &sink](const dense_core::matriz* result) -> std::string {
    sink.begin();
    const int same = dense_core::mcomparar(reference, result);
    const std::string report = sink.end();
    if (same == 1) {
      return {};
    }
    return "differs from the sequential product: " + one_line(report);
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
    return "differs from the sequential product: " + v.report;
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
