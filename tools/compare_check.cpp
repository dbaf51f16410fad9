// The checks compare_products runs on every result.
#include "compare_check.hpp"

namespace compare_tool {

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

}  // namespace compare_tool
