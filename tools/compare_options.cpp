// compare_products' command line: strict number parsing and one-line reasons for every refusal.
#include "compare_options.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace compare_tool {

const std::vector<method_info>& methods() {
  static const std::vector<method_info> kMethods = {
      {"tipo0", "mmultiplicar tipo 0: loops i-j-k", threading::sequential},
      {"tipo1", "mmultiplicar tipo 1: loops i-k-j", threading::sequential},
      {"tipo2", "mmultiplicar tipo 2: loops k-i-j", threading::sequential},
      {"tipo3", "mmultiplicar tipo 3: loops k-i-j", threading::sequential},
      {"tipo4", "mmultiplicar tipo 4: loops j-i-k", threading::sequential},
      {"tipo5", "mmultiplicar tipo 5: loops j-k-i", threading::sequential},
      {"cyclic", "workers_cyclic::multiplicarTh", threading::requested},
      {"cyclic-blocks", "workers_cyclic::multiplicarThblocos", threading::requested},
      {"ranges", "workers_ranges::multiplicarTh", threading::requested},
      {"ranges-blocks", "workers_ranges::multiplicarThblocos", threading::two_fixed},
      {"omp", "team_rows::multiplicarOMP", threading::requested},
      {"kernel", "block_kernel::mmsubmatriz", threading::sequential},
  };
  return kMethods;
}

int method_index(const std::string& name) {
  const auto& all = methods();
  for (size_t i = 0; i < all.size(); ++i) {
    if (name == all[i].name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

namespace {

// A whole number in [lo, hi] written with decimal digits only; false for
// anything else (signs, spaces, empty text, overflow).
bool parse_count(const std::string& text, int64_t lo, int64_t hi, int32_t* out) {
  if (text.empty() || text.size() > 12) {
    return false;
  }
  int64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') {
      return false;
    }
    value = value * 10 + (ch - '0');
  }
  if (value < lo || value > hi) {
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

std::string method_names() {
  std::string names;
  for (const auto& m : methods()) {
    names += m.name;
    names += ", ";
  }
  return names + "all";
}

constexpr int64_t kMaxInt = std::numeric_limits<int32_t>::max();

}  // namespace

std::vector<int32_t> default_thread_counts(int32_t cpus) {
  std::vector<int32_t> counts{1};
  for (int32_t t = 2; t < cpus && t <= kMaxThreads; t *= 2) {
    counts.push_back(t);
  }
  if (cpus > 1) {
    counts.push_back(std::min(cpus, kMaxThreads));
  }
  return counts;
}

parse_result parse_options(int argc, const char* const* argv,
                           const std::vector<int32_t>& default_threads) {
  parse_result r;
  options& o = r.opts;
  o.threads = default_threads;
  for (size_t i = 0; i < methods().size(); ++i) {
    o.method_ids.push_back(static_cast<int>(i));
  }
  bool size_given = false;

  auto fail = [&r](std::string why) {
    r.error = std::move(why);
    return r;
  };

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string name = arg;
    std::string value;
    bool inline_value = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inline_value = true;
      }
    } else {
      if (arg == "-h") {
        o.help = true;
        continue;
      }
      return fail("unexpected argument '" + arg + "' (see --help)");
    }

    if (name == "--help" || name == "--quiet") {
      if (inline_value) {
        return fail(name + ": takes no value");
      }
      if (name == "--help") {
        o.help = true;
      } else {
        o.quiet = true;
      }
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

    static const char* const kWithValue[] = {"--size",    "--shape",  "--threads",
                                             "--methods", "--repeat", "--limit",
                                             "--csv",     "--plot",   "--save"};
    bool known = false;
    for (const char* k : kWithValue) {
      known = known || name == k;
    }
    if (!known) {
      return fail("unknown option '" + name + "' (see --help)");
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        return fail(name + ": missing value");
      }
      value = argv[++i];
    }

    if (name == "--size") {
      int32_t n = 0;
      if (!parse_count(value, 1, kMaxInt, &n)) {
        return fail("--size: expected a whole number from 1 to 2147483647, got '" + value + "'");
      }
      o.rows = o.inner = o.cols = n;
      o.shape_option = "--size";
      size_given = true;
    } else if (name == "--shape") {
      const auto parts = split(value, 'x');
      int32_t dims[3] = {0, 0, 0};
      bool ok = parts.size() == 3;
      for (size_t d = 0; ok && d < 3; ++d) {
        ok = parse_count(parts[d], 1, kMaxInt, &dims[d]);
      }
      if (!ok) {
        return fail("--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '" +
                    value + "'");
      }
      o.rows = dims[0];
      o.inner = dims[1];
      o.cols = dims[2];
      o.shape_option = "--shape";
      size_given = true;
    } else if (name == "--threads") {
      std::vector<int32_t> counts;
      for (const auto& part : split(value, ',')) {
        int32_t t = 0;
        if (!parse_count(part, 1, kMaxThreads, &t)) {
          return fail("--threads: expected thread counts from 1 to " + std::to_string(kMaxThreads) +
                      " separated by commas, got '" + value + "'");
        }
        counts.push_back(t);
      }
      std::sort(counts.begin(), counts.end());
      counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
      o.threads = counts;
    } else if (name == "--methods") {
      std::vector<bool> chosen(methods().size(), false);
      for (const auto& part : split(value, ',')) {
        if (part == "all") {
          chosen.assign(chosen.size(), true);
          continue;
        }
        const int idx = method_index(part);
        if (idx < 0) {
          return fail("--methods: unknown method '" + part + "' (known: " + method_names() + ")");
        }
        chosen[static_cast<size_t>(idx)] = true;
      }
      o.method_ids.clear();
      for (size_t m = 0; m < chosen.size(); ++m) {
        if (chosen[m]) {
          o.method_ids.push_back(static_cast<int>(m));
        }
      }
    } else if (name == "--repeat") {
      if (!parse_count(value, 1, kMaxRepeat, &o.repeat)) {
        return fail("--repeat: expected a whole number from 1 to " + std::to_string(kMaxRepeat) +
                    ", got '" + value + "'");
      }
    } else if (name == "--limit") {
      if (!parse_count(value, 1, kMaxInt, &o.limit)) {
        return fail("--limit: expected a whole number from 1 to 2147483647, got '" + value + "'");
      }
      o.limit_given = true;
    } else {
      if (value.empty()) {
        return fail(name + ": the file name is empty");
      }
      if (name == "--csv") {
        o.csv = value;
      } else if (name == "--plot") {
        o.plot = value;
      } else {
        o.save_dir = value;
      }
    }
  }

  if (!o.load_a.empty()) {
    if (size_given) {
      return fail("--load: the files fix the shape; drop " + o.shape_option);
    }
    if (o.limit_given) {
      return fail("--load: the files fix the values; drop --limit");
    }
    o.shape_option = "--load";
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
      "checks each result against the sequential product with mcomparar, and prints one table:\n"
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
      "  --threads LIST      thread counts, comma-separated, each 1 to 256\n"
      "                      (default: 1, 2, 4, ... up to the number of CPUs)\n"
      "  --methods LIST      comma-separated methods (default all):\n"
      "                        tipo0 ... tipo5   mmultiplicar with loop nest tipo 0 ... 5\n"
      "                        cyclic            workers_cyclic::multiplicarTh\n"
      "                        cyclic-blocks     workers_cyclic::multiplicarThblocos\n"
      "                        ranges            workers_ranges::multiplicarTh\n"
      "                        ranges-blocks     workers_ranges::multiplicarThblocos (always 2 "
      "threads)\n"
      "                        omp               team_rows::multiplicarOMP\n"
      "                        kernel            block_kernel::mmsubmatriz on whole matrices\n"
      "                        all               every method above\n"
      "                      sequential methods are measured once, on 1 thread\n"
      "  --repeat R          repetitions per method and thread count (default 3; median shown)\n"
      "  --limit L           random values from 1 to L (default 100)\n"
      "  --load A.txt B.txt  read both factors from matrix text files instead\n"
      "  --save DIR          write A.txt, B.txt and the product C.txt into DIR (created if "
      "missing)\n"
      "  --csv FILE          also write the table as CSV, one row per method and thread count\n"
      "  --plot FILE.png     draw GOP/s per method and thread count with gnuplot\n"
      "  --quiet             print no table and no progress (files and exit status only)\n"
      "  --help              show this text\n"
      "\n"
      "Example:\n"
      "  compare_products --size 300 --threads 1,2 --methods tipo0,tipo1,omp --csv run.csv\n"
      "\n"
      "Exit status: 0 all results identical, 1 a result differs from the sequential product\n"
      "(the method is named on stderr), 2 bad input refused before any work, 3 an output file\n"
      "could not be written.\n";
  return text;
}

}  // namespace compare_tool
