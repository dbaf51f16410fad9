// compare_products' command line: its table of options, the refusals that involve several, and
// --help.
#include "options.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "tools/common/cli.hpp"
#include "tools/common/freivalds.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/statistics.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::option;

std::vector<std::string> method_names() {
  std::vector<std::string> names;
  for (const auto& m : methods()) {
    names.emplace_back(m.name);
  }
  return names;
}

option sizes_entry(options& o) {
  return {"--sizes", 1, [&o](const std::vector<std::string>& v) {
            std::string why = tool_common::read_count_list("--sizes", "sizes", v[0],
                                                           tool_common::kMaxDimension, &o.sizes);
            if (why.empty()) {
              o.fixed_by("--sizes");
              // The memory check and the refusals speak of the largest size.
              o.rows = o.inner = o.cols = o.sizes.back();
            }
            return why;
          }};
}

option methods_entry(options& o) {
  return {"--methods", 1, [&o](const std::vector<std::string>& v) {
            std::vector<bool> chosen;
            std::string why =
                tool_common::read_names("--methods", "method", v[0], method_names(), &chosen);
            if (why.empty()) {
              o.methods.clear();
              for (size_t i = 0; i < chosen.size(); ++i) {
                if (chosen[i]) {
                  o.methods.push_back(&methods()[i]);
                }
              }
            }
            return why;
          }};
}

option verify_entry(options& o) {
  return {"--verify", 1, [&o](const std::vector<std::string>& v) -> std::string {
            const std::pair<const char*, check_rule> rules[] = {
                {"exact", check_rule::exact},
                {"freivalds", check_rule::freivalds},
                {"auto", check_rule::automatic}};
            for (const auto& [name, rule] : rules) {
              if (v[0] == name) {
                o.verify = rule;
                return {};
              }
            }
            return "--verify: expected exact, freivalds or auto, got '" + v[0] + "'";
          }};
}

// Whether every character of `s` is a letter, a digit, '_' or one of `more`.
bool only_name_chars(const std::string& s, const char* more) {
  return std::all_of(s.begin(), s.end(), [more](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
           ch == '_' || (ch != '\0' && std::strchr(more, ch) != nullptr);
  });
}

bool is_c_name(const std::string& s) {
  return !s.empty() && !(s[0] >= '0' && s[0] <= '9') && only_name_chars(s, "");
}

// Labels go into the table, whose cells are set apart by spaces, and into the CSV.
bool is_label(const std::string& s) { return !s.empty() && only_name_chars(s, "-."); }

// --add collects: each one adds a product.
option add_entry(options& o) {
  return {"--add", 1, [&o](const std::vector<std::string>& v) -> std::string {
            added_entry given;
            std::string why = read_added(v[0], &given);
            if (!why.empty()) {
              return why;
            }
            if (find_method(given.label) != nullptr) {
              return "--add: label '" + given.label + "' is a method's name; choose another";
            }
            for (const auto& other : o.added) {
              if (other.label == given.label) {
                return "--add: label '" + given.label + "' is given twice";
              }
            }
            o.added.push_back(std::move(given));
            return {};
          }};
}

option load_entry(options& o) {
  return {"--load", 2,
          [&o](const std::vector<std::string>& v) -> std::string {
            if (v[0].empty() || v[1].empty()) {
              return "--load: a file name is empty";
            }
            o.load_a = v[0];
            o.load_b = v[1];
            return {};
          },
          "--load: expected two matrix files, the left and the right factor"};
}

// Refusals that involve more than one option, once everything is read.
std::string check_combinations(options& o, bool seed_given) {
  std::string why = o.shape_conflict();
  if (!why.empty()) {
    return why;
  }
  if (!o.load_a.empty()) {
    if (!o.shape_given.empty()) {
      return "--load: the files fix the shape; drop " + o.shape_option;
    }
    if (o.limit_given) {
      return "--load: the files fix the values; drop --limit";
    }
    if (seed_given) {
      return "--load: the files fix the values; drop --seed";
    }
    o.shape_option = "--load";
  }
  if (o.repeat > 0 && o.time_given) {
    return "--time: --repeat fixes the number of rounds; drop one";
  }
  if (o.csv == "-" && o.raw == "-") {
    return "--raw: --csv already writes on stdout; send one of them to a file";
  }
  if (!o.sizes.empty() && !o.save_dir.empty()) {
    return "--save: a sweep makes one product per size; drop --sizes or --save";
  }
  return {};
}

}  // namespace

std::string read_added(const std::string& text, added_entry* out) {
  std::string expected = "--add: expected LABEL=PATH.so[:SYMBOL], got '" + text + "'";
  const size_t eq = text.find('=');
  if (eq == std::string::npos) {
    return expected;
  }
  added_entry given;
  given.label = text.substr(0, eq);
  given.path = text.substr(eq + 1);
  const size_t colon = given.path.rfind(':');
  if (colon != std::string::npos && is_c_name(given.path.substr(colon + 1))) {
    given.symbol = given.path.substr(colon + 1);
    given.path.erase(colon);
  } else if (colon != std::string::npos && colon + 1 == given.path.size()) {
    return expected;  // "x.so:" names no symbol
  } else {
    given.symbol = given.label;
  }
  if (given.label.empty() || given.path.empty()) {
    return expected;
  }
  if (!is_label(given.label)) {
    return "--add: label '" + given.label + "' may hold only letters, digits, '-', '_' and '.'";
  }
  *out = std::move(given);
  return {};
}

std::vector<int32_t> default_thread_counts(int32_t cpus) {
  return tool_common::doubling_counts(std::min(cpus, tool_common::kMaxThreads));
}

namespace {

// `entry` with its line in --help.
option documented(option entry, std::string value_name, std::string help) {
  entry.value_name = std::move(value_name);
  entry.help = std::move(help);
  return entry;
}

std::string methods_help() {
  std::string text = "comma-separated methods (default all):";
  char line[200];
  for (const auto& m : methods()) {
    if (m.help_label != nullptr) {
      std::snprintf(line, sizeof line, "\n  %-17s %s", m.help_label, m.help);
      text += line;
    }
  }
  return text +
         "\n  all               every method above"
         "\nsequential methods are measured once, on 1 thread";
}

std::string verify_help() {
  return "how each result is checked: exact (mcomparar against mmultiplicar\n"
         "tipo 1), freivalds (" +
         std::to_string(tool_common::kFreivaldsRounds) +
         " random 0/1 vectors, O(n^2) per result), or\n"
         "auto (default: exact up to the work of a 1024x1024x1024 product,\n"
         "freivalds above)";
}

// The options that fix what is multiplied, and how it is measured and checked.
std::vector<option> measuring_entries(options& o) {
  namespace tc = tool_common;
  const std::string n = std::to_string(tc::kDefaultSize);
  return {
      documented(tc::size_entry(&o), "N",
                 "square factors of N x N (default " + n + ", so A and B are " + n + "x" + n + ")"),
      documented(tc::shape_entry(&o), "MxKxN",
                 "A has M rows and K columns, B has K rows and N columns"),
      documented(sizes_entry(o), "LIST",
                 "a sweep: square sizes, comma-separated; every method at each size,\n"
                 "one table with a size column (--plot draws GOP/s against n); a\n"
                 "method predicted to need over 2 s per repetition is skipped"),
      documented(tc::threads_entry(&o.threads, tc::kMaxThreads), "LIST",
                 "thread counts, comma-separated, each 1 to " + std::to_string(tc::kMaxThreads) +
                     "\n(default: 1, 2, 4, ... up to the number of CPUs)"),
      documented(methods_entry(o), "LIST", methods_help()),
      documented(tc::repeat_entry(&o.repeat, tc::kMaxRepeat), "R",
                 "exactly R rounds (default: at least " +
                     std::to_string(tool_common::kFewestForInterval) +
                     ", the fewest that give a 95%\ninterval, then until every row's "
                     "interval, and every speedup's over\none thread, lies within +-" +
                     tc::format_number("%g", tc::round_rules{}.target * 100.0) +
                     "% of its median, or --time has passed)"),
      documented({"--time", 1,
                  [&o](const std::vector<std::string>& v) {
                    o.time_given = true;
                    return tc::read_seconds("--time", v[0], 0.1, kMaxTime, &o.time_budget);
                  }},
                 "SECONDS",
                 "how long the rounds of one size may go on (default 10; a sweep\n"
                 "instead stops a row once its calls took 1 s)"),
      documented(tc::limit_entry(&o.limit, &o.limit_given), "L",
                 "random values from 1 to L (default " + std::to_string(tc::kDefaultLimit) + ")"),
      documented(tc::seed_entry(&o.seed, &o.seeded), "S",
                 "fill the factors from a generator seeded with S (0 to 4294967295),\n"
                 "so two runs multiply the same numbers (default: mgerar_aleatorio),\n"
                 "and shuffle the rounds from it (default: from the clock)"),
      documented(verify_entry(o), "RULE", verify_help()),
  };
}

// The products of one's own (--add) and what they may take.
std::vector<option> added_entries(options& o) {
  return {
      documented(add_entry(o), "LABEL=PATH.so[:SYMBOL]",
                 "also measure a product of your own: SYMBOL (default: LABEL) in the\n"
                 "shared object PATH.so, a function with C linkage and the signature of\n"
                 "the threaded products, matriz* (const matriz* a, const matriz* b,\n"
                 "int32_t threads); one row per thread count, named LABEL and checked\n"
                 "like every other; it runs in a worker process, so a crash shows as\n"
                 "'crashed (signal N, NAME)' in its row and exits 1, as a wrong\n"
                 "result does; repeatable"),
      documented({"--timeout", 1,
                  [&o](const std::vector<std::string>& v) {
                    return tool_common::read_seconds("--timeout", v[0], 0.1, kMaxTime, &o.timeout);
                  }},
                 "SECONDS",
                 "stop a call of an added product after this long and report it as\n"
                 "'timed out' (default " +
                     tool_common::format_number("%g", kDefaultTimeout) + ")"),
  };
}

// Where the factors come from and where the results go.
std::vector<option> file_entries(options& o) {
  namespace tc = tool_common;
  return {
      documented(load_entry(o), "A.txt B.txt", "read both factors from matrix text files instead"),
      documented(tc::path_entry("--save", &o.save_dir), "DIR",
                 "write A.txt, B.txt and the product C.txt into DIR (created if missing;\n"
                 "without the exact reference, C.txt is the fastest verified result)"),
      documented(tc::path_entry("--csv", &o.csv), "FILE",
                 "also write the table as CSV, one row per method and thread count\n"
                 "(--csv - : the CSV on stdout, and the table on stderr)"),
      documented(tc::path_entry("--raw", &o.raw), "FILE",
                 "write every timed call as CSV: round, its place in the round,\n"
                 "method, threads, shape, seconds (--raw - : on stdout)"),
      documented(tc::path_entry("--plot", &o.plot), "FILE.png",
                 "draw GOP/s per method and thread count with gnuplot"),
      documented(tc::path_entry("--trace", &o.trace), "FILE.json",
                 "after the rounds, call each threaded row a few more times with\n"
                 "every thread's phases recorded, keep the call nearest the row's\n"
                 "median, and write it in Chrome's trace format (open it in\n"
                 "Perfetto, ui.perfetto.dev, or chrome://tracing)"),
      documented(tc::path_entry("--timeline", &o.timeline), "FILE.png",
                 "draw the same calls with gnuplot: a panel per row, a lane per\n"
                 "thread, one time axis for every panel"),
      documented(tc::flag_entry("--quiet", &o.quiet), "",
                 "print no table and no progress (files and exit status only)"),
  };
}

// Every option, in --help's order.
std::vector<option> option_table(options& o) {
  std::vector<option> table = measuring_entries(o);
  for (auto* part : {&added_entries, &file_entries}) {
    for (auto& entry : part(o)) {
      table.push_back(std::move(entry));
    }
  }
  for (auto& entry : tool_common::program_flag_entries(&o)) {
    table.push_back(std::move(entry));
  }
  return table;
}

}  // namespace

parse_result parse_options(int argc, const char* const* argv,
                           const std::vector<int32_t>& default_threads) {
  parse_result r;
  options& o = r.opts;
  o.threads = default_threads;
  for (const auto& m : methods()) {
    o.methods.push_back(&m);
  }
  r.error = tool_common::read_options(argc, argv, option_table(o));
  if (r.error.empty()) {
    r.error = check_combinations(o, o.seeded);
  }
  return r;
}

std::string help_text() {
  options unused;
  return "Usage: compare_products [OPTION]...\n"
         "Multiplies two random int32 matrices A (MxK) and B (KxN) with every method of "
         "libdense,\n"
         "checks each result (against the sequential product with mcomparar, or with "
         "Freivalds'\n"
         "test when that product would cost more than the methods measured), and prints one "
         "table:\n"
         "the median wall time of each method and thread count, GOP/s (2*M*K*N operations per\n"
         "product) with the 95% interval of its median, the speedup over mmultiplicar tipo 0 "
         "and\n"
         "over the same method on one thread (the median of the ratios within each round), and\n"
         "whether the result was identical. Every row runs once untimed, then in rounds: each\n"
         "round runs every row once, in an order shuffled afresh. Under the table, one line "
         "says\n"
         "how much of the machine other programs used meanwhile.\n"
         "\n"
         "Options:\n" +
         tool_common::options_help(option_table(unused)) +
         "\n"
         "Example:\n"
         "  compare_products --size 300 --threads 1,2 --methods tipo0,tipo1,omp --csv run.csv\n"
         "  compare_products --add mine=./my_product.so:my_product --methods tipo1,omp,kernel\n"
         "\n"
         "Exit status: 0 all results identical, 1 a result failed its check (the method is "
         "named\n"
         "on stderr), 2 bad input or an output path that cannot be created, refused before any\n"
         "work, 3 an output file could not be written after the run.\n";
}

}  // namespace compare_products
