// compare_products: times every matrix product of libdense on the same factors and checks each
// result.
//
// main reads as its steps: read the options, check the inputs, claim the
// outputs (outputs.hpp), measure (run.cpp), report, and write the outputs.
// Everything the user can get wrong (options, files, sizes, output paths) is
// checked before the first matrix is allocated, so a refusal costs nothing,
// and it leaves every file and folder as it found them; --dry-run stops
// there. An interrupt (SIGINT, SIGTERM) ends the workers and undoes the
// claims. The library prints its own messages on stdout (mcomparar's
// verdict among them); those calls run with stdout pointed at a sink
// (tools/common/stdout_sink.hpp), so the table and the CSV hold only our lines.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include "added.hpp"
#include "matrix_file_check.hpp"
#include "options.hpp"
#include "outputs.hpp"
#include "peak_memory.hpp"
#include "report.hpp"
#include "run.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/gnuplot.hpp"
#include "tools/common/interrupts.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/memory.hpp"
#include "tools/common/outputs.hpp"
#include "tools/common/standard_descriptors.hpp"
#include "tools/common/stdout_sink.hpp"
#include "tools/common/text.hpp"
#include "worker.hpp"

namespace {

using compare_products::options;
using compare_products::run_result;

// Library stdout goes to a sink around every library call.
tool_common::stdout_sink g_sink;

// The products given with --add, each with its worker process (stopped at exit, see worker.hpp).
std::deque<compare_products::added_product> g_added;

// The places the run will write (outputs.hpp), claimed before it starts.
compare_products::run_outputs g_out;

// Whatever the run has claimed and not yet written goes back as it was.
void give_back_outputs() { g_out.give_back(); }

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
                   tool_common::one_line(said).c_str());
    }
  }
  give_back_outputs();
}

using tool_common::errno_text;
using tool_common::threads_text;

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
    refuse("--load: " + path + ": " + errno_text(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    refuse("--load: " + path + ": not a regular file");
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    refuse("--load: " + path + ": " + errno_text(errno));
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

void claim_outputs(const options& o) {
  const std::string why = g_out.claim(o);
  if (!why.empty()) {
    refuse(why);
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

void warn_if_busy(const run_result& run) {
  const tool_common::machine_load& l = run.load;
  if (tool_common::machine_was_busy(l)) {
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
  if (g_out.table() != nullptr) {
    errno = 0;
    print_table(o, run, g_out.table());
    written = std::fflush(g_out.table()) == 0 && std::ferror(g_out.table()) == 0;
    if (!written) {
      std::fprintf(stderr, "compare_products: could not write the table: %s\n",
                   errno != 0 ? errno_text(errno).c_str() : "write error");
    }
  }
  for (const auto& d : run.differences) {
    std::fprintf(stderr, "compare_products: %s\n", d.c_str());
  }
  warn_if_busy(run);
  return written;
}

// --help and --version answer at once; true when one was asked for.
bool answered_at_once(const options& o) {
  if (o.help) {
    std::fputs(compare_products::help_text().c_str(), stdout);
  } else if (o.version) {
    std::printf("compare_products %s\n", DENSE_VERSION);
  }
  return o.help || o.version;
}

// The rounds, over every shape.
void measure(const options& o, run_result& run) {
  const compare_products::run_context ctx{&g_sink, refuse, &g_added};
  compare_products::measure_all(o, ctx, !o.quiet && isatty(2) == 1, run);
}

}  // namespace

int main(int argc, char** argv) {
  tool_common::open_standard_descriptors();
  options o = read_options(argc, argv);
  if (answered_at_once(o)) {
    return tool_common::kExitOk;
  }
  std::atexit(at_exit);
  // An interrupt ends the workers, then gives back the claims (interrupts.hpp).
  tool_common::give_back_claims_on_signals(compare_products::kill_every_worker_at_signal);
  check_inputs(o);
  claim_outputs(o);
  if (o.dry_run) {
    // Every check a run makes has passed; nothing more is done or left behind.
    give_back_outputs();
    return tool_common::kExitOk;
  }
  run_result run;
  measure(o, run);
  int status = run.status;
  if (!report(o, run) && status == tool_common::kExitOk) {
    status = tool_common::kExitWriteFailed;
  }
  return g_out.write(o, run, status);
}
