// Formatting of compare_products' results: the table, the CSV and the gnuplot input.
#include "compare_report.hpp"

#include <algorithm>
#include <cstdio>

#include "compare_methods.hpp"

namespace compare_tool {
namespace {

std::string fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

const char* result_word(const row& r) {
  if (!r.skipped.empty()) {
    return "skipped";
  }
  return r.identical ? "identical" : "DIFFERS";
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"') {
      quoted += '"';
    }
    quoted += ch;
  }
  return quoted + "\"";
}

}  // namespace

void derive(std::vector<row>& rows, const options& o) {
  const double ops = 2.0 * o.rows * static_cast<double>(o.inner) * o.cols;
  double tipo0 = 0.0;
  for (auto& r : rows) {
    if (!r.skipped.empty() || r.seconds.empty()) {
      continue;
    }
    r.median_s = median(r.seconds);
    r.gops = r.median_s > 0.0 ? ops / r.median_s / 1e9 : 0.0;
    if (std::string(methods()[static_cast<size_t>(r.method)].name) == "tipo0") {
      tipo0 = r.median_s;
    }
  }
  for (auto& r : rows) {
    if (!r.skipped.empty() || r.median_s <= 0.0) {
      continue;
    }
    if (tipo0 > 0.0) {
      r.vs_tipo0 = tipo0 / r.median_s;
    }
    if (methods()[static_cast<size_t>(r.method)].threads != threading::requested) {
      continue;
    }
    for (const auto& one : rows) {
      if (one.method == r.method && one.threads == 1 && one.skipped.empty() && one.median_s > 0.0) {
        r.vs_one = one.median_s / r.median_s;
      }
    }
  }
}

std::string format_table(const std::vector<row>& rows) {
  size_t name_width = 6;
  for (const auto& r : rows) {
    name_width =
        std::max(name_width, std::string(methods()[static_cast<size_t>(r.method)].name).size());
  }
  auto line = [&](const std::string& name, const std::string& threads, const std::string& secs,
                  const std::string& gops, const std::string& vs0, const std::string& vs1,
                  const std::string& result, const std::string& call) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-*s %7s %10s %8s %10s %12s  %-9s  %s\n",
                  static_cast<int>(name_width), name.c_str(), threads.c_str(), secs.c_str(),
                  gops.c_str(), vs0.c_str(), vs1.c_str(), result.c_str(), call.c_str());
    return std::string(buf);
  };
  std::string out = line("method", "threads", "median s", "GOP/s", "vs tipo0", "vs 1 thread",
                         "result", "library call");
  for (const auto& r : rows) {
    const auto& m = methods()[static_cast<size_t>(r.method)];
    const bool ran = r.skipped.empty() && !r.seconds.empty();
    // A product faster than the clock's microsecond shows 0 seconds and no rate.
    out += line(m.name, std::to_string(r.threads), ran ? fmt("%.6f", r.median_s) : "-",
                r.gops > 0.0 ? fmt("%.3f", r.gops) : "-",
                r.vs_tipo0 > 0.0 ? fmt("%.2fx", r.vs_tipo0) : "-",
                r.vs_one > 0.0 ? fmt("%.2fx", r.vs_one) : "-", result_word(r), m.what);
  }
  return out;
}

std::string format_csv(const std::vector<row>& rows, const options& o) {
  std::string out =
      "method,library_call,threads,rows,inner,cols,repetitions,median_seconds,gops,"
      "speedup_vs_tipo0,speedup_vs_one_thread,result\n";
  for (const auto& r : rows) {
    const auto& m = methods()[static_cast<size_t>(r.method)];
    const bool ran = r.skipped.empty() && !r.seconds.empty();
    out += csv_field(m.name) + "," + csv_field(m.what) + "," + std::to_string(r.threads) + "," +
           std::to_string(o.rows) + "," + std::to_string(o.inner) + "," + std::to_string(o.cols) +
           "," + std::to_string(r.seconds.size()) + "," + (ran ? fmt("%.6f", r.median_s) : "") +
           "," + (r.gops > 0.0 ? fmt("%.4f", r.gops) : "") + "," +
           (r.vs_tipo0 > 0.0 ? fmt("%.4f", r.vs_tipo0) : "") + "," +
           (r.vs_one > 0.0 ? fmt("%.4f", r.vs_one) : "") + "," +
           (r.skipped.empty() ? (r.identical ? "identical" : "differs") : "skipped") + "\n";
  }
  return out;
}

std::string gnuplot_script(const std::vector<row>& rows, const options& o) {
  // Columns: every thread count some method ran with, ascending.
  std::vector<int32_t> counts;
  for (const auto& r : rows) {
    if (r.skipped.empty()) {
      counts.push_back(r.threads);
    }
  }
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());

  std::string data = "$gops << EOD\n";
  std::vector<int> order;
  for (const auto& r : rows) {
    if (std::find(order.begin(), order.end(), r.method) == order.end()) {
      order.push_back(r.method);
    }
  }
  for (int id : order) {
    data += methods()[static_cast<size_t>(id)].name;
    for (int32_t t : counts) {
      std::string cell = " -";
      for (const auto& r : rows) {
        if (r.method == id && r.threads == t && r.skipped.empty() && r.gops > 0.0) {
          cell = fmt(" %.4f", r.gops);
        }
      }
      data += cell;
    }
    data += "\n";
  }
  data += "EOD\n";

  char title[200];
  std::snprintf(title, sizeof title, "A %dx%d times B %dx%d, median of %d", o.rows, o.inner,
                o.inner, o.cols, o.repeat);
  std::string script = data;
  script +=
      "set terminal pngcairo size 1100,600 noenhanced\n"
      "set title \"";
  script += title;
  script +=
      "\"\n"
      "set ylabel \"GOP/s\"\n"
      "set yrange [0:*]\n"
      "set grid ytics\n"
      "set style data histograms\n"
      "set style histogram clustered gap 1\n"
      "set style fill solid 0.85 border -1\n"
      "set datafile missing \"-\"\n"
      "set xtics rotate by -30\n"
      "set key top left title \"threads\"\n"
      "plot ";
  for (size_t c = 0; c < counts.size(); ++c) {
    if (c > 0) {
      script += ", ";
    }
    script += "$gops using " + std::to_string(c + 2) + (c == 0 ? ":xtic(1)" : "") + " title \"" +
              std::to_string(counts[c]) + "\"";
  }
  script += "\n";
  return script;
}

}  // namespace compare_tool
