// Formatting of compare_products' results: the table, the notes under it, and the CSV.
#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "rounds.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::format_number;

// U+2013 EN DASH between the ends of an interval, U+2248 ALMOST EQUAL TO
// for a ratio that cannot be told from 1.
constexpr char kDash[] = "\xe2\x80\x93";
constexpr char kAbout[] = "\xe2\x89\x88";

// What the marks in the table mean, defined once for the table and its notes.
constexpr char kNoisyMark[] = "*";
constexpr char kNoiseWord[] = "noise";

const char* result_word(const row& r) {
  if (!r.skipped.empty()) {
    return "skipped";
  }
  if (!r.stopped.empty()) {
    return r.stopped.c_str();
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

// The fields joined by commas, and a newline.
template <size_t N>
std::string csv_line(const std::string (&fields)[N]) {
  std::string line;
  for (size_t i = 0; i < N; ++i) {
    line += fields[i];
    line += i + 1 < N ? ',' : '\n';
  }
  return line;
}

bool same_shape(const row& x, const row& y) {
  return x.rows == y.rows && x.inner == y.inner && x.cols == y.cols;
}

bool ran(const row& r) { return r.skipped.empty() && !r.seconds.empty(); }

// Three significant figures or so, without an exponent for the sizes a table meets.
std::string compact(double value) {
  // The number of decimals follows the value as rounded, so 0.99999 is "1.00", not "1.000".
  const double x = std::strtod(format_number("%.3g", value).c_str(), nullptr);
  if (x >= 100.0) {
    return format_number("%.0f", x);
  }
  if (x >= 10.0) {
    return format_number("%.1f", x);
  }
  if (x >= 1.0) {
    return format_number("%.2f", x);
  }
  if (x >= 0.01) {
    return format_number("%.3f", x);
  }
  return format_number("%.2g", x);
}

std::string ratio(double x) { return compact(x) + "x"; }

std::string range_text(const tool_common::interval& r) {
  // Appended piece by piece: g++ 12 warns (-Wrestrict, wrongly) about a chain of + here.
  std::string text = "(";
  text += compact(r.low);
  text += kDash;
  text += compact(r.high);
  text += ")";
  return text;
}

tool_common::summary paired(const row& r, const row& reference) {
  return tool_common::summarise(paired_ratios(r, reference));
}

// How a paired speedup reads in the table.
enum class reading { none, self, measured, about_one, noise };

reading read_speedup(const tool_common::summary& s, bool self, double above_is_noise) {
  if (self) {
    return reading::self;
  }
  if (s.count == 0) {
    return reading::none;
  }
  if (above_is_noise > 0.0 && s.median > above_is_noise) {
    return reading::noise;
  }
  return s.range.contains(1.0) ? reading::about_one : reading::measured;
}

std::string speedup_cell(const tool_common::summary& s, reading how) {
  switch (how) {
    case reading::none:
      return "-";
    case reading::self:
      return "1.00x";
    case reading::noise:
      return std::string(kNoiseWord) + " (" + ratio(s.median) + ")";
    case reading::about_one:
      return std::string(kAbout) + "1x " + range_text(s.range);
    case reading::measured:
      break;
  }
  return ratio(s.median) + " " + range_text(s.range);
}

reading vs_one_reading(const row& r) {
  return read_speedup(r.vs_one, r.self_one, static_cast<double>(r.threads));
}

reading vs_tipo0_reading(const row& r) { return read_speedup(r.vs_tipo0, r.self_tipo0, 0.0); }

// Columns as many terminal cells wide as they have characters (not bytes).
size_t display_width(const std::string& s) {
  return static_cast<size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string padded(const std::string& s, size_t width, bool right) {
  const std::string fill(width > display_width(s) ? width - display_width(s) : 0, ' ');
  return right ? fill + s : s + fill;
}

}  // namespace

std::vector<double> paired_ratios(const row& r, const row& reference) {
  std::map<int32_t, double> theirs;
  for (size_t i = 0; i < reference.seconds.size(); ++i) {
    theirs[reference.rounds[i]] = reference.seconds[i];
  }
  std::vector<double> ratios;
  for (size_t i = 0; i < r.seconds.size(); ++i) {
    const auto at = theirs.find(r.rounds[i]);
    if (at != theirs.end() && at->second > 0.0 && r.seconds[i] > 0.0) {
      ratios.push_back(at->second / r.seconds[i]);
    }
  }
  return ratios;
}

bool noisy(const row& r) {
  return ran(r) && r.median_s > 0.0 &&
         (r.seconds_range.low < 0.9 * r.median_s || r.seconds_range.high > 1.1 * r.median_s);
}

void derive(std::vector<row>& rows) {
  for (auto& r : rows) {
    if (!ran(r)) {
      continue;
    }
    const double ops = 2.0 * r.rows * static_cast<double>(r.inner) * r.cols;
    r.median_s = tool_common::median(r.seconds);
    r.seconds_range = tool_common::median_interval(r.seconds);
    r.check_s = tool_common::median(r.check_seconds);
    auto rate = [ops](double s) { return s > 0.0 ? ops / s / 1e9 : 0.0; };
    r.gops = rate(r.median_s);
    r.gops_range = {rate(r.seconds_range.high), rate(r.seconds_range.low)};
  }
  for (auto& r : rows) {
    if (!ran(r)) {
      continue;
    }
    for (const auto& other : rows) {
      if (!same_shape(other, r) || !ran(other)) {
        continue;
      }
      if (other.method == baseline()) {
        r.self_tipo0 = &other == &r;
        r.vs_tipo0 = paired(r, other);
      }
      if (r.method->threads == threading::requested && other.method == r.method &&
          other.threads == 1) {
        r.self_one = &other == &r;
        r.vs_one = paired(r, other);
      }
    }
  }
}

std::string format_table(const std::vector<row>& rows, bool with_size) {
  std::vector<std::vector<std::string>> cells = {{"size", "method", "threads", "median s",
                                                  "GOP/s (95% interval)", "vs tipo0", "vs 1 thread",
                                                  "result", "library call"}};
  for (const auto& r : rows) {
    // A product faster than the clock's microsecond shows 0 seconds and no rate.
    std::string rate = "-";
    if (r.gops > 0.0) {
      rate = compact(r.gops) + " " + range_text(r.gops_range) + (noisy(r) ? kNoisyMark : "");
    }
    cells.push_back({std::to_string(r.rows), r.method->name, std::to_string(r.threads),
                     ran(r) ? format_number("%.6f", r.median_s) : "-", rate,
                     speedup_cell(r.vs_tipo0, vs_tipo0_reading(r)),
                     speedup_cell(r.vs_one, vs_one_reading(r)), result_word(r), r.method->what});
  }
  // Right-aligned: the numbers of the size, threads and median columns.
  constexpr bool kRight[] = {true, false, true, true, false, false, false, false, false};
  std::vector<size_t> widths(cells[0].size(), 0);
  for (const auto& line : cells) {
    for (size_t c = 0; c < line.size(); ++c) {
      widths[c] = std::max(widths[c], display_width(line[c]));
    }
  }
  std::string out;
  for (const auto& line : cells) {
    std::string text;
    for (size_t c = with_size ? 0 : 1; c < line.size(); ++c) {
      const bool last = c + 1 == line.size();
      text += last ? line[c] : padded(line[c], widths[c], kRight[c]) + "  ";
    }
    out += text + "\n";
  }
  return out;
}

std::string table_notes(const std::vector<row>& rows, const tool_common::machine_load& load) {
  const bool any_noisy = std::any_of(rows.begin(), rows.end(), noisy);
  const bool any_about_one = std::any_of(rows.begin(), rows.end(), [](const row& r) {
    return vs_one_reading(r) == reading::about_one || vs_tipo0_reading(r) == reading::about_one;
  });
  const bool any_noise = std::any_of(
      rows.begin(), rows.end(), [](const row& r) { return vs_one_reading(r) == reading::noise; });
  std::string out;
  if (any_noisy) {
    out += std::string(kNoisyMark) +
           " noisy: the 95% interval of the median is wider than +-10% of it; the machine's "
           "noise moved this row's times (more rounds, --time, or a quieter machine steady "
           "them).\n";
  }
  if (any_about_one) {
    out += std::string(kAbout) +
           "1x: the interval of the ratio holds 1.0, so the difference is not measurable in this "
           "run.\n";
  }
  if (any_noise) {
    out += std::string(kNoiseWord) +
           ": a speedup over one thread above the thread count is the machine's noise, not a "
           "result.\n";
  }
  if (load.known) {
    out += format_number("machine: other programs used %.0f%%", load.others_percent) +
           " of its CPU time during the timed rounds; the hypervisor took " +
           format_number("%.0f%%", load.steal_percent) + " (steal).\n";
  } else {
    out += "machine: the rounds were too short to tell how busy it was.\n";
  }
  return out;
}

std::string format_csv(const std::vector<row>& rows, const options& o,
                       const tool_common::machine_load& load) {
  std::string out =
      "method,library_call,threads,rows,inner,cols,repetitions,median_seconds,gops,"
      "speedup_vs_tipo0,speedup_vs_one_thread,result,check_seconds,seed,min_seconds,max_seconds,"
      "median_low_seconds,median_high_seconds,rounds,speedup_vs_one_thread_low,"
      "speedup_vs_one_thread_high,others_cpu_percent,steal_percent\n";
  const std::string seed = o.seeded ? std::to_string(o.seed) : "";
  const std::string busy = load.known ? format_number("%.1f", load.others_percent) + "," +
                                            format_number("%.1f", load.steal_percent)
                                      : ",";
  auto number = [](bool known, const char* format, double v) {
    return known ? format_number(format, v) : std::string();
  };
  for (const auto& r : rows) {
    const product_method& m = *r.method;
    const bool timed = ran(r);
    const bool one = r.vs_one.count > 0 || r.self_one;
    const auto [lo, hi] = std::minmax_element(r.seconds.begin(), r.seconds.end());
    std::string result = r.skipped.empty() ? (r.identical ? "identical" : "differs") : "skipped";
    if (!r.stopped.empty()) {
      result = r.stopped;
    }
    const std::string fields[] = {
        csv_field(m.name),
        csv_field(m.what),
        std::to_string(r.threads),
        std::to_string(r.rows),
        std::to_string(r.inner),
        std::to_string(r.cols),
        std::to_string(r.seconds.size()),
        number(timed, "%.6f", r.median_s),
        number(r.gops > 0.0, "%.4f", r.gops),
        number(r.vs_tipo0.count > 0 || r.self_tipo0, "%.4f",
               r.self_tipo0 ? 1.0 : r.vs_tipo0.median),
        number(one, "%.4f", r.self_one ? 1.0 : r.vs_one.median),
        csv_field(result),
        number(timed && !r.check_seconds.empty(), "%.6f", r.check_s),
        seed,
        number(timed, "%.6f", timed ? *lo : 0.0),
        number(timed, "%.6f", timed ? *hi : 0.0),
        number(timed, "%.6f", r.seconds_range.low),
        number(timed, "%.6f", r.seconds_range.high),
        r.skipped.empty() ? std::to_string(r.shape_rounds) : "",
        number(one, "%.4f", r.self_one ? 1.0 : r.vs_one.range.low),
        number(one, "%.4f", r.self_one ? 1.0 : r.vs_one.range.high),
        busy,
    };
    out += csv_line(fields);
  }
  return out;
}

std::string format_raw(const std::vector<raw_call>& calls, const std::vector<row>& rows) {
  std::string out = "round,position,method,threads,rows,inner,cols,seconds\n";
  for (const auto& c : calls) {
    const row& r = rows[c.row];
    const std::string fields[] = {std::to_string(c.round),   std::to_string(c.position),
                                  csv_field(r.method->name), std::to_string(r.threads),
                                  std::to_string(r.rows),    std::to_string(r.inner),
                                  std::to_string(r.cols),    format_number("%.9f", c.seconds)};
    out += csv_line(fields);
  }
  return out;
}

}  // namespace compare_products
