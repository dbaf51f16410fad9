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
#include <functional>
#include <memory>
#include <string>

#include "methods.hpp"
#include "options.hpp"
#include "rounds.hpp"
#include "tools/common/stdout_sink.hpp"
#include "worker.hpp"

namespace compare_products {

// The contract, as a verdict reminds of it.
inline constexpr char kProductSignature[] =
    "extern \"C\" dense_core::matriz* NAME(const dense_core::matriz*, const dense_core::matriz*, "
    "int32_t)";

// An added product's failure with what a student needs next: a timeout names
// the limit and how to change it, a crash the signature a product must have.
std::string explained(const std::string& failure, double timeout);

// One added product for the length of a run: its entry in the table of
// methods (measured at every requested thread count) and the worker that
// runs it. It stays where it was made (rows point to its entry).
class added_product {
 public:
  added_product(added_entry given, std::string worker_program, double timeout);
  added_product(const added_product&) = delete;
  added_product& operator=(const added_product&) = delete;

  // Starts its worker and loads the product. Empty when it is ready, else the
  // refusal ("--add: FILE: cannot open: ...", "--add: FILE has no symbol 'x';
  // " and the functions FILE exports that look like products, and the contract).
  std::string load();

  // Calls the product on each case of the battery (tools/common/battery.hpp),
  // its factors from 1 to `limit` drawn from `seed`, and compares each result
  // with mmultiplicar's sequential one (its printing into `sink`); `progress`
  // is told each case. Empty when every case is right; else the first failing
  // case and how it failed ("failed the battery (not timed) at 7x13x5 on 3 threads: ..."),
  // and untimed() is the verdict of its rows from then on.
  std::string try_battery(int32_t largest_threads, int32_t limit, uint64_t seed,
                          tool_common::stdout_sink& sink,
                          const std::function<void(const std::string&)>& progress);
  // Why its rows are not timed ("DIFFERS at 7x13x5 on 3 threads"); empty when it passed.
  const std::string& untimed() const { return untimed_; }

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
  std::string untimed_;
};

}  // namespace compare_products
