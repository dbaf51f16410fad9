// Formatting of compare_products' results: the table and the CSV.
#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "tools/common/statistics.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::format_number;

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

}  // namespace

void derive(std::vector<row>& rows) {
  for (auto& r : rows) {
    if (!ran(r)) {
      continue;
    }
    const double ops = 2.0 * r.rows * static_cast<double>(r.inner) * r.cols;
    r.median_s = tool_common::median(r.seconds);
    r.gops = r.median_s > 0.0 ? ops / r.median_s / 1e9 : 0.0;
    r.check_s = tool_common::median(r.check_seconds);
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
                ran(r) ? format_number("%.6f", r.median_s) : "-",
                r.gops > 0.0 ? format_number("%.3f", r.gops) : "-",
                r.vs_tipo0 > 0.0 ? format_number("%.2fx", r.vs_tipo0) : "-",
                r.vs_one > 0.0 ? format_number("%.2fx", r.vs_one) : "-", result_word(r),
                r.method->what);
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
           "," + std::to_string(r.seconds.size()) + "," +
           (ran(r) ? format_number("%.6f", r.median_s) : "") + "," +
           (r.gops > 0.0 ? format_number("%.4f", r.gops) : "") + "," +
           (r.vs_tipo0 > 0.0 ? format_number("%.4f", r.vs_tipo0) : "") + "," +
           (r.vs_one > 0.0 ? format_number("%.4f", r.vs_one) : "") + "," +
           (r.skipped.empty() ? (r.identical ? "identical" : "differs") : "skipped") + "," +
           (ran(r) && !r.check_seconds.empty() ? format_number("%.6f", r.check_s) : "") + "," +
           seed + "\n";
  }
  return out;
}

}  // namespace compare_products
