// compare_products: times every matrix product of libdense on the same factors and checks each
// result.
//
// main reads as its steps: check the inputs, claim the outputs, measure
// (run.cpp), report, and write the outputs. Everything the user can get
// wrong (options, files, sizes, output paths) is checked before the first
// matrix is allocated, so a refusal costs nothing, and it leaves every file
// and folder as it found them. The library prints its own messages on stdout
// (mcomparar's verdict among them); those calls run with stdout pointed at a
// scratch file, so the table and the CSV hold only our lines.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/textio.hpp>
#include <deque>
#include <functional>
#include <string>
#include <utility>

#include "added.hpp"
#include "matrix_file_check.hpp"
#include "options.hpp"
#include "outputs.hpp"
#include "peak_memory.hpp"
#include "plot.hpp"
#include "process.hpp"
#include "report.hpp"
#include "run.hpp"
#include "stdout_sink.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/memory.hpp"
#include "worker.hpp"

namespace {

using compare_products::options;
using compare_products::run_result;
using dense_core::matriz;

// Library stdout goes to a scratch file around every library call.
compare_products::stdout_sink g_sink;

// The products given with --add, each with its worker process (stopped at exit, see worker.hpp).
std::deque<compare_products::added_product> g_added;

// The places the run will write, claimed before it starts.
struct outputs {
  compare_products::output_file csv;
  compare_products::output_file raw;
  compare_products::output_file trace;
  compare_products::output_file timeline;
  compare_products::output_file plot;
  compare_products::output_folder save;
  std::string gnuplot;   // empty: no plot asked, or gnuplot missing
  FILE* table = stdout;  // stderr when the CSV takes stdout; null with --quiet
};
outputs g_out;

// Whatever the run has claimed and not yet written goes back as it was.
void give_back_outputs() {
  g_out.csv.abandon();
  g_out.raw.abandon();
  g_out.trace.abandon();
  g_out.timeline.abandon();
  g_out.plot.abandon();
  g_out.save.abandon();
}

[[noreturn]] void refuse(const std::string& why) {
  give_back_outputs();
  std::fprintf(stderr, "compare_products: %s\n", why.c_str());
  std::exit(tool_common::kExitRefused);
}

// If the library ends the process in the middle (it does so when the heap
// runs out), stdout is put back, what the library said is passed on, on
// stderr, and the outputs claimed for the run are given back.
void at_exit() {
  if (g_sink.active()) {
    const std::string said = g_sink.end();
    if (!said.empty()) {
      std::fprintf(stderr, "compare_products: the library stopped the run: %s\n",
                   compare_products::one_line(said).c_str());
    }
  }
  give_back_outputs();
}

std::string errno_text() { return std::strerror(errno); }

std::string threads_text(int32_t t) {
  return std::to_string(t) + (t == 1 ? " thread" : " threads");
}

// ---- Step 1: the command line and the inputs --------------------------------------------------

options read_options(int argc, char** argv) {
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  auto parsed = compare_products::parse_options(
      argc, argv,
      compare_products::default_thread_counts(cpus > 0 ? static_cast<int32_t>(cpus) : 1));
  if (!parsed.error.empty()) {
    refuse(parsed.error);
  }
  return std::move(parsed.opts);
}

// Reads and checks one factor file; refuses with status 2 when it is not a matrix file.
compare_products::matrix_file_shape check_factor_file(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    refuse("--load: " + path + ": " + errno_text());
  }
  if (!S_ISREG(st.st_mode)) {
    refuse("--load: " + path + ": not a regular file");
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    refuse("--load: " + path + ": " + errno_text());
  }
  compare_products::matrix_file_shape shape = compare_products::check_matrix_file(f);
  std::fclose(f);
  if (!shape.error.empty()) {
    refuse("--load: " + path + ": not a matrix file (" + shape.error + ")");
  }
  return shape;
}

// Each added product loaded in a worker of its own: a file that cannot be
// opened or has no such symbol is refused before any work. Loading runs the
// library's constructors, which is why it happens there and not here.
void load_added_products(const options& o) {
  const std::string program = compare_products::default_worker_program();
  for (const auto& given : o.added) {
    g_added.emplace_back(given, program, o.timeout);
    const std::string why = g_added.back().load();
    if (!why.empty()) {
      refuse(why);
    }
  }
}

// Factor files well formed with shapes that multiply, a run that fits in
// memory, and the added products ready.
void check_inputs(options& o) {
  if (!o.load_a.empty()) {
    const auto a = check_factor_file(o.load_a);
    const auto b = check_factor_file(o.load_b);
    if (a.cols != b.rows) {
      refuse("--load: " + o.load_a + " is " + std::to_string(a.rows) + "x" +
             std::to_string(a.cols) + " and " + o.load_b + " is " + std::to_string(b.rows) + "x" +
             std::to_string(b.cols) +
             "; the columns of the first must equal the rows of the second");
    }
    o.rows = a.rows;
    o.inner = a.cols;
    o.cols = b.cols;
  }
  // The size alone, then with the band products' per-thread parts.
  const auto available = static_cast<double>(tool_common::available_bytes());
  for (bool with_threads : {false, true}) {
    const std::string why =
        tool_common::memory_refusal(with_threads ? "--threads" : o.shape_option, o.rows, o.inner,
                                    o.cols, with_threads ? " with one band per thread" : "",
                                    compare_products::peak_bytes(o, with_threads), available);
    if (!why.empty()) {
      refuse(why);
    }
  }
  load_added_products(o);
}

// ---- Step 2: the output places, claimed now so that a bad path is refused before the work -----

// Claims `path` for the output `option` names, or refuses; nothing for an empty path.
void claim(const char* option, const std::string& path, compare_products::output_file* file) {
  if (path.empty()) {
    return;
  }
  const std::string why = file->claim(path, false);
  if (!why.empty()) {
    refuse(std::string(option) + ": cannot write '" + path + "': " + why);
  }
}

void claim_outputs(const options& o) {
  if (!o.save_dir.empty() && !g_out.save.claim(o.save_dir)) {
    refuse("--save: cannot write into '" + o.save_dir + "': " + errno_text());
  }
  if (!o.csv.empty()) {
    const std::string why = g_out.csv.claim(o.csv, true);
    if (!why.empty()) {
      refuse("--csv: cannot write '" + o.csv + "': " + why);
    }
    if (g_out.csv.is_stdout()) {
      g_out.table = stderr;
    }
  }
  if (!o.raw.empty()) {
    const std::string why = g_out.raw.claim(o.raw, true);
    if (!why.empty()) {
      refuse("--raw: cannot write '" + o.raw + "': " + why);
    }
    if (g_out.raw.is_stdout()) {
      g_out.table = stderr;
    }
  }
  if (o.quiet) {
    g_out.table = nullptr;
  }
  claim("--trace", o.trace, &g_out.trace);
  if (!o.plot.empty() || !o.timeline.empty()) {
    g_out.gnuplot = compare_products::find_on_path("gnuplot");
  }
  // Without gnuplot there is no picture to write: the run says so at the end.
  if (!g_out.gnuplot.empty()) {
    claim("--plot", o.plot, &g_out.plot);
    claim("--timeline", o.timeline, &g_out.timeline);
  }
}

// ---- Step 3: the report -----------------------------------------------------------------------

void print_table(const options& o, const run_result& run, FILE* t) {
  if (o.sizes.empty()) {
    std::fprintf(t, "compare_products: A %dx%d times B %dx%d, ", o.rows, o.inner, o.inner, o.cols);
  } else {
    std::string list;
    for (int32_t n : o.sizes) {
      list += (list.empty() ? "" : ", ") + std::to_string(n);
    }
    std::fprintf(t, "compare_products: A and B n x n for n = %s, ", list.c_str());
  }
  if (!o.load_a.empty()) {
    std::fprintf(t, "factors from %s and %s", o.load_a.c_str(), o.load_b.c_str());
  } else if (o.seeded) {
    std::fprintf(t, "random values 1..%d from seed %u", o.limit, o.seed);
  } else {
    std::fprintf(t, "random values 1..%d", o.limit);
  }
  std::string rounds = std::to_string(run.fewest_rounds);
  if (run.most_rounds != run.fewest_rounds) {
    rounds += "\xe2\x80\x93" + std::to_string(run.most_rounds);
  }
  std::fprintf(t,
               ", median of %s round%s (every row once a round, in an order shuffled from seed "
               "%llu), %s\n\n",
               rounds.c_str(), run.most_rounds == 1 ? "" : "s",
               static_cast<unsigned long long>(run.order_seed),
               compare_products::check_text(o, run).c_str());
  std::fputs(compare_products::format_table(run.rows, !o.sizes.empty()).c_str(), t);
  for (const auto& r : run.rows) {
    if (r.skipped.empty()) {
      continue;
    }
    std::fprintf(t, "%s on %s skipped", r.method->name, threads_text(r.threads).c_str());
    if (!o.sizes.empty()) {
      std::fprintf(t, " at n = %d", r.size.rows);
    }
    std::fprintf(t, ": %s\n", r.skipped.c_str());
  }
  std::fputs(compare_products::table_notes(run.rows, run.load).c_str(), t);
}

// Other programs above this share of the machine's CPU time, or the
// hypervisor above this, and a second thread had no core of its own.
constexpr double kBusyOthersPercent = 10.0;
constexpr double kBusyStealPercent = 5.0;

void warn_if_busy(const run_result& run) {
  const tool_common::machine_load& l = run.load;
  if (l.known && (l.others_percent > kBusyOthersPercent || l.steal_percent > kBusyStealPercent)) {
    std::fprintf(stderr,
                 "compare_products: the machine was busy: other programs used %.0f%% of its CPU "
                 "time and the hypervisor took %.0f%% while the rounds ran, so speedups over one "
                 "thread are not reliable in this run\n",
                 l.others_percent, l.steal_percent);
  }
}

// The table and the wrong results; false when the table could not be written.
bool report(const options& o, const run_result& run) {
  bool written = true;
  if (g_out.table != nullptr) {
    errno = 0;
    print_table(o, run, g_out.table);
    written = std::fflush(g_out.table) == 0 && std::ferror(g_out.table) == 0;
    if (!written) {
      std::fprintf(stderr, "compare_products: could not write the table: %s\n",
                   errno != 0 ? errno_text().c_str() : "write error");
    }
  }
  for (const auto& d : run.differences) {
    std::fprintf(stderr, "compare_products: %s\n", d.c_str());
  }
  warn_if_busy(run);
  return written;
}

// ---- Step 4: the output files -----------------------------------------------------------------

bool write_matrix(const std::string& path, const matriz* m) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    return false;
  }
  textio::fileout_matriz(m, f);
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

// A picture drawn by gnuplot into `file`, claimed for `option` at `path`, or
// one line saying why there is none: `empty_why` when there is nothing to
// draw. False when it should have been drawn and was not.
bool draw(const char* option, const std::string& path, compare_products::output_file& file,
          const char* empty_why, const std::function<std::string()>& script) {
  if (path.empty()) {
    return true;
  }
  if (g_out.gnuplot.empty()) {
    std::fprintf(stderr,
                 "compare_products: %s: gnuplot is not installed (Debian: apt-get install "
                 "gnuplot-nox); no picture written\n",
                 option);
    return true;
  }
  if (empty_why != nullptr) {
    file.abandon();
    std::fprintf(stderr, "compare_products: %s: %s; no picture written\n", option, empty_why);
    return true;
  }
  std::string png;
  if (!compare_products::run_gnuplot(g_out.gnuplot, script(), &png)) {
    file.abandon();
    std::fprintf(stderr, "compare_products: %s: gnuplot could not draw '%s'\n", option,
                 path.c_str());
    return false;
  }
  if (!file.commit(png)) {
    std::fprintf(stderr, "compare_products: %s: could not write '%s'\n", option, path.c_str());
    return false;
  }
  return true;
}

bool write_plot(const options& o, const run_result& run) {
  return draw(
      "--plot", o.plot, g_out.plot,
      compare_products::has_rate(run.rows)
          ? nullptr
          : "no row has a measured rate (every row skipped or faster than the clock)",
      [&] { return compare_products::gnuplot_script(run.rows, o, tool_common::machine_label()); });
}

bool write_timeline(const options& o, const run_result& run) {
  return draw("--timeline", o.timeline, g_out.timeline,
              run.traced.empty() ? "no threaded row ran" : nullptr, [&] {
                return compare_products::timeline_script(run.traced, tool_common::machine_label());
              });
}

int write_outputs(const options& o, const run_result& run, int status) {
  auto failed = [&status] {
    status = status == tool_common::kExitOk ? tool_common::kExitWriteFailed : status;
  };
  if (g_out.csv.claimed() &&
      !g_out.csv.commit(compare_products::format_csv(run.rows, o, run.load))) {
    std::fprintf(stderr, "compare_products: --csv: could not write '%s'\n", o.csv.c_str());
    failed();
  }
  if (g_out.raw.claimed() && !g_out.raw.commit(compare_products::format_raw(run.raw, run.rows))) {
    std::fprintf(stderr, "compare_products: --raw: could not write '%s'\n", o.raw.c_str());
    failed();
  }
  if (!o.save_dir.empty()) {
    g_out.save.keep();
    const std::pair<const char*, const matriz*> files[] = {
        {"A.txt", run.saved.a}, {"B.txt", run.saved.b}, {"C.txt", run.saved_product}};
    for (const auto& [name, m] : files) {
      const std::string path = o.save_dir + "/" + name;
      if (m == nullptr) {
        std::fprintf(stderr, "compare_products: --save: no verified product to write as '%s'\n",
                     path.c_str());
        failed();
      } else if (!write_matrix(path, m)) {
        std::fprintf(stderr, "compare_products: --save: could not write '%s'\n", path.c_str());
        failed();
      }
    }
  }
  if (!write_plot(o, run)) {
    failed();
  }
  if (g_out.trace.claimed() &&
      !g_out.trace.commit(compare_products::chrome_trace_json(run.traced))) {
    std::fprintf(stderr, "compare_products: --trace: could not write '%s'\n", o.trace.c_str());
    failed();
  }
  if (!write_timeline(o, run)) {
    failed();
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  compare_products::open_standard_descriptors();
  options o = read_options(argc, argv);
  if (o.help) {
    std::fputs(compare_products::help_text().c_str(), stdout);
    return tool_common::kExitOk;
  }
  if (o.version) {
    std::printf("compare_products %s\n", DENSE_VERSION);
    return tool_common::kExitOk;
  }
  check_inputs(o);
  std::atexit(at_exit);
  claim_outputs(o);
  run_result run;
  const compare_products::run_context ctx{&g_sink, refuse, &g_added};
  compare_products::measure_all(o, ctx, !o.quiet && isatty(2) == 1, run);
  int status = run.status;
  if (!report(o, run) && status == tool_common::kExitOk) {
    status = tool_common::kExitWriteFailed;
  }
  return write_outputs(o, run, status);
}
