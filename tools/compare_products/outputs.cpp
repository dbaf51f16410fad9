// compare_products' table of outputs: what each writes, claimed and committed in one loop.
#include "outputs.hpp"

#include <cerrno>
#include <dense/textio.hpp>
#include <functional>
#include <iterator>
#include <utility>

#include "plot.hpp"
#include "report.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/gnuplot.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/outputs.hpp"
#include "tools/common/text.hpp"
#include "tools/common/timeline.hpp"

namespace compare_products {
namespace {

using dense_core::matriz;

// What one output writes once the run is over: its contents through `write`,
// or, when `write` is empty, the line that says why there is none.
struct output_text {
  std::function<bool(FILE*)> write;
  std::string why_none;
  bool failed = false;  // could not be made (gnuplot failed): a failed write
};

// One output of the run: the option that asks for it, where it goes, and its contents.
struct output_entry {
  const char* option;
  std::string (*path)(const options& o);  // empty: not asked for
  bool dash_is_stdout;
  bool drawn;  // a picture by gnuplot: claimed only when gnuplot is there
  output_text (*make)(const options& o, const run_result& run, const std::string& gnuplot);
};

output_text text_of(std::string bytes) {
  return {[bytes = std::move(bytes)](FILE* f) {
            return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
          },
          {}};
}

std::string save_path(const options& o, const char* name) {
  return o.save_dir.empty() ? std::string() : o.save_dir + "/" + name;
}

// --save's file `name`, the matrix text of `m`.
output_text matrix_text(const matriz* m, const options& o, const char* name) {
  if (m == nullptr) {
    return {{}, "no verified product to write as '" + save_path(o, name) + "'", true};
  }
  return {[m](FILE* f) {
            textio::fileout_matriz(m, f);
            return std::ferror(f) == 0;
          },
          {}};
}

// A picture drawn by gnuplot from `script`, or why there is none:
// `empty_why` when there is nothing to draw.
output_text drawn(const std::string& gnuplot, const char* empty_why,
                  const std::function<std::string()>& script) {
  if (empty_why != nullptr) {
    return {{}, std::string(empty_why) + "; no picture written"};
  }
  std::string png;
  if (!tool_common::run_gnuplot(gnuplot, script(), &png)) {
    return {{}, {}, true};
  }
  return text_of(std::move(png));
}

output_text plot_text(const options& o, const run_result& run, const std::string& gnuplot) {
  return drawn(gnuplot,
               has_rate(run.rows)
                   ? nullptr
                   : "no row has a measured rate (every row skipped or faster than the clock)",
               [&] { return gnuplot_script(run.rows, o, tool_common::machine_label(), run.load); });
}

output_text timeline_text(const options&, const run_result& run, const std::string& gnuplot) {
  return drawn(gnuplot, run.traced.empty() ? "no threaded row ran" : nullptr, [&] {
    return tool_common::timeline_script(
        run.traced,
        tool_common::picture_title("What each thread did during one call of each threaded row",
                                   tool_common::machine_label(), run.load));
  });
}

// Every output, in the order it is claimed and written.
const output_entry kOutputs[] = {
    {"--csv", [](const options& o) { return o.csv; }, true, false,
     [](const options& o, const run_result& run, const std::string&) {
       return text_of(format_csv(run.rows, o, run.load));
     }},
    {"--raw", [](const options& o) { return o.raw; }, true, false,
     [](const options&, const run_result& run, const std::string&) {
       return text_of(format_raw(run.raw, run.rows));
     }},
    {"--save", [](const options& o) { return save_path(o, "A.txt"); }, false, false,
     [](const options& o, const run_result& run, const std::string&) {
       return matrix_text(run.saved.a, o, "A.txt");
     }},
    {"--save", [](const options& o) { return save_path(o, "B.txt"); }, false, false,
     [](const options& o, const run_result& run, const std::string&) {
       return matrix_text(run.saved.b, o, "B.txt");
     }},
    {"--save", [](const options& o) { return save_path(o, "C.txt"); }, false, false,
     [](const options& o, const run_result& run, const std::string&) {
       return matrix_text(run.saved_product, o, "C.txt");
     }},
    {"--plot", [](const options& o) { return o.plot; }, false, true, plot_text},
    {"--trace", [](const options& o) { return o.trace; }, false, false,
     [](const options&, const run_result& run, const std::string&) {
       return text_of(tool_common::chrome_trace_json(run.traced));
     }},
    {"--timeline", [](const options& o) { return o.timeline; }, false, true, timeline_text},
};
constexpr size_t kOutputCount = std::size(kOutputs);

}  // namespace

// The claims: kOutputs' files, --save's folder, and gnuplot for the pictures.
struct run_outputs::claims {
  tool_common::output_file files[kOutputCount];
  tool_common::output_folder save;
  std::string gnuplot;  // empty: no picture asked, or gnuplot missing
};

run_outputs::run_outputs() : claims_(new claims) {}

run_outputs::~run_outputs() { delete claims_; }

std::string run_outputs::claim_one(const options& o, size_t i) {
  const output_entry& e = kOutputs[i];
  const std::string path = e.path(o);
  // Without gnuplot there is no picture to write: the run says so at the end.
  if (path.empty() || (e.drawn && claims_->gnuplot.empty())) {
    return {};
  }
  tool_common::output_file& file = claims_->files[i];
  const std::string why = file.claim(path, e.dash_is_stdout);
  if (!why.empty()) {
    return std::string(e.option) + ": cannot write '" + path + "': " + why;
  }
  for (size_t before = 0; before < i; ++before) {
    if (file.clashes_with(claims_->files[before])) {
      return std::string(e.option) + ": '" + path + "' is also the file of " +
             kOutputs[before].option + "; give each output a file of its own";
    }
  }
  if (file.is_stdout()) {
    table_ = stderr;
  }
  return {};
}

std::string run_outputs::claim(const options& o) {
  if (!o.save_dir.empty() && !claims_->save.claim(o.save_dir)) {
    return "--save: cannot write into '" + o.save_dir + "': " + tool_common::errno_text(errno);
  }
  if (!o.plot.empty() || !o.timeline.empty()) {
    claims_->gnuplot = tool_common::find_on_path("gnuplot");
  }
  for (size_t i = 0; i < kOutputCount; ++i) {
    std::string why = claim_one(o, i);
    if (!why.empty()) {
      return why;
    }
  }
  if (o.quiet) {
    table_ = nullptr;
  }
  return {};
}

bool run_outputs::write_one(const options& o, const run_result& run, size_t i) {
  const output_entry& e = kOutputs[i];
  const std::string path = e.path(o);
  tool_common::output_file& file = claims_->files[i];
  if (path.empty()) {
    return true;
  }
  if (e.drawn && claims_->gnuplot.empty()) {
    std::fprintf(stderr,
                 "compare_products: %s: gnuplot is not installed (Debian: apt-get install "
                 "gnuplot-nox); no picture written\n",
                 e.option);
    return true;
  }
  const output_text text = e.make(o, run, claims_->gnuplot);
  if (!text.write) {
    file.abandon();
    const std::string why =
        text.why_none.empty() ? "gnuplot could not draw '" + path + "'" : text.why_none;
    std::fprintf(stderr, "compare_products: %s: %s\n", e.option, why.c_str());
    return !text.failed;
  }
  if (!file.commit_with(text.write)) {
    std::fprintf(stderr, "compare_products: %s: could not write '%s'\n", e.option, path.c_str());
    return false;
  }
  return true;
}

int run_outputs::write(const options& o, const run_result& run, int status) {
  claims_->save.keep();
  for (size_t i = 0; i < kOutputCount; ++i) {
    if (!write_one(o, run, i) && status == tool_common::kExitOk) {
      status = tool_common::kExitWriteFailed;
    }
  }
  return status;
}

void run_outputs::give_back() {
  for (auto& f : claims_->files) {
    f.abandon();
  }
  claims_->save.abandon();
}

}  // namespace compare_products
