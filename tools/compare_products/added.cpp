// The method entry and the worker of each product given with --add.
#include "added.hpp"

#include <utility>

namespace compare_products {
namespace {

// An added product holds its result in the worker, the result's place in
// the shared memory and our copy of it.
double worker_and_copy(int32_t) { return 3; }

}  // namespace

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
  return why.empty() ? why : "--add: " + given_.path + why;
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

}  // namespace compare_products
