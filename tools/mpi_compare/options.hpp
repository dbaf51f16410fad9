// mpi_compare's command line: its options, their checks, and the help text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/cli.hpp"
#include "tools/common/rounds.hpp"

namespace mpi_compare {

// The products measured, in the order of the table.
enum class method : int32_t {
  rows = 0,          // mpi_products::multiplicarMPI
  summa = 1,         // mpi_products::multiplicarSUMMA
  summa_blocks = 2,  // mpi_products::multiplicarSUMMAblocos on blocks made where they live
};

struct method_info {
  const char* name;  // what --methods and the table call it
  const char* what;  // the library call behind it
};

// Every method, indexed by `method`.
const std::vector<method_info>& methods();

// 0: rounds until every row is steady (tools/common/rounds.hpp), for at most --time seconds.
inline constexpr int32_t kDefaultRepeat = 0;
inline constexpr uint32_t kDefaultSeed = 1;

// Factors are rows x inner and inner x cols; shape_option names the option
// that fixed the shape, in refusals.
struct options : tool_common::shape_choice {
  options() { rows = inner = cols = tool_common::kDefaultSize; }
  std::vector<int32_t> threads{1};  // per rank; ascending, no repeats
  std::vector<method> methods{method::rows, method::summa, method::summa_blocks};
  int32_t repeat = kDefaultRepeat;  // --repeat R: exactly R rounds
  double time_budget = tool_common::kDefaultTime;
  bool time_given = false;
  uint32_t seed = kDefaultSeed;
  int32_t limit = tool_common::kDefaultLimit;  // values from 1 to limit
  bool seed_given = false;
  bool limit_given = false;
  std::string csv;
  std::string raw;          // --raw FILE: every timed call
  std::string trace;        // --trace FILE.json: one traced call per method, every rank's phases
  std::string timeline;     // --timeline FILE.png: the same calls drawn
  bool no_overlap = false;  // --no-overlap: every product waits where blocking calls would
  bool help = false;
  bool version = false;
};

// Parsed options, or a one-line reason (no program name, no newline) in `error`.
struct parse_result {
  options opts;
  std::string error;
};

// Reads argv[1..argc-1] through the kit's one option reader
// (tools/common/cli.hpp), so it refuses what compare_products refuses in the
// same words: a value as the next argument or after '=' (--size=300); a later
// option replaces an earlier one of the same name; --size and --shape together
// are refused, and so are --repeat and --time.
parse_result parse_options(int argc, const char* const* argv);

// The rank counts measured on a run of `ranks` ranks: 1, 2, 4, ... below it, and `ranks`.
std::vector<int32_t> rank_counts(int32_t ranks);

std::string help_text();

}  // namespace mpi_compare
