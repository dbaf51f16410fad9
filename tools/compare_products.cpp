// compare_products: times every matrix product of libdense on the same factors and checks each
// result.
//
// Everything the user can get wrong (options, files, sizes, output paths) is
// checked before the first matrix is allocated, so a refusal costs nothing
// and leaves no half-written files. The library prints its own messages on
// stdout (mcomparar's verdict among them); those calls run with stdout
// pointed at a scratch file, so the table and the CSV hold only our lines.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "compare_measure.hpp"
#include "compare_methods.hpp"
#include "compare_options.hpp"
#include "compare_report.hpp"
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include "matrix_file_check.hpp"
#include "stdout_sink.hpp"
#include <dense/textio.hpp>

extern char** environ;

namespace {

using compare_tool::options;
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
  matriz* m = compare_tool::new_zero_matrix(lin, col);
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

matriz* random_factor(const options& o, int32_t rows, int32_t cols) {
  matriz* m = compare_tool::new_zero_matrix(rows, cols);
  if (m == nullptr) {
    refuse(o.shape_option + ": not enough memory for a " + std::to_string(rows) + "x" +
           std::to_string(cols) + " factor");
  }
  g_sink.begin();
  dense_core::mgerar_aleatorio(m, o.limit);
  g_sink.end();
  return m;
}

// mgerar_aleatorio reseeds from the clock on every call, so two square
// factors filled within one second come out equal, and a method that swapped
// its operands would still match the reference. Taking B's rows in reverse
// order (the row table is just pointers) makes the factors differ.
void reverse_rows(matriz* m) {
  for (int32_t i = 0, j = m->lin - 1; i < j; ++i, --j) {
    std::swap(m->mat[i], m->mat[j]);
  }
}

// mkdir -p: true when `dir` exists as a directory we can write into.
bool make_directory(const std::string& dir) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at == dir.size() || dir[at] == '/') {
      const std::string part = dir.substr(0, at);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return access(dir.c_str(), W_OK | X_OK) == 0;
}

// The full path of `program` on PATH, or empty.
std::string find_on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const size_t length = (end == std::string::npos ? dirs.size() : end) - start;
    // An empty entry means the current directory.
    std::string candidate = length == 0 ? std::string(".") : dirs.substr(start, length);
    candidate.append("/").append(program);
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (end == std::string::npos) {
      return {};
    }
    start = end + 1;
  }
}

// Runs gnuplot on `script` with its standard output on `png_fd`. True on success.
bool run_gnuplot(const std::string& gnuplot, const std::string& script, int png_fd) {
  FILE* in = std::tmpfile();
  if (in == nullptr) {
    return false;
  }
  std::fwrite(script.data(), 1, script.size(), in);
  std::fflush(in);
  std::rewind(in);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(in), 0);
  posix_spawn_file_actions_adddup2(&actions, png_fd, 1);
  char arg0[] = "gnuplot";
  char* argv[] = {arg0, nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, gnuplot.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  std::fclose(in);
  if (rc != 0) {
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool write_matrix(const std::string& path, const matriz* m) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    return false;
  }
  textio::fileout_matriz(m, f);
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

void progress(bool show, const std::string& text) {
  if (!show) {
    return;
  }
  std::fprintf(stderr, "\r%-72.72s", text.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  const auto parsed = compare_tool::parse_options(
      argc, argv, compare_tool::default_thread_counts(cpus > 0 ? static_cast<int32_t>(cpus) : 1));
  if (!parsed.error.empty()) {
    refuse(parsed.error);
  }
  options o = parsed.opts;
  if (o.help) {
    std::fputs(compare_tool::help_text().c_str(), stdout);
    return 0;
  }

  // Factor files: well formed, and shapes that multiply.
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

  // Memory: the size alone, then with the band products' per-thread parts.
  const double available = static_cast<double>(compare_tool::available_bytes());
  if (available > 0) {
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

  // Output places, so that a bad path is refused now and not after the work.
  if (!o.save_dir.empty() && !make_directory(o.save_dir)) {
    refuse("--save: cannot write into '" + o.save_dir + "': " + errno_text());
  }
  FILE* csv = nullptr;
  if (!o.csv.empty()) {
    csv = std::fopen(o.csv.c_str(), "w");
    if (csv == nullptr) {
      refuse("--csv: cannot write '" + o.csv + "': " + errno_text());
    }
  }
  std::string gnuplot;
  int png_fd = -1;
  bool plot_missing = false;
  if (!o.plot.empty()) {
    gnuplot = find_on_path("gnuplot");
    if (gnuplot.empty()) {
      plot_missing = true;
    } else {
      png_fd = open(o.plot.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (png_fd < 0) {
        refuse("--plot: cannot write '" + o.plot + "': " + errno_text());
      }
    }
  }

  std::atexit(sink_at_exit);
  const bool show_progress = !o.quiet && isatty(2) == 1;

  progress(show_progress, "preparing the factors ...");
  matriz* a = nullptr;
  matriz* b = nullptr;
  if (!o.load_a.empty()) {
    a = read_factor_file(o.load_a);
    b = read_factor_file(o.load_b);
  } else {
    a = random_factor(o, o.rows, o.inner);
    b = random_factor(o, o.inner, o.cols);
    reverse_rows(b);
  }
  progress(show_progress, "computing the reference product ...");
  g_sink.begin();
  matriz* reference = dense_arith::mmultiplicar(a, b, 1);
  g_sink.end();
  if (reference == nullptr) {
    std::fprintf(stderr, "compare_products: the sequential product gave no result\n");
    return kExitDiffers;
  }

  std::vector<compare_tool::row> rows;
  std::vector<std::string> differences;
  for (int id : o.method_ids) {
    const auto& m = compare_tool::methods()[static_cast<size_t>(id)];
    for (int32_t t : compare_tool::measured_thread_counts(id, o.threads)) {
      const std::string skipped = compare_tool::skip_reason(id, o.inner, t);
      if (!skipped.empty()) {
        compare_tool::row r;
        r.method = id;
        r.threads = t;
        r.skipped = skipped;
        rows.push_back(r);
        continue;
      }
      const std::string label = std::string(m.name) + ", " + std::to_string(t) +
                                (t == 1 ? " thread" : " threads") + ", repetition ";
      std::string verdict;
      compare_tool::row r = compare_tool::measure(
          id, t, o.repeat, a, b, reference,
          [id](const matriz* x, const matriz* y, int32_t n) {
            return compare_tool::run_method(id, x, y, n);
          },
          g_sink,
          [&](int32_t rep) {
            progress(show_progress,
                     label + std::to_string(rep + 1) + " of " + std::to_string(o.repeat));
          },
          &verdict);
      if (!verdict.empty()) {
        differences.push_back(std::string(m.name) + " (" + m.what + ") on " + std::to_string(t) +
                              (t == 1 ? " thread " : " threads ") + verdict);
      }
      rows.push_back(r);
    }
  }
  progress(show_progress, "");
  if (show_progress) {
    std::fputs("\r", stderr);
  }

  compare_tool::derive(rows, o);
  if (!o.quiet) {
    std::printf("compare_products: A %dx%d times B %dx%d, ", o.rows, o.inner, o.inner, o.cols);
    if (o.load_a.empty()) {
      std::printf("random values 1..%d", o.limit);
    } else {
      std::printf("factors from %s and %s", o.load_a.c_str(), o.load_b.c_str());
    }
    std::printf(", median of %d repetition%s\n\n", o.repeat, o.repeat == 1 ? "" : "s");
    std::fputs(compare_tool::format_table(rows).c_str(), stdout);
    for (const auto& r : rows) {
      if (!r.skipped.empty()) {
        std::printf("%s on %d threads skipped: %s\n",
                    compare_tool::methods()[static_cast<size_t>(r.method)].name, r.threads,
                    r.skipped.c_str());
      }
    }
    std::fflush(stdout);
  }

  int status = differences.empty() ? 0 : kExitDiffers;
  for (const auto& d : differences) {
    std::fprintf(stderr, "compare_products: %s\n", d.c_str());
  }

  if (csv != nullptr) {
    const std::string text = compare_tool::format_csv(rows, o);
    std::fwrite(text.data(), 1, text.size(), csv);
    if (std::ferror(csv) != 0 || std::fclose(csv) != 0) {
      std::fprintf(stderr, "compare_products: --csv: could not write '%s'\n", o.csv.c_str());
      status = status == 0 ? kExitWriteFailed : status;
    }
  }
  if (!o.save_dir.empty()) {
    for (const auto& [name, m] :
         {std::pair<const char*, const matriz*>{"A.txt", a}, {"B.txt", b}, {"C.txt", reference}}) {
      const std::string path = o.save_dir + "/" + name;
      if (!write_matrix(path, m)) {
        std::fprintf(stderr, "compare_products: --save: could not write '%s'\n", path.c_str());
        status = status == 0 ? kExitWriteFailed : status;
      }
    }
  }
  if (plot_missing) {
    std::fprintf(stderr,
                 "compare_products: --plot: gnuplot is not installed (Debian: apt-get install "
                 "gnuplot-nox); no plot written\n");
  } else if (png_fd >= 0) {
    const bool drawn = run_gnuplot(gnuplot, compare_tool::gnuplot_script(rows, o), png_fd);
    close(png_fd);
    if (!drawn) {
      unlink(o.plot.c_str());
      std::fprintf(stderr, "compare_products: --plot: gnuplot could not draw '%s'\n",
                   o.plot.c_str());
      status = status == 0 ? kExitWriteFailed : status;
    }
  }

  compare_tool::release_matrix(reference);
  compare_tool::release_matrix(a);
  compare_tool::release_matrix(b);
  return status;
}
