// The method entry and the worker of each product given with --add, the battery it is tried on
// before it is timed, and what a student is told when it goes wrong.
#include "added.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <dense/dense_arith.hpp>
#include <utility>
#include <vector>

#include "common/matrix_records.hpp"
#include "tools/common/battery.hpp"
#include "tools/common/elf_exports.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;

// An added product holds its result in the worker, the result's place in
// the shared memory and our copy of it.
double worker_and_copy(int32_t) { return 3; }

// The functions `path` exports that look like products: every C name (a
// leading '_' is the toolchain's), and every C++ name whose parameters are a
// product's, which needs extern "C" (those first). At most a dozen, then how many more.
std::string product_like_exports(const std::string& path) {
  constexpr char kParameters[] = "(dense_core::matriz const*, dense_core::matriz const*, int)";
  std::vector<std::string> shown;
  for (const std::string& name : tool_common::exported_functions(path)) {
    if (name.rfind("_Z", 0) != 0) {
      if (name[0] != '_') {
        shown.push_back(name);
      }
      continue;
    }
    int status = -1;
    char* plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    const std::string text = status == 0 && plain != nullptr ? plain : "";
    std::free(plain);
    const size_t at = text.rfind(kParameters);
    if (at != std::string::npos && at + sizeof kParameters - 1 == text.size()) {
      shown.insert(shown.begin(), text + " (a C++ name: declare it extern \"C\")");
    }
  }
  if (shown.empty()) {
    return "it exports no function that looks like a product";
  }
  std::string list;
  for (size_t i = 0; i < shown.size() && i < 12; ++i) {
    list += (i == 0 ? "" : ", ") + shown[i];
  }
  if (shown.size() > 12) {
    list += " and " + std::to_string(shown.size() - 12) + " more";
  }
  return "the functions it exports that look like products: " + list;
}

// The rows' verdict from a call's failure: its words up to the first ':' or ';'.
std::string verdict_head(const std::string& failure) {
  if (failure.rfind("differs", 0) == 0) {
    return "DIFFERS";
  }
  return failure.substr(0, failure.find_first_of(":;"));
}

}  // namespace

std::string explained(const std::string& failure, double timeout) {
  if (failure == tool_common::kTimedOut) {
    return failure + " (a call may take " + tool_common::format_number("%g", timeout) +
           " s: give it more with --timeout SECONDS, or TIMEOUT=SECONDS for make try)";
  }
  if (failure.rfind("crashed", 0) == 0) {
    return failure + "; is it " + kProductSignature + "?";
  }
  return failure;
}

added_product::added_product(added_entry given, std::string worker_program, double timeout)
    : given_(std::move(given)),
      what_(given_.path + ":" + given_.symbol),
      method_{},
      timeout_(timeout),
      worker_(std::make_unique<worker>(std::move(worker_program))) {
  method_.name = given_.label.c_str();
  method_.what = what_.c_str();
  method_.help_label = nullptr;
  method_.help = nullptr;
  method_.threads = threading::requested;
  method_.run = nullptr;
  method_.skip = nullptr;
  method_.held_products = worker_and_copy;
}

std::string added_product::load() {
  const std::string why = worker_->load(given_.path, given_.symbol, timeout_);
  if (why.empty()) {
    return why;
  }
  if (why.rfind(" has no symbol", 0) != 0) {
    return "--add: " + given_.path + why;
  }
  return "--add: " + given_.path + why + "; " + product_like_exports(given_.path) +
         "; a product is " + kProductSignature +
         ", named by LABEL=PATH:NAME (SYMBOL=NAME for make try)";
}

timed_call added_product::call() {
  return [this](const dense_core::matriz* a, const dense_core::matriz* b, int32_t threads) {
    if (!worker_->running()) {
      const std::string why = load();
      if (!why.empty()) {
        call_result got;
        got.failure = "could not be started again: " + why.substr(why.find(": ") + 2);
        got.fatal = true;
        return got;
      }
    }
    return worker_->multiply(a, b, threads, timeout_);
  };
}

std::string added_product::try_battery(int32_t largest_threads, int32_t limit, uint64_t seed,
                                       stdout_sink& sink,
                                       const std::function<void(const std::string&)>& progress) {
  tool_common::splitmix64 gen{seed};
  const timed_call product = call();
  for (const tool_common::battery_case& c : tool_common::battery_cases(largest_threads)) {
    const std::string at = tool_common::case_text(c);
    progress(at);
    matriz* a = dense_detail::new_zeroed_matrix(c.size.rows, c.size.inner);
    matriz* b = dense_detail::new_zeroed_matrix(c.size.inner, c.size.cols);
    matriz* expected = nullptr;
    std::string how = "could not be tried: no memory for its factors";
    if (a != nullptr && b != nullptr) {
      tool_common::fill_case_factor(a, limit, c.extremes, gen);
      tool_common::fill_case_factor(b, limit, c.extremes, gen);
      sink.begin();
      expected = dense_arith::mmultiplicar(a, b, 1);
      sink.end();
      // Each case's factors are new, though the heap may put them where the last ones were.
      worker_->forget_factors();
      const call_result got = product(a, b, c.threads);
      how = got.failure;
      const auto d = got.product != nullptr && expected != nullptr
                         ? tool_common::first_difference(expected, got.product)
                         : tool_common::element_difference{};
      if (d.found) {
        how = "differs from the sequential product: " +
              tool_common::difference_text(d.row, d.col, d.expected, d.got);
      }
      dense_detail::release_matrix(got.product);
    }
    dense_detail::release_matrix(expected);
    dense_detail::release_matrix(a);
    dense_detail::release_matrix(b);
    if (!how.empty()) {
      worker_->forget_factors();
      untimed_ = verdict_head(how) + " at " + at;
      return "failed the battery (not timed) at " + at + ": " + explained(how, timeout_);
    }
  }
  worker_->forget_factors();
  return {};
}

}  // namespace compare_products
