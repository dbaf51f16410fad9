// compare_products: times every matrix product of libdense on the same factors and checks each
// result.
//
// main reads as its steps: check the inputs, open the outputs, then for each
// shape prepare the factors, choose the check and measure every method,
// report, and write the outputs. Everything the user can get wrong (options,
// files, sizes, output paths) is checked before the first matrix is
// allocated, so a refusal costs nothing and leaves no half-written files.
// The library prints its own messages on stdout (mcomparar's verdict among
// them); those calls run with stdout pointed at a scratch file, so the table
// and the CSV hold only our lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/matrix_records.hpp"
#include "compare_check.hpp"
#include "compare_factors.hpp"
#include "compare_measure.hpp"
#include "compare_memory.hpp"
#include "compare_methods.hpp"
#include "compare_options.hpp"
#include "compare_process.hpp"
#include "compare_report.hpp"
#include "matrix_file_check.hpp"
#include "stdout_sink.hpp"

namespace {

using compare_tool::options;
using compare_tool::row;
using dense_core::matriz;

constexpr int kExitDiffers = 1;
constexpr int kExitRefused = 2;
constexpr int kExitWriteFailed = 3;

[[noreturn]] void refuse(const std::string& why) {
  std::fprintf(stderr, "compare_products: %s\n", why.c_str());
  std::exit(kExitRefused);
}

// Library stdout goes to a scratch file around every library call. If the
// library ends the process in the middle (it does so when the heap runs
// out), the exit handler puts stdout back and passes on what it said, on
// stderr.
compare_tool::stdout_sink g_sink;

void sink_at_exit() {
  if (!g_sink.active()) {
    return;
  }
  const std::string said = g_sink.end();
  if (!said.empty()) {
    std::fprintf(stderr, "compare_products: the library stopped the run: %s\n",
                 compare_tool::one_line(said).c_str());
  }
}

std::string errno_text() { return std::strerror(errno); }

std::string threads_text(int32_t t) {
  return std::to_string(t) + (t == 1 ? " thread" : " threads");
}

// ---- Step 1: the command line and the inputs --------------------------------------------------

options read_options(int argc, char** argv) {
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  const auto parsed = compare_tool::parse_options(
      argc, argv, compare_tool::default_thread_counts(cpus > 0 ? static_cast<int32_t>(cpus) : 1));
  if (!parsed.error.empty()) {
    refuse(parsed.error);
  }
  return parsed.opts;
}

// Reads and checks one factor file; refuses with status 2 when it is not a matrix file.
compare_tool::matrix_file_shape check_factor_file(const std::string& path) {
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
  compare_tool::matrix_file_shape shape = compare_tool::check_matrix_file(f);
  std::fclose(f);
  if (!shape.error.empty()) {
    refuse("--load: " + path + ": not a matrix file (" + shape.error + ")");
  }
  return shape;
}

// Factor files well formed with shapes that multiply, and a run that fits in memory.
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
  const double available = static_cast<double>(compare_tool::available_bytes());
  if (available <= 0) {
    return;
  }
  const double gib = 1024.0 * 1024.0 * 1024.0;
  char why[256];
  for (bool with_threads : {false, true}) {
    const double need = compare_tool::peak_bytes(o, with_threads);
    if (need > available) {
      std::snprintf(why, sizeof why,
                    "%s: A %dx%d times B %dx%d%s needs about %.1f GiB of memory; this machine "
                    "has %.1f GiB available",
                    with_threads ? "--threads" : o.shape_option.c_str(), o.rows, o.inner, o.inner,
                    o.cols, with_threads ? " with one band per thread" : "", need / gib,
                    available / gib);
      refuse(why);
    }
  }
}

// ---- Step 2: the output places, opened now so that a bad path is refused before the work ------

struct outputs {
  FILE* csv = nullptr;  // stdout for --csv -
  std::string gnuplot;  // empty: no plot asked, or gnuplot missing
  int png_fd = -1;
  bool plot_missing = false;
  FILE* table = stdout;  // stderr when the CSV takes stdout; null with --quiet
};

outputs open_outputs(const options& o) {
  outputs out;
  if (!o.save_dir.empty() && !compare_tool::make_directory(o.save_dir)) {
    refuse("--save: cannot write into '" + o.save_dir + "': " + errno_text());
  }
  if (o.csv == "-") {
    out.csv = stdout;
    out.table = stderr;
  } else if (!o.csv.empty()) {
    out.csv = std::fopen(o.csv.c_str(), "w");
    if (out.csv == nullptr) {
      refuse("--csv: cannot write '" + o.csv + "': " + errno_text());
    }
  }
  if (o.quiet) {
    out.table = nullptr;
  }
  if (!o.plot.empty()) {
    out.gnuplot = compare_tool::find_on_path("gnuplot");
    if (out.gnuplot.empty()) {
      out.plot_missing = true;
    } else {
      out.png_fd = open(o.plot.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (out.png_fd < 0) {
        refuse("--plot: cannot write '" + o.plot + "': " + errno_text());
      }
    }
  }
  return out;
}

// ---- Step 3: the factors of one shape ---------------------------------------------------------

struct shape {
  int32_t rows;
  int32_t inner;
  int32_t cols;
};

std::vector<shape> shapes_of(const options& o) {
  if (o.sizes.empty()) {
    return {{o.rows, o.inner, o.cols}};
  }
  std::vector<shape> shapes;
  for (int32_t n : o.sizes) {
    shapes.push_back({n, n, n});
  }
  return shapes;
}

// Reads a checked matrix file through the library's readers.
matriz* read_factor_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    refuse("--load: " + path + ": " + errno_text());
  }
  int32_t lin = 0, col = 0, nlinhas = 0;
  int32_t* tabela = nullptr;
  g_sink.begin();
  textio::extrai_parametros_matriz(f, &lin, &col, &tabela, &nlinhas);
  matriz* m = dense_detail::new_zeroed_matrix(lin, col);
  if (m != nullptr) {
    textio::filein_matriz(m->mat, lin, col, f, tabela, nlinhas);
  }
  g_sink.end();
  std::free(tabela);
  std::fclose(f);
  // The memory check said it would fit; the heap disagreed.
  if (m == nullptr) {
    refuse("--load: " + path + ": not enough memory for its matrix");
  }
  return m;
}

matriz* random_factor(const options& o, int32_t rows, int32_t cols, uint64_t* seed_state) {
  matriz* m = dense_detail::new_zeroed_matrix(rows, cols);
  if (m == nullptr) {
    refuse(o.shape_option + ": not enough memory for a " + std::to_string(rows) + "x" +
           std::to_string(cols) + " factor");
  }
  if (o.seeded) {
    compare_tool::fill_seeded(m, o.limit, seed_state);
    return m;
  }
  g_sink.begin();
  dense_core::mgerar_aleatorio(m, o.limit);
  g_sink.end();
  return m;
}

struct factors {
  matriz* a = nullptr;
  matriz* b = nullptr;
};

factors prepare_factors(const options& o, const shape& s) {
  if (!o.load_a.empty()) {
    return {read_factor_file(o.load_a), read_factor_file(o.load_b)};
  }
  uint64_t state = o.seed;
  factors f{random_factor(o, s.rows, s.inner, &state), random_factor(o, s.inner, s.cols, &state)};
  if (!o.seeded) {
    compare_tool::reverse_rows(f.b);
  }
  return f;
}

// ---- Step 4: measuring every method on one shape ----------------------------------------------

void progress(bool show, const std::string& text) {
  if (!show) {
    return;
  }
  std::fprintf(stderr, "\r%-72.72s", text.c_str());
  std::fflush(stderr);
}

// What the run found, over every shape.
struct run_result {
  std::vector<row> rows;
  std::vector<std::string> differences;  // one line per method that gave a wrong result
  int exact_shapes = 0;                  // shapes checked against the exact reference
  int32_t largest_exact = 0;             // the largest such shape's rows, for the header line
  double reference_seconds = 0.0;        // the exact references' cost, all shapes together
  double plan_seconds = 0.0;             // Freivalds' preparation (a*(b*X)), all shapes together
  factors saved;                         // the last shape's factors, for --save
  matriz* saved_product = nullptr;       // the product --save writes as C.txt
  uint64_t check_seed = 0;               // Freivalds' vectors: --seed, else the clock
  int status = 0;
};

// In a sweep, a row stops repeating once its repetitions took this long in
// all: the slow loop nests at the largest sizes would otherwise take minutes.
constexpr double kSweepRowBudget = 1.0;

// In a sweep, a method whose one repetition at this size is predicted to take
// longer than this is skipped: the loop nests slow down faster than n^3 past
// the caches (tipo5 takes minutes at 2048), and the sweep is meant to show
// the trend in about a minute.
constexpr double kSweepRowLimit = 2.0;

// The fastest result that passed, kept for --save when no exact reference exists.
struct fastest_result {
  matriz* product = nullptr;
  double seconds = 0.0;
  bool offer(matriz* m, double s) {
    if (product != nullptr && s >= seconds) {
      return false;
    }
    dense_detail::release_matrix(product);
    product = m;
    seconds = s;
    return true;
  }
};

void measure_shape(const options& o, const shape& s, bool last, bool show_progress,
                   run_result& run) {
  progress(show_progress, "preparing the factors ...");
  factors f = prepare_factors(o, s);

  matriz* reference = nullptr;
  std::unique_ptr<compare_tool::freivalds_plan> plan;
  compare_tool::result_check check;
  if (compare_tool::uses_exact_reference(o.verify, s.rows, s.inner, s.cols)) {
    progress(show_progress, "computing the reference product ...");
    g_sink.begin();
    const double start = textio::wtime();
    reference = dense_arith::mmultiplicar(f.a, f.b, 1);
    run.reference_seconds += textio::wtime() - start;
    g_sink.end();
    if (reference == nullptr) {
      std::fprintf(stderr, "compare_products: the sequential product gave no result\n");
      std::exit(kExitDiffers);
    }
    check = compare_tool::exact_check(reference, g_sink);
    ++run.exact_shapes;
    run.largest_exact = s.rows;
  } else {
    progress(show_progress, "preparing Freivalds' test ...");
    const double start = textio::wtime();
    plan = std::make_unique<compare_tool::freivalds_plan>(f.a, f.b, run.check_seed);
    run.plan_seconds += textio::wtime() - start;
    check = compare_tool::freivalds_result_check(*plan);
  }

  fastest_result fastest;
  const bool keep_fastest = last && reference == nullptr && !o.save_dir.empty();
  for (const compare_tool::product_method* m : o.methods) {
    for (int32_t t : compare_tool::measured_thread_counts(*m, o.threads)) {
      std::string skipped = compare_tool::skip_reason(*m, s.inner, t);
      if (skipped.empty() && !o.sizes.empty()) {
        skipped = compare_tool::sweep_skip_reason(run.rows, m, t, s.rows, s.inner, s.cols,
                                                  kSweepRowLimit);
      }
      if (!skipped.empty()) {
        row r;
        r.method = m;
        r.threads = t;
        r.rows = s.rows;
        r.inner = s.inner;
        r.cols = s.cols;
        r.skipped = skipped;
        run.rows.push_back(r);
        continue;
      }
      const std::string label = std::string(m->name) + ", " + threads_text(t) + ", repetition ";
      std::string verdict;
      run.rows.push_back(compare_tool::measure(
          m, t, o.repeat, f.a, f.b, check, m->run, g_sink,
          [&](int32_t rep) {
            progress(show_progress,
                     label + std::to_string(rep + 1) + " of " + std::to_string(o.repeat));
          },
          &verdict,
          keep_fastest ? compare_tool::result_keeper(
                             [&fastest](matriz* c, double secs) { return fastest.offer(c, secs); })
                       : nullptr,
          o.sizes.empty() ? 0.0 : kSweepRowBudget));
      if (!verdict.empty()) {
        run.differences.push_back(std::string(m->name) + " (" + m->what + ") on " +
                                  threads_text(t) + " " + verdict);
      }
    }
  }

  if (last) {
    run.saved = f;
    run.saved_product = reference != nullptr ? reference : fastest.product;
    return;
  }
  dense_detail::release_matrix(reference);
  dense_detail::release_matrix(f.a);
  dense_detail::release_matrix(f.b);
}

run_result measure_all(const options& o) {
  const bool show_progress = !o.quiet && isatty(2) == 1;
  run_result run;
  run.check_seed = o.seeded ? o.seed : static_cast<uint64_t>(textio::wtime() * 1e6);
  const auto shapes = shapes_of(o);
  for (size_t i = 0; i < shapes.size(); ++i) {
    measure_shape(o, shapes[i], i + 1 == shapes.size(), show_progress, run);
  }
  progress(show_progress, "");
  if (show_progress) {
    std::fputs("\r", stderr);
  }
  compare_tool::derive(run.rows);
  run.status = run.differences.empty() ? 0 : kExitDiffers;
  return run;
}

// ---- Step 5: the report -----------------------------------------------------------------------

// How the results were checked, for the header line.
std::string check_text(const options& o, const run_result& run) {
  char reference[160];
  std::snprintf(reference, sizeof reference,
                "checked against mmultiplicar tipo 1 (reference %.6f s)", run.reference_seconds);
  const int shapes = static_cast<int>(shapes_of(o).size());
  if (run.exact_shapes == shapes) {
    return reference;
  }
  char prepared[120];
  std::snprintf(prepared, sizeof prepared, " (%d random vectors, prepared in %.6f s)",
                compare_tool::kFreivaldsRounds, run.plan_seconds);
  std::string freivalds = std::string("checked with Freivalds' test") + prepared;
  if (run.exact_shapes == 0) {
    return freivalds;
  }
  return std::string(reference) + " up to n = " + std::to_string(run.largest_exact) + ", " +
         freivalds + " above";
}

void report(const options& o, const outputs& out, const run_result& run) {
  if (out.table != nullptr) {
    FILE* t = out.table;
    if (o.sizes.empty()) {
      std::fprintf(t, "compare_products: A %dx%d times B %dx%d, ", o.rows, o.inner, o.inner,
                   o.cols);
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
    std::fprintf(t, ", median of %s%d repetition%s, %s\n\n", o.sizes.empty() ? "" : "up to ",
                 o.repeat, o.repeat == 1 ? "" : "s", check_text(o, run).c_str());
    std::fputs(compare_tool::format_table(run.rows, !o.sizes.empty()).c_str(), t);
    for (const auto& r : run.rows) {
      if (r.skipped.empty()) {
        continue;
      }
      std::fprintf(t, "%s on %s skipped", r.method->name, threads_text(r.threads).c_str());
      if (!o.sizes.empty()) {
        std::fprintf(t, " at n = %d", r.rows);
      }
      std::fprintf(t, ": %s\n", r.skipped.c_str());
    }
    std::fflush(t);
  }
  for (const auto& d : run.differences) {
    std::fprintf(stderr, "compare_products: %s\n", d.c_str());
  }
}

// ---- Step 6: the output files -----------------------------------------------------------------

bool write_matrix(const std::string& path, const matriz* m) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    return false;
  }
  textio::fileout_matriz(m, f);
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

// The plot, or one line saying why there is none. False when gnuplot failed.
bool write_plot(const options& o, const outputs& out, const run_result& run) {
  if (out.plot_missing) {
    std::fprintf(stderr,
                 "compare_products: --plot: gnuplot is not installed (Debian: apt-get install "
                 "gnuplot-nox); no plot written\n");
    return true;
  }
  if (out.png_fd < 0) {
    return true;
  }
  if (!compare_tool::has_rate(run.rows)) {
    close(out.png_fd);
    unlink(o.plot.c_str());
    std::fprintf(stderr,
                 "compare_products: --plot: no row has a measured rate (every row skipped or "
                 "faster than the clock); no plot written\n");
    return true;
  }
  const bool drawn =
      compare_tool::run_gnuplot(out.gnuplot, compare_tool::gnuplot_script(run.rows, o), out.png_fd);
  close(out.png_fd);
  if (!drawn) {
    unlink(o.plot.c_str());
    std::fprintf(stderr, "compare_products: --plot: gnuplot could not draw '%s'\n", o.plot.c_str());
  }
  return drawn;
}

int write_outputs(const options& o, const outputs& out, const run_result& run) {
  int status = run.status;
  auto failed = [&status] { status = status == 0 ? kExitWriteFailed : status; };
  if (out.csv != nullptr) {
    const std::string text = compare_tool::format_csv(run.rows, o);
    std::fwrite(text.data(), 1, text.size(), out.csv);
    const bool written = std::fflush(out.csv) == 0 && std::ferror(out.csv) == 0;
    if (!(out.csv == stdout ? written : std::fclose(out.csv) == 0 && written)) {
      std::fprintf(stderr, "compare_products: --csv: could not write '%s'\n", o.csv.c_str());
      failed();
    }
  }
  if (!o.save_dir.empty()) {
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
  if (!write_plot(o, out, run)) {
    failed();
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  compare_tool::open_standard_descriptors();
  options o = read_options(argc, argv);
  if (o.help) {
    std::fputs(compare_tool::help_text().c_str(), stdout);
    return 0;
  }
  if (o.version) {
    std::printf("compare_products %s\n", DENSE_VERSION);
    return 0;
  }
  check_inputs(o);
  const outputs out = open_outputs(o);
  std::atexit(sink_at_exit);
  run_result run = measure_all(o);
  report(o, out, run);
  const int status = write_outputs(o, out, run);
  dense_detail::release_matrix(run.saved_product);
  dense_detail::release_matrix(run.saved.a);
  dense_detail::release_matrix(run.saved.b);
  return status;
}
