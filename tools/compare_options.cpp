// compare_products' command line: strict number parsing and one-line reasons for every refusal.
#include "compare_options.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "product_check.hpp"
#include "whole_number.hpp"

namespace compare_tool {
namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int32_t>::max();
constexpr int64_t kMaxSeed = std::numeric_limits<uint32_t>::max();

using tool_cli::parse_whole;

bool parse_count(const std::string& text, int64_t hi, int32_t* out) {
  int64_t value = 0;
  if (!parse_whole(text, 1, hi, &value)) {
    return false;
  }
  *out = static_cast<int32_t>(value);
  return true;
}

std::vector<std::string> split(const std::string& text, char delim) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(delim, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) {
      break;
    }
    start = at + 1;
  }
  return parts;
}

// Counts from 1 to `hi` separated by commas, sorted, each once; false on any bad one.
bool parse_count_list(const std::string& text, int64_t hi, std::vector<int32_t>* out) {
  std::vector<int32_t> counts;
  for (const auto& part : split(text, ',')) {
    int32_t n = 0;
    if (!parse_count(part, hi, &n)) {
      return false;
    }
    counts.push_back(n);
  }
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  *out = counts;
  return true;
}

std::string method_names() {
  std::string names;
  for (const auto& m : methods()) {
    names += m.name;
    names += ", ";
  }
  return names + "all";
}

// What the command line said beyond the options themselves.
struct given {
  std::vector<std::string> shape_options;  // --size, --shape, --sizes, in the order first given
  bool seed = false;
};

void note_shape_option(given& g, options& o, const char* name) {
  if (std::find(g.shape_options.begin(), g.shape_options.end(), name) == g.shape_options.end()) {
    g.shape_options.push_back(name);
  }
  o.shape_option = name;
  o.sizes.clear();
}

// Each handler applies one option's value; it returns the reason for a refusal, or empty.
using value_handler = std::string (*)(const std::string& value, options& o, given& g);

std::string on_size(const std::string& value, options& o, given& g) {
  int32_t n = 0;
  if (!parse_count(value, kMaxInt, &n)) {
    return "--size: expected a whole number from 1 to 2147483647, got '" + value + "'";
  }
  note_shape_option(g, o, "--size");
  o.rows = o.inner = o.cols = n;
  return {};
}

std::string on_shape(const std::string& value, options& o, given& g) {
  const auto parts = split(value, 'x');
  int32_t dims[3] = {0, 0, 0};
  bool ok = parts.size() == 3;
  for (size_t d = 0; ok && d < 3; ++d) {
    ok = parse_count(parts[d], kMaxInt, &dims[d]);
  }
  if (!ok) {
    return "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '" + value + "'";
  }
  note_shape_option(g, o, "--shape");
  o.rows = dims[0];
  o.inner = dims[1];
  o.cols = dims[2];
  return {};
}

std::string on_sizes(const std::string& value, options& o, given& g) {
  std::vector<int32_t> sizes;
  if (!parse_count_list(value, kMaxInt, &sizes)) {
    return "--sizes: expected sizes from 1 to 2147483647 separated by commas, got '" + value + "'";
  }
  note_shape_option(g, o, "--sizes");
  o.sizes = sizes;
  // The memory check and the refusals speak of the largest size.
  o.rows = o.inner = o.cols = sizes.back();
  return {};
}

std::string on_threads(const std::string& value, options& o, given&) {
  if (!parse_count_list(value, kMaxThreads, &o.threads)) {
    return "--threads: expected thread counts from 1 to " + std::to_string(kMaxThreads) +
           " separated by commas, got '" + value + "'";
  }
  return {};
}

std::string on_methods(const std::string& value, options& o, given&) {
  std::vector<bool> chosen(methods().size(), false);
  for (const auto& part : split(value, ',')) {
    if (part == "all") {
      chosen.assign(chosen.size(), true);
      continue;
    }
    const product_method* m = find_method(part);
    if (m == nullptr) {
      return "--methods: unknown method '" + part + "' (known: " + method_names() + ")";
    }
    chosen[static_cast<size_t>(m - methods().data())] = true;
  }
  o.methods.clear();
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (chosen[i]) {
      o.methods.push_back(&methods()[i]);
    }
  }
  return {};
}

std::string on_repeat(const std::string& value, options& o, given&) {
  if (!parse_count(value, kMaxRepeat, &o.repeat)) {
    return "--repeat: expected a whole number from 1 to " + std::to_string(kMaxRepeat) + ", got '" +
           value + "'";
  }
  return {};
}

std::string on_limit(const std::string& value, options& o, given&) {
  if (!parse_count(value, kMaxInt, &o.limit)) {
    return "--limit: expected a whole number from 1 to 2147483647, got '" + value + "'";
  }
  o.limit_given = true;
  return {};
}

std::string on_seed(const std::string& value, options& o, given& g) {
  int64_t seed = 0;
  if (!parse_whole(value, 0, kMaxSeed, &seed)) {
    return "--seed: expected a whole number from 0 to 4294967295, got '" + value + "'";
  }
  o.seeded = g.seed = true;
  o.seed = static_cast<uint32_t>(seed);
  return {};
}

std::string on_verify(const std::string& value, options& o, given&) {
  if (value == "exact") {
    o.verify = check_rule::exact;
  } else if (value == "freivalds") {
    o.verify = check_rule::freivalds;
  } else if (value == "auto") {
    o.verify = check_rule::automatic;
  } else {
    return "--verify: expected exact, freivalds or auto, got '" + value + "'";
  }
  return {};
}

// --csv, --plot and --save: a path, never empty.
std::string on_path(const std::string& name, const std::string& value, std::string* out) {
  if (value.empty()) {
    return name + ": the file name is empty";
  }
  *out = value;
  return {};
}

std::string on_csv(const std::string& value, options& o, given&) {
  return on_path("--csv", value, &o.csv);
}
std::string on_plot(const std::string& value, options& o, given&) {
  return on_path("--plot", value, &o.plot);
}
std::string on_save(const std::string& value, options& o, given&) {
  return on_path("--save", value, &o.save_dir);
}

struct value_option {
  const char* name;
  value_handler apply;
};

constexpr value_option kValueOptions[] = {
    {"--size", on_size},       {"--shape", on_shape},     {"--sizes", on_sizes},
    {"--threads", on_threads}, {"--methods", on_methods}, {"--repeat", on_repeat},
    {"--limit", on_limit},     {"--seed", on_seed},       {"--verify", on_verify},
    {"--csv", on_csv},         {"--plot", on_plot},       {"--save", on_save},
};

// Options without a value; null when `name` is none of them.
bool* flag_of(const std::string& name, options& o) {
  if (name == "--help") {
    return &o.help;
  }
  if (name == "--quiet") {
    return &o.quiet;
  }
  if (name == "--version") {
    return &o.version;
  }
  return nullptr;
}

// Refusals that involve more than one option, once everything is read.
std::string check_combinations(options& o, const given& g) {
  if (g.shape_options.size() > 1) {
    return g.shape_options[0] + " and " + g.shape_options[1] + " both fix the shape; drop one";
  }
  if (!o.load_a.empty()) {
    if (!g.shape_options.empty()) {
      return "--load: the files fix the shape; drop " + o.shape_option;
    }
    if (o.limit_given) {
      return "--load: the files fix the values; drop --limit";
    }
    if (g.seed) {
      return "--load: the files fix the values; drop --seed";
    }
    o.shape_option = "--load";
  }
  if (!o.sizes.empty() && !o.save_dir.empty()) {
    return "--save: a sweep makes one product per size; drop --sizes or --save";
  }
  return {};
}

}  // namespace

std::vector<int32_t> default_thread_counts(int32_t cpus) {
  const int32_t top = std::min(cpus, kMaxThreads);
  std::vector<int32_t> counts{1};
  for (int32_t t = 2; t < top; t *= 2) {
    counts.push_back(t);
  }
  if (top > 1) {
    counts.push_back(top);
  }
  return counts;
}

parse_result parse_options(int argc, const char* const* argv,
                           const std::vector<int32_t>& default_threads) {
  parse_result r;
  options& o = r.opts;
  o.threads = default_threads;
  for (const auto& m : methods()) {
    o.methods.push_back(&m);
  }
  given g;
  auto fail = [&r](std::string why) {
    r.error = std::move(why);
    return r;
  };

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h") {
      o.help = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      if (arg.size() > 1 && arg[0] == '-') {
        return fail("unknown option '" + arg + "' (see --help)");
      }
      return fail("unexpected argument '" + arg + "' (see --help)");
    }
    const size_t eq = arg.find('=');
    const bool inline_value = eq != std::string::npos;
    const std::string name = arg.substr(0, eq);

    if (bool* flag = flag_of(name, o)) {
      if (inline_value) {
        return fail(name + ": takes no value");
      }
      *flag = true;
      continue;
    }
    if (name == "--load") {
      if (inline_value || i + 2 >= argc) {
        return fail("--load: expected two matrix files, the left and the right factor");
      }
      o.load_a = argv[i + 1];
      o.load_b = argv[i + 2];
      if (o.load_a.empty() || o.load_b.empty()) {
        return fail("--load: a file name is empty");
      }
      i += 2;
      continue;
    }
    const auto* option = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                      [&](const value_option& v) { return name == v.name; });
    if (option == std::end(kValueOptions)) {
      return fail("unknown option '" + name + "' (see --help)");
    }
    std::string value;
    if (inline_value) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return fail(name + ": missing value");
    }
    std::string why = option->apply(value, o, g);
    if (!why.empty()) {
      return fail(std::move(why));
    }
  }
  std::string why = check_combinations(o, g);
  if (!why.empty()) {
    return fail(std::move(why));
  }
  return r;
}

std::string help_text() {
  char defaults[160];
  std::snprintf(defaults, sizeof defaults, "%d, so A and B are %dx%d", kDefaultSize, kDefaultSize,
                kDefaultSize);
  std::string text =
      "Usage: compare_products [OPTION]...\n"
      "Multiplies two random int32 matrices A (MxK) and B (KxN) with every method of libdense,\n"
      "checks each result (against the sequential product with mcomparar, or with Freivalds'\n"
      "test when that product would cost more than the methods measured), and prints one table:\n"
      "the median wall time of each method and thread count, GOP/s (2*M*K*N operations per\n"
      "product), the speedup over mmultiplicar tipo 0 and over the same method on one thread,\n"
      "and whether the result was identical.\n"
      "\n"
      "Options:\n"
      "  --size N            square factors of N x N (default ";
  text += defaults;
  text +=
      ")\n"
      "  --shape MxKxN       A has M rows and K columns, B has K rows and N columns\n"
      "  --sizes LIST        a sweep: square sizes, comma-separated; every method at each size,\n"
      "                      one table with a size column (--plot draws GOP/s against n); a\n"
      "                      method predicted to need over 2 s per repetition is skipped\n"
      "  --threads LIST      thread counts, comma-separated, each 1 to 256\n"
      "                      (default: 1, 2, 4, ... up to the number of CPUs)\n"
      "  --methods LIST      comma-separated methods (default all):\n";
  char line[200];
  for (const auto& m : methods()) {
    if (m.help_label != nullptr) {
      std::snprintf(line, sizeof line, "                        %-17s %s\n", m.help_label, m.help);
      text += line;
    }
  }
  text +=
      "                        all               every method above\n"
      "                      sequential methods are measured once, on 1 thread\n"
      "  --repeat R          repetitions per method and thread count (default 3; median shown)\n"
      "  --limit L           random values from 1 to L (default 100)\n"
      "  --seed S            fill the factors from a generator seeded with S (0 to 4294967295),\n"
      "                      so two runs multiply the same numbers (default: mgerar_aleatorio)\n"
      "  --verify RULE       how each result is checked: exact (mcomparar against mmultiplicar\n"
      "                      tipo 1), freivalds (";
  text += std::to_string(kFreivaldsRounds);
  text +=
      " random 0/1 vectors, O(n^2) per result), or\n"
      "                      auto (default: exact up to the work of a 1024x1024x1024 product,\n"
      "                      freivalds above)\n"
      "  --load A.txt B.txt  read both factors from matrix text files instead\n"
      "  --save DIR          write A.txt, B.txt and the product C.txt into DIR (created if "
      "missing;\n"
      "                      without the exact reference, C.txt is the fastest verified result)\n"
      "  --csv FILE          also write the table as CSV, one row per method and thread count\n"
      "                      (--csv - : the CSV on stdout, and the table on stderr)\n"
      "  --plot FILE.png     draw GOP/s per method and thread count with gnuplot\n"
      "  --quiet             print no table and no progress (files and exit status only)\n"
      "  --version           print the version and exit\n"
      "  --help              show this text\n"
      "\n"
      "Example:\n"
      "  compare_products --size 300 --threads 1,2 --methods tipo0,tipo1,omp --csv run.csv\n"
      "\n"
      "Exit status: 0 all results identical, 1 a result failed its check (the method is named\n"
      "on stderr), 2 bad input or an output path that cannot be created, refused before any\n"
      "work, 3 an output file could not be written after the run.\n";
  return text;
}

}  // namespace compare_tool
