// mpi_compare's command line: its methods, its table of options, and the help text.
#include "options.hpp"

#include "tools/common/cli.hpp"

namespace mpi_compare {

const std::vector<method_info>& methods() {
  static const std::vector<method_info> kMethods = {
      {"rows", "mpi_products::multiplicarMPI: row blocks, all of B to every rank"},
      {"summa", "mpi_products::multiplicarSUMMA: deal blocks, SUMMA, gather C"},
      {"summa-blocks", "mpi_products::multiplicarSUMMAblocos: blocks made where they live"},
  };
  return kMethods;
}

std::vector<int32_t> rank_counts(int32_t ranks) { return tool_common::doubling_counts(ranks); }

parse_result parse_options(int argc, const char* const* argv) {
  parse_result r;
  options& o = r.opts;
  namespace tc = tool_common;
  const tc::option methods_entry = {"--methods", 1, [&o](const std::vector<std::string>& v) {
                                      std::vector<std::string> names;
                                      for (const auto& m : methods()) {
                                        names.emplace_back(m.name);
                                      }
                                      std::vector<bool> chosen;
                                      std::string why = tc::read_names("--methods", "method", v[0],
                                                                       names, &chosen);
                                      if (why.empty()) {
                                        o.methods.clear();
                                        for (size_t m = 0; m < chosen.size(); ++m) {
                                          if (chosen[m]) {
                                            o.methods.push_back(static_cast<method>(m));
                                          }
                                        }
                                      }
                                      return why;
                                    }};
  const std::vector<tc::option> table = {
      tc::size_entry(&o),
      tc::shape_entry(&o),
      tc::threads_entry(&o.threads, tool_common::kMaxThreads),
      methods_entry,
      tc::repeat_entry(&o.repeat, tool_common::kMaxRepeat),
      tc::seed_entry(&o.seed, &o.seed_given),
      tc::limit_entry(&o.limit, &o.limit_given),
      {"--time", 1,
       [&o](const std::vector<std::string>& v) {
         o.time_given = true;
         return tc::read_seconds("--time", v[0], 0.1, tc::kMaxTime, &o.time_budget);
       }},
      tc::path_entry("--csv", &o.csv),
      tc::path_entry("--raw", &o.raw),
      tc::path_entry("--trace", &o.trace),
      tc::path_entry("--timeline", &o.timeline),
      tc::flag_entry("--no-overlap", &o.no_overlap),
      tc::flag_entry("--help", &o.help),
      tc::flag_entry("--version", &o.version),
  };
  r.error = tc::read_options(argc, argv, table);
  if (r.error.empty()) {
    r.error = o.shape_conflict();
  }
  if (r.error.empty() && o.repeat > 0 && o.time_given) {
    r.error = "--time: --repeat fixes the number of rounds; drop one";
  }
  return r;
}

std::string help_text() {
  return "Usage: mpirun -np P mpi_compare [OPTION]...\n"
         "Multiplies two int32 matrices A (MxK) and B (KxN) across MPI ranks with every product\n"
         "of dense_mpi, on 1, 2, 4, ... and P ranks, checks each result against the team\n"
         "kernel's product on rank 0, and prints one table on rank 0: the median wall time (the\n"
         "slowest rank's), GOP/s (2*M*K*N operations per product) with its 95% interval, the\n"
         "speedup over the same method on one rank (the median of the ratios taken within each\n"
         "round), the bytes each rank sent and received (counted at every MPI call the products\n"
         "make) beside the model of docs/mpi.md, and whether the result was identical. Every\n"
         "row runs once untimed, then in rounds, each row once a round in a shuffled order,\n"
         "which rank 0 decides. Under the table, how busy rank 0's host was meanwhile.\n"
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
         "  --repeat R          exactly R rounds (default: rounds until every time and speedup\n"
         "                      is within +-5% of its median, or --time has passed; 6 rounds\n"
         "                      or more give a 95% interval)\n"
         "  --time SECONDS      the most the rounds may take (default 10)\n"
         "  --seed S            the values of A and B, and the rounds' order, follow from S\n"
         "                      (default 1)\n"
         "  --limit L           values from 1 to L (default 100; above 32767 the kernel takes\n"
         "                      its full 32-bit path instead of the 16-bit one)\n"
         "  --csv FILE          also write the table as CSV into FILE\n"
         "  --raw FILE          write every timed call into FILE: round, position, method,\n"
         "                      ranks, threads, shape, seconds\n"
         "  --trace FILE        after the rounds, 5 untimed calls of each method on every\n"
         "                      rank (fewer once they took 2 s), with the most threads, and\n"
         "                      of those the one nearest the row's median: each rank's\n"
         "                      phases (deal, receive, broadcast panel, compute, wait,\n"
         "                      collect) and its kernel team's, as Chrome trace JSON\n"
         "                      (Perfetto): a process per rank, a thread per thread,\n"
         "                      clocks aligned to rank 0's by ping-pongs\n"
         "  --timeline FILE     the same calls drawn as a PNG with gnuplot: a panel per\n"
         "                      method, a lane per rank and thread, one time axis\n"
         "  --no-overlap        every product with its overlap off, to see what the overlap\n"
         "                      hides: each rank waits for its messages where blocking calls\n"
         "                      would, and SUMMA broadcasts each panel in full before anyone\n"
         "                      multiplies it (no look-ahead); same messages, same results\n"
         "  --help              this text\n"
         "  --version           the program's and the MPI library's versions\n"
         "\n"
         "Exit status: 0 every result identical, 1 a result differs or is missing,\n"
         "2 options refused (nothing run, no file changed), 3 an output file could not be\n"
         "written.\n";
}

}  // namespace mpi_compare
