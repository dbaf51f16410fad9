// compare_products' command line: the methods it knows, its options, and their checks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compare_tool {

// How a method uses threads, which decides the thread counts it is measured with.
enum class threading {
  sequential,  // runs on the calling thread: measured once, as 1 thread
  requested,   // runs on as many threads as asked: measured at every requested count
  two_fixed,   // always two threads whatever it is asked: measured once, as 2 threads
};

// One way of computing the product.
struct method_info {
  const char* name;  // what --methods and the table call it
  const char* what;  // the library call behind it (no commas: it goes into the CSV)
  threading threads;
};

// Every method, in the order of the table.
const std::vector<method_info>& methods();

// The index of `name` in methods(), or -1.
int method_index(const std::string& name);

inline constexpr int32_t kMaxThreads = 256;
inline constexpr int32_t kMaxRepeat = 1000;
inline constexpr int32_t kDefaultSize = 512;
inline constexpr int32_t kDefaultRepeat = 3;
inline constexpr int32_t kDefaultLimit = 100;

struct options {
  // Factors are rows x inner and inner x cols.
  int32_t rows = kDefaultSize;
  int32_t inner = kDefaultSize;
  int32_t cols = kDefaultSize;
  // The option that fixed the shape ("--size", "--shape", "--load"), named in size refusals.
  std::string shape_option = "--size";
  std::vector<int32_t> threads;  // ascending, no repeats
  std::vector<int> method_ids;   // indices into methods(), in table order
  int32_t repeat = kDefaultRepeat;
  int32_t limit = kDefaultLimit;
  bool limit_given = false;
  std::string csv;
  std::string plot;
  std::string load_a;
  std::string load_b;
  std::string save_dir;
  bool quiet = false;
  bool help = false;
};

// Parsed options, or a one-line reason (no program name, no newline) in `error`.
struct parse_result {
  options opts;
  std::string error;
};

// Reads argv[1..argc-1]. Options take their value as the next argument or
// after '=' (--size=300); --load takes the next two arguments. A later
// option replaces an earlier one of the same name. `default_threads` is the
// thread list used when --threads is not given.
parse_result parse_options(int argc, const char* const* argv,
                           const std::vector<int32_t>& default_threads);

// 1, 2, 4, ... up to `cpus`, and `cpus` itself.
std::vector<int32_t> default_thread_counts(int32_t cpus);

// The text of --help.
std::string help_text();

}  // namespace compare_tool
