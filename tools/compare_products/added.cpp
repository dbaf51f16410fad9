// The method entry and the worker of each product given with --add.
#include "added.hpp"

#include <utility>

namespace compare_products {
namespace {

// An added product holds its result in the worker, the result's place in
// the shared memory and our copy of it.
double worker_and_copy(int32_t) { return 3; }

}  // namespace

added_product::added_product(added_spec spec, std::string worker_program, double timeout)
    : spec_(std::move(spec)),
      what_(spec_.path + ":" + spec_.symbol),
      method_{},
      timeout_(timeout),
      worker_(std::make_unique<worker>(std::move(worker_program))) {
  method_.name = spec_.label.c_str();
  method_.what = what_.c_str();
  method_.help_label = nullptr;
  method_.help = nullptr;
  method_.threads = threading::requested;
  method_.run = nullptr;
  method_.skip = nullptr;
  method_.held_products = worker_and_copy;
}

std::string added_product::load() {
  const std::string why = worker_->load(spec_.path, spec_.symbol, timeout_);
  return why.empty() ? why : "--add: " + spec_.path + why;
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
