// mpi_compare's command line: strict number parsing and one-line reasons for every refusal.
#include "mpi_compare_options.hpp"

#include <algorithm>
#include <limits>

#include "whole_number.hpp"

namespace mpi_compare {

const std::vector<method_info>& methods() {
  static const std::vector<method_info> kMethods = {
      {"rows", "mpi_products::multiplicarMPI: row blocks, all of B to every rank"},
      {"summa", "mpi_products::multiplicarSUMMA: deal blocks, SUMMA, gather C"},
      {"summa-blocks", "mpi_products::multiplicarSUMMAblocos: blocks made where they live"},
  };
  return kMethods;
}

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int32_t>::max();

using tool_cli::parse_whole;

bool parse_count32(const std::string& text, int64_t lo, int64_t hi, int32_t* out) {
  int64_t v = 0;
  if (!parse_whole(text, lo, hi, &v)) {
    return false;
  }
  *out = static_cast<int32_t>(v);
  return true;
}

std::vector<std::string> split(const std::string& text, char delim) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(delim, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) {
      return parts;
    }
    start = at + 1;
  }
}

}  // namespace

std::vector<int32_t> rank_counts(int32_t ranks) {
  std::vector<int32_t> counts{1};
  for (int32_t p = 2; p < ranks; p *= 2) {
    counts.push_back(p);
  }
  if (ranks > 1) {
    counts.push_back(ranks);
  }
  return counts;
}

parse_result parse_options(int argc, const char* const* argv) {
  parse_result r;
  options& o = r.opts;
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
      return fail("unexpected argument '" + arg + "' (see --help)");
    }
    std::string name = arg;
    std::string value;
    bool inline_value = false;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inline_value = true;
    }

    if (name == "--help" || name == "--version") {
      if (inline_value) {
        return fail(name + ": takes no value");
      }
      (name == "--help" ? o.help : o.version) = true;
      continue;
    }
    static const char* const kWithValue[] = {"--size",   "--shape", "--threads", "--methods",
                                             "--repeat", "--seed",  "--limit",   "--csv"};
    if (std::none_of(std::begin(kWithValue), std::end(kWithValue),
                     [&](const char* k) { return name == k; })) {
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
      if (!parse_count32(value, 1, kMaxInt, &n)) {
        return fail("--size: expected a whole number from 1 to 2147483647, got '" + value + "'");
      }
      o.rows = o.inner = o.cols = n;
      o.shape_option = "--size";
    } else if (name == "--shape") {
      const auto parts = split(value, 'x');
      int32_t dims[3] = {0, 0, 0};
      bool ok = parts.size() == 3;
      for (size_t d = 0; ok && d < 3; ++d) {
        ok = parse_count32(parts[d], 1, kMaxInt, &dims[d]);
      }
      if (!ok) {
        return fail("--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '" +
                    value + "'");
      }
      o.rows = dims[0];
      o.inner = dims[1];
      o.cols = dims[2];
      o.shape_option = "--shape";
    } else if (name == "--threads") {
      std::vector<int32_t> counts;
      for (const auto& part : split(value, ',')) {
        int32_t t = 0;
        if (!parse_count32(part, 1, kMaxThreads, &t)) {
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
        bool known = part == "all";
        for (size_t m = 0; m < methods().size(); ++m) {
          if (part == "all" || part == methods()[m].name) {
            chosen[m] = true;
            known = true;
          }
        }
        if (!known) {
          return fail("--methods: unknown method '" + part +
                      "' (known: rows, summa, summa-blocks, all)");
        }
      }
      o.methods.clear();
      for (size_t m = 0; m < chosen.size(); ++m) {
        if (chosen[m]) {
          o.methods.push_back(static_cast<method>(m));
        }
      }
    } else if (name == "--repeat") {
      if (!parse_count32(value, 1, kMaxRepeat, &o.repeat)) {
        return fail("--repeat: expected a whole number from 1 to " + std::to_string(kMaxRepeat) +
                    ", got '" + value + "'");
      }
    } else if (name == "--seed") {
      int64_t s = 0;
      if (!parse_whole(value, 0, std::numeric_limits<uint32_t>::max(), &s)) {
        return fail("--seed: expected a whole number from 0 to 4294967295, got '" + value + "'");
      }
      o.seed = static_cast<uint32_t>(s);
    } else if (name == "--limit") {
      if (!parse_count32(value, 1, kMaxInt, &o.limit)) {
        return fail("--limit: expected a whole number from 1 to 2147483647, got '" + value + "'");
      }
    } else {
      if (value.empty()) {
        return fail("--csv: the file name is empty");
      }
      o.csv = value;
    }
  }
  return r;
}

std::string help_text() {
  return "Usage: mpirun -np P mpi_compare [OPTION]...\n"
         "Multiplies two int32 matrices A (MxK) and B (KxN) across MPI ranks with every product\n"
         "of dense_mpi, on 1, 2, 4, ... and P ranks, checks each result against the team\n"
         "kernel's product on rank 0, and prints one table on rank 0: the median wall time,\n"
         "GOP/s (2*M*K*N operations per product), the speedup over the same method on one rank,\n"
         "the bytes each rank sent and received (counted at every MPI call the products make)\n"
         "beside the model of docs/mpi.md, and whether the result was identical.\n"
         "\n"
         "Options:\n"
         "  --size N            square factors of N x N (default 512)\n"
         "  --shape MxKxN       A has M rows and K columns, B has K rows and N columns\n"
         "  --threads LIST      threads per rank, comma-separated, each 1 to 256 (default 1)\n"
         "  --methods LIST      comma-separated methods (default all):\n"
         "                        rows          mpi_products::multiplicarMPI (row blocks)\n"
         "                        summa         mpi_products::multiplicarSUMMA (2-D blocks)\n"
         "                        summa-blocks  mpi_products::multiplicarSUMMAblocos, each rank\n"
         "                                      making its own blocks (nothing dealt or gathered)\n"
         "                        all           every method above\n"
         "  --repeat R          repetitions per row of the table (default 3; median shown)\n"
         "  --seed S            the values of A and B follow from S (default 1)\n"
         "  --limit L           values from 1 to L (default 100; above 32767 the kernel takes\n"
         "                      its full 32-bit path instead of the 16-bit one)\n"
         "  --csv FILE          also write the table as CSV into FILE\n"
         "  --help              this text\n"
         "  --version           the program's and the MPI library's versions\n"
         "\n"
         "Exit status: 0 every result identical, 1 a result differs or is missing,\n"
         "2 options refused (nothing run), 3 the CSV file could not be written.\n";
}

}  // namespace mpi_compare
