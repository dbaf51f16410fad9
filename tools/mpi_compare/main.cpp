// mpi_compare: times the MPI products of dense_mpi on 1, 2, 4, ... ranks and checks each result.
//
// Started under mpirun; every rank runs this main. Rank 0 alone decides
// (options, the output files, memory) and tells the others before anyone
// waits on anyone, holds the whole factors and the reference product,
// measures and prints. It runs the rounds of tools/common/rounds.hpp: before
// each call it broadcasts which row comes next, so every rank calls the same
// collective product in the same order, and after the last round it
// broadcasts the end.
//
// With --trace or --timeline, every rank makes one more call of each method
// after the rounds, recorded and gathered to rank 0 (traced.hpp).
//
// The busy line under the table covers rank 0's host only: /proc/stat there,
// less the CPU time of every rank on that host. On several hosts, what the
// other hosts were doing meanwhile is not measured.
#include <mpi.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "collective.hpp"
#include "mpi/overlap.hpp"
#include "options.hpp"
#include "report.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/gnuplot.hpp"
#include "tools/common/interrupts.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/memory.hpp"
#include "tools/common/outputs.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/statistics.hpp"
#include "tools/common/timeline.hpp"
#include "traced.hpp"

#ifndef DENSE_VERSION
#define DENSE_VERSION "unknown"
#endif

namespace {

using mpi_compare::need;
using mpi_compare::options;
using tool_common::kExitDiffers;
using tool_common::kExitRefused;
using tool_common::kExitWriteFailed;

// The broadcast that ends the rounds, in place of a row's index.
constexpr int kNoMoreCalls = -1;

// The files a run writes at its end, claimed on rank 0 before any work: an
// existing file is left as it was unless the run finishes.
struct outputs {
  tool_common::output_file csv;
  tool_common::output_file raw;
  tool_common::output_file trace;
  tool_common::output_file timeline;
  std::string gnuplot;  // for --timeline; empty: gnuplot missing, no picture claimed
};

// Rank 0's decision on everything the user can get wrong, before any work.
struct decision {
  int status = 0;  // 0: go on; else the exit status
  std::string why;
  bool print_help = false;
  bool print_version = false;
};

std::string claim(const char* option, const std::string& path, tool_common::output_file* f) {
  if (path.empty()) {
    return {};
  }
  const std::string why = f->claim(path, false);
  return why.empty() ? why : std::string(option) + ": cannot write '" + path + "': " + why;
}

decision decide(const mpi_compare::parse_result& parsed, outputs* out) {
  decision d;
  const options& o = parsed.opts;
  if (parsed.error.empty() && (o.help || o.version)) {
    d.print_help = o.help;
    d.print_version = !o.help;
    return d;
  }
  d.why = parsed.error;
  // Rank 0 holds A, B, the reference and the result, and the products' packed copies.
  const double a = static_cast<double>(o.rows) * o.inner;
  const double b = static_cast<double>(o.inner) * o.cols;
  const double c = static_cast<double>(o.rows) * o.cols;
  if (d.why.empty()) {
    d.why = tool_common::memory_refusal(o.shape_option, o.rows, o.inner, o.cols, " on rank 0",
                                        4.0 * (2 * a + 2 * b + 3 * c),
                                        static_cast<double>(tool_common::available_bytes()));
  }
  if (d.why.empty()) {
    d.why = claim("--csv", o.csv, &out->csv);
  }
  if (d.why.empty()) {
    d.why = claim("--raw", o.raw, &out->raw);
  }
  if (d.why.empty()) {
    d.why = claim("--trace", o.trace, &out->trace);
  }
  if (d.why.empty() && !o.timeline.empty()) {
    out->gnuplot = tool_common::find_on_path("gnuplot");
    if (!out->gnuplot.empty()) {
      d.why = claim("--timeline", o.timeline, &out->timeline);
    }
  }
  // Each output against the ones claimed before it.
  const struct {
    const char* option;
    const std::string& path;
    const tool_common::output_file& file;
  } files[] = {{"--csv", o.csv, out->csv},
               {"--raw", o.raw, out->raw},
               {"--trace", o.trace, out->trace},
               {"--timeline", o.timeline, out->timeline}};
  for (size_t i = 1; d.why.empty() && i < std::size(files); ++i) {
    for (size_t j = 0; d.why.empty() && j < i; ++j) {
      if (files[i].file.clashes_with(files[j].file)) {
        d.why = std::string(files[i].option) + ": '" + files[i].path + "' is also the file of " +
                files[j].option + "; give each output a file of its own";
      }
    }
  }
  d.status = d.why.empty() ? 0 : kExitRefused;
  return d;
}

void print_help_or_version(const decision& d) {
  if (d.print_help) {
    std::fputs(mpi_compare::help_text().c_str(), stdout);
    return;
  }
  char library[MPI_MAX_LIBRARY_VERSION_STRING] = {};
  int length = 0;
  MPI_Get_library_version(library, &length);
  const std::string text(library, static_cast<size_t>(length));
  std::printf("mpi_compare (dense-kit) %s\n%s\n", DENSE_VERSION,
              text.substr(0, text.find_first_of("\n,")).c_str());
}

// What rank 0 measured.
struct measured {
  std::vector<mpi_compare::row> rows;
  std::vector<tool_common::raw_call> raw;
  int32_t rounds = 0;
  tool_common::machine_load load;
  mpi_compare::traced_run traced;  // --trace, --timeline: the extra calls
  bool no_overlap = false;
};

// Rank 0: the rounds, each call told to every rank first.
void lead_rounds(const options& o, std::vector<mpi_compare::row_setup>& setups,
                 const mpi_compare::whole_factors& w, measured& m) {
  std::vector<tool_common::candidate> candidates;
  for (size_t i = 0; i < setups.size(); ++i) {
    auto call = [&o, &setups, &w, i](const dense_core::matriz*, const dense_core::matriz*,
                                     int32_t) {
      int next = static_cast<int>(i);
      need(MPI_Bcast(&next, 1, MPI_INT, 0, MPI_COMM_WORLD));
      return mpi_compare::collective_call(o, setups[i], w);
    };
    const mpi_compare::row* one_rank = nullptr;
    for (const auto& r : m.rows) {
      if (r.m == m.rows[i].m && r.threads == m.rows[i].threads && r.ranks == 1 &&
          m.rows[i].ranks > 1) {
        one_rank = &r;
      }
    }
    candidates.push_back({&m.rows[i], i, call, one_rank});
  }
  tool_common::round_rules rules;
  rules.exact_rounds = o.repeat;
  rules.time_budget = o.time_budget;
  tool_common::splitmix64 order{o.seed};
  tool_common::round_context ctx;
  ctx.order = &order;
  ctx.raw = &m.raw;
  std::vector<tool_common::row_verdict> differences;  // each row's verdict is its `identical`
  m.rounds = tool_common::run_rounds(candidates, rules, ctx, &differences);
  int end = kNoMoreCalls;
  need(MPI_Bcast(&end, 1, MPI_INT, 0, MPI_COMM_WORLD));
}

// The other ranks: each call rank 0 names, until it says the rounds are over.
void follow_rounds(const options& o, std::vector<mpi_compare::row_setup>& setups,
                   const mpi_compare::whole_factors& w) {
  for (;;) {
    int next = kNoMoreCalls;
    need(MPI_Bcast(&next, 1, MPI_INT, 0, MPI_COMM_WORLD));
    if (next == kNoMoreCalls) {
      return;
    }
    mpi_compare::collective_call(o, setups[static_cast<size_t>(next)], w);
  }
}

// Every row measured in rounds; the rows, raw calls and busy line on rank 0.
measured measure(const options& o, bool root) {
  measured m;
  m.no_overlap = o.no_overlap;
  mpi_compare::whole_factors w;
  if (root) {
    w = mpi_compare::make_whole_factors(o);
  }
  std::vector<mpi_compare::row_setup> setups = mpi_compare::set_up_rows(o);
  m.rows = mpi_compare::rows_of(o, setups);
  MPI_Comm host = MPI_COMM_NULL;
  need(MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &host));
  tool_common::load_meter meter;
  meter.start(mpi_compare::host_cpu_seconds(host));
  if (root) {
    lead_rounds(o, setups, w, m);
  } else {
    follow_rounds(o, setups, w);
  }
  meter.stop(mpi_compare::host_cpu_seconds(host));
  MPI_Comm_free(&host);
  // After the rounds and outside the busy line's interval: never a timed call.
  if (!o.trace.empty() || !o.timeline.empty()) {
    std::vector<double> median_s;
    for (const auto& r : m.rows) {
      median_s.push_back(r.seconds.empty() ? 0.0 : tool_common::median(r.seconds));
    }
    m.traced = mpi_compare::trace_methods(o, setups, w, median_s);
  }
  mpi_compare::gather_traffic(setups, m.rows);
  for (auto& r : m.rows) {
    r.shape_rounds = m.rounds;
  }
  m.load = meter.load();
  mpi_compare::release(setups);
  mpi_compare::release(w);
  return m;
}

// Rank 0: the traced calls drawn by gnuplot as a PNG; empty when gnuplot failed.
std::string timeline_png(const measured& m, const std::string& gnuplot) {
  std::vector<double> median_s;
  for (const auto& r : m.rows) {
    median_s.push_back(r.median_s);
  }
  const std::string script = tool_common::timeline_script(
      mpi_compare::trace_products(m.traced, median_s),
      tool_common::picture_title(m.no_overlap ? "What each rank and thread did during one call "
                                                "of each method, overlap off (--no-overlap)"
                                              : "What each rank and thread did during one call "
                                                "of each method",
                                 tool_common::machine_label(), m.load));
  std::string png;
  return tool_common::run_gnuplot(gnuplot, script, &png) ? png : std::string();
}

// Rank 0: the header, the table and its notes, the wrong results, the files; the exit status.
int report(const options& o, int ranks, measured& m, outputs& out) {
  mpi_compare::derive(m.rows);
  std::printf(
      "mpi_compare: A %dx%d times B %dx%d, values 1..%d from seed %u, %d rank%s, median of %d "
      "round%s (every row once a round, in an order shuffled from seed %u)%s\n\n",
      o.rows, o.inner, o.inner, o.cols, o.limit, o.seed, ranks, ranks == 1 ? "" : "s", m.rounds,
      m.rounds == 1 ? "" : "s", o.seed,
      o.no_overlap ? "; overlap off: each rank waits where blocking calls would (--no-overlap)"
                   : "");
  std::fputs(mpi_compare::format_table(m.rows).c_str(), stdout);
  std::fputs(mpi_compare::table_notes(m.rows, m.load).c_str(), stdout);
  std::fflush(stdout);
  int status = 0;
  for (const auto& r : m.rows) {
    if (!r.identical) {
      std::fprintf(stderr,
                   "mpi_compare: %s on %d rank%s, %d thread%s each, differs from the team "
                   "kernel's product\n",
                   mpi_compare::methods()[static_cast<size_t>(r.m)].name, r.ranks,
                   r.ranks == 1 ? "" : "s", r.threads, r.threads == 1 ? "" : "s");
      status = kExitDiffers;
    }
  }
  const struct {
    const char* option;
    const std::string& path;
    tool_common::output_file& file;
    std::string text;
  } files[] = {{"--csv", o.csv, out.csv, out.csv.claimed() ? format_csv(m.rows, o, m.load) : ""},
               {"--raw", o.raw, out.raw, out.raw.claimed() ? format_raw(m.raw, m.rows) : ""},
               {"--trace", o.trace, out.trace,
                out.trace.claimed() ? mpi_compare::trace_json(m.traced, o) : ""},
               {"--timeline", o.timeline, out.timeline,
                out.timeline.claimed() ? timeline_png(m, out.gnuplot) : ""}};
  if (!o.timeline.empty() && out.gnuplot.empty()) {
    std::fprintf(stderr,
                 "mpi_compare: --timeline: gnuplot is not installed (Debian: apt-get install "
                 "gnuplot-nox); no picture written\n");
    status = status == 0 ? kExitWriteFailed : status;
  }
  for (const auto& f : files) {
    if (f.file.claimed() && (f.text.empty() || !f.file.commit(f.text))) {
      f.file.abandon();
      std::fprintf(stderr, "mpi_compare: %s: could not write '%s'\n", f.option, f.path.c_str());
      status = status == 0 ? kExitWriteFailed : status;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  need(MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN));
  const bool root = mpi_compare::world_rank() == 0;
  const auto parsed = mpi_compare::parse_options(argc, argv);
  outputs out;
  decision d;
  if (root) {
    // An interrupted run gives back what rank 0 claimed: a file it created is removed, an
    // existing one was never touched.
    tool_common::give_back_claims_on_signals(nullptr);
    d = decide(parsed, &out);
  }
  int verdict[3] = {d.status, d.print_help ? 1 : 0, d.print_version ? 1 : 0};
  need(MPI_Bcast(verdict, 3, MPI_INT, 0, MPI_COMM_WORLD));
  if (verdict[0] != 0 || verdict[1] != 0 || verdict[2] != 0) {
    if (root && verdict[0] != 0) {
      std::fprintf(stderr, "mpi_compare: %s\n", d.why.c_str());
    } else if (root) {
      print_help_or_version(d);
    }
    std::fflush(stdout);
    out.csv.abandon();
    out.raw.abandon();
    out.trace.abandon();
    out.timeline.abandon();
    MPI_Finalize();
    return verdict[0];
  }
  const options& o = parsed.opts;
  // Every rank read the same options, so every rank's products wait alike.
  mpi_detail::set_overlap(!o.no_overlap);
  measured m = measure(o, root);
  int status = root ? report(o, mpi_compare::world_size(), m, out) : 0;
  need(MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD));
  MPI_Finalize();
  return status;
}
