// Products of one's own beside the kit's methods (--add LABEL=PATH.so[:SYMBOL]): the entry each
// gets in the table of methods, and the worker process that runs it.
//
// The contract of such a product is the kit's threaded products' own:
//   extern "C" dense_core::matriz* NAME(const dense_core::matriz* a,
//                                       const dense_core::matriz* b, int32_t threads);
// a new matrix that the caller releases with mliberar and free, or null for
// "no result". It runs in a worker process (worker.hpp), which exports
// libdense, so its shared object is linked with no library at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "methods.hpp"
#include "options.hpp"
#include "rounds.hpp"
#include "worker.hpp"

namespace compare_products {

// One added product for the length of a run: its entry in the table of
// methods (measured at every requested thread count) and the worker that
// runs it. It stays where it was made (rows point to its entry).
class added_product {
 public:
  added_product(added_entry given, std::string worker_program, double timeout);
  added_product(const added_product&) = delete;
  added_product& operator=(const added_product&) = delete;

  // Starts its worker and loads the product. Empty when it is ready, else the
  // refusal ("--add: FILE: cannot open: ...", "--add: FILE has no symbol 'x'").
  std::string load();

  // A call of the product in its worker, timed there around the call alone.
  // After a crash or a timeout the next call starts a fresh worker.
  timed_call call();

  const product_method& method() const { return method_; }

 private:
  added_entry given_;
  std::string what_;  // PATH:SYMBOL, the table's "library call"
  product_method method_;
  double timeout_;
  std::unique_ptr<worker> worker_;
};

}  // namespace compare_products
