// The kit's programs read their command lines through this one module: whole numbers and lists
// by one rule, one runner over each program's table of options, and the refusals worded once.
//
// Every refusal is one line without the program's name or a newline, such as
// "--size: expected a whole number from 1 to 2147483647, got '0'"; the
// program prefixes its name and exits with kExitRefused (exit_status.hpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tool_common {

// ---- Values ----------------------------------------------------------------------------------

// A whole number in [lo, hi] (0 <= lo, hi below 10^17) written with decimal
// digits only, as many as it likes (leading zeros are fine); false for
// anything else: a sign, a space, empty text, a value outside [lo, hi]
// however many digits it has.
bool parse_whole(const std::string& text, int64_t lo, int64_t hi, int64_t* out);

// `text` cut at every `delim`: "a,,b" gives "a", "", "b"; "" gives one empty part.
std::vector<std::string> split(const std::string& text, char delim);

// The readers below apply one option's value. Each returns empty when it
// took the value, else the refusal, naming `option`; on a refusal *out is unchanged.

// A whole number from `lo` to `hi`:
//   "--repeat: expected a whole number from 1 to 1000, got 'x'".
std::string read_whole(const std::string& option, const std::string& text, int64_t lo, int64_t hi,
                       int64_t* out);
// The same into an int32 (`hi` at most INT32_MAX).
std::string read_count(const std::string& option, const std::string& text, int64_t lo, int64_t hi,
                       int32_t* out);

// A number of seconds from `lo` to `hi`, written as digits with at most one
// '.' ("10", "2.5", ".5"): "--time: expected seconds from 0.1 to 3600, got 'x'".
std::string read_seconds(const std::string& option, const std::string& text, double lo, double hi,
                         double* out);

// Whole numbers from 1 to `hi` separated by commas, returned ascending and
// each once: "--threads: expected thread counts from 1 to 256 separated by
// commas, got '1,0'" (`what` is "thread counts" there).
std::string read_count_list(const std::string& option, const std::string& what,
                            const std::string& text, int64_t hi, std::vector<int32_t>* out);

// MxKxN, three whole numbers from 1 to INT32_MAX.
std::string read_shape(const std::string& option, const std::string& text, int32_t dims[3]);

// Names from `known` separated by commas, "all" for every one: chosen[i]
// tells whether known[i] was named. "--methods: unknown method 'x' (known:
// a, b, all)" (`what` is "method" there).
std::string read_names(const std::string& option, const std::string& what, const std::string& text,
                       const std::vector<std::string>& known, std::vector<bool>* chosen);

// A file name, never empty: "--csv: the file name is empty".
std::string read_path(const std::string& option, const std::string& text, std::string* out);

// 1, 2, 4, ... below `top`, then `top` itself (just 1 when `top` is 1 or
// less): the thread or rank counts a program measures by default.
std::vector<int32_t> doubling_counts(int32_t top);

// ---- What every program that multiplies shares ---------------------------------------------

inline constexpr int64_t kMaxDimension = 2147483647;
inline constexpr int32_t kMaxThreads = 256;    // --threads: each count from 1 to this
inline constexpr int32_t kMaxRepeat = 1000;    // --repeat: from 1 to this
inline constexpr int32_t kDefaultSize = 512;   // --size when no option fixes the shape
inline constexpr int32_t kDefaultLimit = 100;  // --limit: values from 1 to this

// A is rows x inner, B inner x cols. `shape_option` names what fixed it, for
// the memory refusals ("--size", "--shape", ...); `shape_given` lists the
// shape options the command line used, in the order first given, so that two
// of them can be refused together. A program's options derive from it.
struct shape_choice {
  int32_t rows = 0;
  int32_t inner = 0;
  int32_t cols = 0;
  std::string shape_option = "--size";
  std::vector<std::string> shape_given;

  // Records that `name` fixed the shape.
  void fixed_by(const std::string& name);
  // "--size and --shape both fix the shape; drop one", or empty.
  std::string shape_conflict() const;
};

// ---- The runner ------------------------------------------------------------------------------

// One option of a program's table, with its line in --help.
struct option {
  const char* name;  // "--size"
  // How many values follow: 0 for a flag; 1 for one value, the next argument
  // or after '=' (--size=300); 2 for the next two arguments (never '=').
  int values;
  // Takes the values; returns empty, or the refusal.
  std::function<std::string(const std::vector<std::string>& values)> apply;
  // The refusal when the values are missing (and for `values` 2, when '=' is
  // used); empty for "NAME: missing value".
  std::string missing = {};
  // For --help: what the values are called ("N", "A.txt B.txt"; empty for a
  // flag), and what the option does, lines set apart by '\n'.
  std::string value_name = {};
  std::string help = {};
};

// Reads argv[1 .. argc-1] through `table`, applying each option as it comes
// (a later one replaces an earlier one, unless its `apply` collects). "-h"
// is "--help". Returns the first refusal, or empty:
//   "unknown option '--x' (see --help)", "unexpected argument 'x' (see --help)",
//   "--help: takes no value", "--size: missing value", or what an option said.
std::string read_options(int argc, const char* const* argv, const std::vector<option>& table);

// The "Options:" part of --help, one entry per option in the table's order:
//   "  --size N            square factors of N x N\n"
// the name and its values, then the help from column 23, each further line
// of it indented as far (a name too long for the column gets a line of its own).
std::string options_help(const std::vector<option>& table);

// The flags every program takes, worded once.
struct program_flags {
  bool help = false;     // --help, -h: print the help and exit
  bool version = false;  // --version: print the version and exit
  // --dry-run: check every option and path as a run would, then exit 0
  // without measuring or writing anything (status 2 and the usual refusal otherwise).
  bool dry_run = false;
};
// Their table entries, for the end of a program's table.
std::vector<option> program_flag_entries(program_flags* flags);

// Table entries that mean the same in every program.
option flag_entry(const char* name, bool* out, std::string help = {});
option size_entry(shape_choice* shape);   // --size N: N x N times N x N
option shape_entry(shape_choice* shape);  // --shape MxKxN
// --threads LIST, counts from 1 to `max`, ascending, each once.
option threads_entry(std::vector<int32_t>* out, int32_t max);
option repeat_entry(int32_t* out, int32_t max);  // --repeat R, 1 to `max`
option seed_entry(uint32_t* out, bool* given);   // --seed S, 0 to 4294967295
option limit_entry(int32_t* out, bool* given);   // --limit L, 1 to INT32_MAX
option path_entry(const char* name, std::string* out);

}  // namespace tool_common
