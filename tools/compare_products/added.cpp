// The method entry and the worker of each product given with --add, the battery it is tried on
// before it is timed, and what a student is told when it goes wrong.
#include "added.hpp"

#include <dense/dense_arith.hpp>
#include <utility>
#include <vector>

#include "tools/common/battery.hpp"
#include "tools/common/elf_exports.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;

// An added product holds its result in the worker, the result's place in
// the shared memory and our copy of it.
double worker_and_copy(int32_t) { return 3; }

// The functions `path` exports that look like products (a C++ name with a
// product's parameters needs extern "C"): at most a dozen, then how many more.
std::string product_like_exports(const std::string& path) {
  const std::vector<std::string> shown = tool_common::functions_one_may_mean(
      path, "(dense_core::matriz const*, dense_core::matriz const*, int)");
  if (shown.empty()) {
    return "it exports no function that looks like a product";
  }
  std::string list;
  for (size_t i = 0; i < shown.size() && i < 12; ++i) {
    const bool cpp = shown[i].find('(') != std::string::npos;
    list += (i == 0 ? "" : ", ") + shown[i] + (cpp ? " (a C++ name: declare it extern \"C\")" : "");
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
    return {};
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
                                       tool_common::stdout_sink& sink,
                                       const std::function<void(const std::string&)>& progress) {
  const auto reference = [&sink](const matriz* a, const matriz* b) {
    sink.begin();
    matriz* c = dense_arith::mmultiplicar(a, b, 1);
    sink.end();
    return c;
  };
  // Each case's factors are new, though the heap may put them where the last ones were.
  const auto before = [&](const tool_common::battery_case& c) {
    worker_->forget_factors();
    progress(tool_common::case_text(c));
  };
  const tool_common::battery_verdict v =
      tool_common::run_battery(call(), reference, largest_threads, limit, seed, before);
  worker_->forget_factors();
  if (v.how.empty()) {
    return {};
  }
  const std::string at = tool_common::case_text(v.at);
  untimed_ = verdict_head(v.how) + " at " + at;
  return "failed the battery (not timed) at " + at + ": " + explained(v.how, timeout_);
}

}  // namespace compare_products
