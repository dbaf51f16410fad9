// compare_products' command line: its options, their checks, and the --help text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "methods.hpp"
#include "tools/common/cli.hpp"

namespace compare_products {

// Without --repeat: rounds go on until every row is steady or this many
// seconds of rounds have passed, for one shape (a sweep limits each row instead).
inline constexpr double kDefaultTime = 10.0;
inline constexpr double kMaxTime = 86400.0;
// Seconds one call of a product given with --add may take before it is stopped (--timeout).
inline constexpr double kDefaultTimeout = 60.0;

// One --add LABEL=PATH.so[:SYMBOL], as given.
struct added_entry {
  std::string label;   // its name in the table, the CSV, --raw and the plot
  std::string path;    // the shared object
  std::string symbol;  // the function; the label when ":SYMBOL" is left out
};

// Reads LABEL=PATH.so[:SYMBOL]. The symbol is what follows the last ':'
// when that is a C name, so a path may hold ':' too. A label takes
// letters, digits, '-', '_' and '.'. Empty when it took the value, else the
// refusal: "--add: expected LABEL=PATH.so[:SYMBOL], got 'x'".
std::string read_added(const std::string& text, added_entry* out);

// How each result is checked (--verify).
enum class check_rule {
  exact,      // mcomparar against the sequential product
  freivalds,  // random-vector check in O(n^2) per result
  automatic,  // exact while the reference is cheap, Freivalds above
};

// Factors are rows x inner and inner x cols (for a sweep, the largest size);
// shape_option names the option that fixed the shape ("--size", "--shape",
// "--sizes", "--load") in size refusals.
struct options : tool_common::shape_choice, tool_common::program_flags {
  options() { rows = inner = cols = tool_common::kDefaultSize; }
  // --sizes: the square sizes of a sweep, ascending, no repeats; empty for one shape.
  std::vector<int32_t> sizes;
  std::vector<int32_t> threads;                // ascending, no repeats
  std::vector<const product_method*> methods;  // entries of methods(), in table order
  std::vector<added_entry> added;              // --add, in the order given
  double timeout = kDefaultTimeout;
  int32_t repeat = 0;  // --repeat: exactly this many rounds; 0: until steady (--time)
  double time_budget = kDefaultTime;
  bool time_given = false;
  int32_t limit = tool_common::kDefaultLimit;
  bool limit_given = false;
  bool seeded = false;  // --seed given: the factors come from a seeded generator
  uint32_t seed = 0;
  check_rule verify = check_rule::automatic;
  std::string csv;       // "-" is standard output
  std::string raw;       // --raw: every timed call; "-" is standard output
  std::string trace;     // --trace: one traced call of each threaded row, as Chrome trace JSON
  std::string timeline;  // --timeline: the same drawn as a PNG
  std::string plot;
  std::string load_a;
  std::string load_b;
  std::string save_dir;
  bool quiet = false;
};

// Parsed options, or a one-line reason (no program name, no newline) in `error`.
struct parse_result {
  options opts;
  std::string error;
};

// Reads argv[1..argc-1] through the kit's one option reader
// (tools/common/cli.hpp): a value as the next argument or after '='
// (--size=300); --load takes the next two arguments. A later option replaces
// an earlier one of the same name. `default_threads` is the
// thread list used when --threads is not given.
parse_result parse_options(int argc, const char* const* argv,
                           const std::vector<int32_t>& default_threads);

// 1, 2, 4, ... below `cpus`, then `cpus` itself, never above tool_common::kMaxThreads:
// ascending, without repeats.
std::vector<int32_t> default_thread_counts(int32_t cpus);

// The text of --help: its options from the table parse_options reads (each
// entry's own help), its list of methods from methods().
std::string help_text();

}  // namespace compare_products
