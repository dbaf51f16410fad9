// Formatting of compare_products' results: the table, the CSV and the gnuplot input.
#include "compare_report.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

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

bool same_shape(const row& x, const row& y) {
  return x.rows == y.rows && x.inner == y.inner && x.cols == y.cols;
}

bool ran(const row& r) { return r.skipped.empty() && !r.seconds.empty(); }

// The single-shape plot: clustered bars, methods along x, one bar per thread count.
std::string bars_script(const std::vector<row>& rows, const options& o) {
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
  std::vector<const product_method*> order;
  for (const auto& r : rows) {
    if (std::find(order.begin(), order.end(), r.method) == order.end()) {
      order.push_back(r.method);
    }
  }
  for (const product_method* m : order) {
    data += m->name;
    for (int32_t t : counts) {
      std::string cell = " -";
      for (const auto& r : rows) {
        if (r.method == m && r.threads == t && r.skipped.empty() && r.gops > 0.0) {
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

// The sweep plot: GOP/s against n, one line per method and thread count.
std::string lines_script(const std::vector<row>& rows, const options& o) {
  std::vector<std::pair<const product_method*, int32_t>> series;
  for (const auto& r : rows) {
    const std::pair<const product_method*, int32_t> key{r.method, r.threads};
    if (r.skipped.empty() && std::find(series.begin(), series.end(), key) == series.end()) {
      series.push_back(key);
    }
  }
  std::string data = "$gops << EOD\nn";
  for (const auto& [m, t] : series) {
    data += " \"" + std::string(m->name) + ", " + std::to_string(t) +
            (t == 1 ? " thread\"" : " threads\"");
  }
  data += "\n";
  for (int32_t n : o.sizes) {
    data += std::to_string(n);
    for (const auto& [m, t] : series) {
      std::string cell = " -";
      for (const auto& r : rows) {
        if (r.method == m && r.threads == t && r.rows == n && r.skipped.empty() && r.gops > 0.0) {
          cell = fmt(" %.4f", r.gops);
        }
      }
      data += cell;
    }
    data += "\n";
  }
  data += "EOD\n";
  return data + "set terminal pngcairo size 1100,650 noenhanced\n" +
         "set title \"A and B n x n, median of " + std::to_string(o.repeat) + "\"\n" +
         "set xlabel \"n\"\n"
         "set ylabel \"GOP/s\"\n"
         "set logscale x 2\n"
         "set yrange [0:*]\n"
         "set grid\n"
         "set datafile missing \"-\"\n"
         "set key outside right top\n"
         "plot for [i=2:" +
         std::to_string(series.size() + 1) +
         "] $gops using 1:i with linespoints title columnheader(i)\n";
}

}  // namespace

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  if (values.size() % 2 == 1) {
    return values[mid];
  }
  return (values[mid - 1] + values[mid]) / 2.0;
}

void derive(std::vector<row>& rows) {
  for (auto& r : rows) {
    if (!ran(r)) {
      continue;
    }
    const double ops = 2.0 * r.rows * static_cast<double>(r.inner) * r.cols;
    r.median_s = median(r.seconds);
    r.gops = r.median_s > 0.0 ? ops / r.median_s / 1e9 : 0.0;
    r.check_s = median(r.check_seconds);
  }
  for (auto& r : rows) {
    if (!r.skipped.empty() || r.median_s <= 0.0) {
      continue;
    }
    for (const auto& other : rows) {
      if (!same_shape(other, r) || !other.skipped.empty() || other.median_s <= 0.0) {
        continue;
      }
      if (other.method == baseline()) {
        r.vs_tipo0 = other.median_s / r.median_s;
      }
      if (r.method->threads == threading::requested && other.method == r.method &&
          other.threads == 1) {
        r.vs_one = other.median_s / r.median_s;
      }
    }
  }
}

std::string format_table(const std::vector<row>& rows, bool with_size) {
  size_t name_width = 6;
  for (const auto& r : rows) {
    name_width = std::max(name_width, std::string(r.method->name).size());
  }
  auto line = [&](const std::string& size, const std::string& name, const std::string& threads,
                  const std::string& secs, const std::string& gops, const std::string& vs0,
                  const std::string& vs1, const std::string& result, const std::string& call) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-*s %7s %10s %8s %10s %12s  %-9s  %s\n",
                  static_cast<int>(name_width), name.c_str(), threads.c_str(), secs.c_str(),
                  gops.c_str(), vs0.c_str(), vs1.c_str(), result.c_str(), call.c_str());
    if (!with_size) {
      return std::string(buf);
    }
    char column[32];
    std::snprintf(column, sizeof column, "%6s ", size.c_str());
    return column + std::string(buf);
  };
  std::string out = line("size", "method", "threads", "median s", "GOP/s", "vs tipo0",
                         "vs 1 thread", "result", "library call");
  for (const auto& r : rows) {
    // A product faster than the clock's microsecond shows 0 seconds and no rate.
    out += line(std::to_string(r.rows), r.method->name, std::to_string(r.threads),
                ran(r) ? fmt("%.6f", r.median_s) : "-", r.gops > 0.0 ? fmt("%.3f", r.gops) : "-",
                r.vs_tipo0 > 0.0 ? fmt("%.2fx", r.vs_tipo0) : "-",
                r.vs_one > 0.0 ? fmt("%.2fx", r.vs_one) : "-", result_word(r), r.method->what);
  }
  return out;
}

std::string format_csv(const std::vector<row>& rows, const options& o) {
  std::string out =
      "method,library_call,threads,rows,inner,cols,repetitions,median_seconds,gops,"
      "speedup_vs_tipo0,speedup_vs_one_thread,result,check_seconds,seed\n";
  const std::string seed = o.seeded ? std::to_string(o.seed) : "";
  for (const auto& r : rows) {
    const product_method& m = *r.method;
    out += csv_field(m.name) + "," + csv_field(m.what) + "," + std::to_string(r.threads) + "," +
           std::to_string(r.rows) + "," + std::to_string(r.inner) + "," + std::to_string(r.cols) +
           "," + std::to_string(r.seconds.size()) + "," + (ran(r) ? fmt("%.6f", r.median_s) : "") +
           "," + (r.gops > 0.0 ? fmt("%.4f", r.gops) : "") + "," +
           (r.vs_tipo0 > 0.0 ? fmt("%.4f", r.vs_tipo0) : "") + "," +
           (r.vs_one > 0.0 ? fmt("%.4f", r.vs_one) : "") + "," +
           (r.skipped.empty() ? (r.identical ? "identical" : "differs") : "skipped") + "," +
           (ran(r) && !r.check_seconds.empty() ? fmt("%.6f", r.check_s) : "") + "," + seed + "\n";
  }
  return out;
}

std::string gnuplot_script(const std::vector<row>& rows, const options& o) {
  return o.sizes.size() > 1 ? lines_script(rows, o) : bars_script(rows, o);
}

bool has_rate(const std::vector<row>& rows) {
  return std::any_of(rows.begin(), rows.end(), [](const row& r) { return r.gops > 0.0; });
}

}  // namespace compare_tool
