// Formatting of compare_products' results: the table, the notes under it, and the CSV.
#include "report.hpp"

#include <algorithm>
#include <utility>

#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::csv_field;
using tool_common::csv_line;
using tool_common::format_number;

// The result column: identical, DIFFERS (the CSV's "differs"), skipped, or why it stopped.
std::string result_word(const row& r, bool loud) {
  if (!r.skipped.empty()) {
    return "skipped";
  }
  if (!r.stopped.empty()) {
    return r.stopped;
  }
  return r.identical ? "identical" : (loud ? "DIFFERS" : "differs");
}

// The table's cells of one row; the marks they use are added to `used`.
std::vector<std::string> cells_of(const row& r, tool_common::marks* used) {
  return {std::to_string(r.size.rows),
          r.method->name,
          std::to_string(r.threads),
          r.ran() ? format_number("%.6f", r.median_s) : "-",
          tool_common::rate_cell(r, used),
          tool_common::speedup_cell(r.vs_base, r.self_base, 0.0, used),
          tool_common::speedup_cell(r.vs_one, r.self_one, static_cast<double>(r.threads), used),
          result_word(r, true),
          r.method->what};
}

// Pairs `r` with `other`, of the same shape, when it is tipo0 or the same method on one thread.
void pair_with(row& r, const row& other) {
  if (other.method == baseline()) {
    r.self_base = &other == &r;
    r.vs_base = tool_common::summarise(paired_ratios(r, other));
  }
  if (r.method->threads == threading::requested && other.method == r.method && other.threads == 1) {
    r.self_one = &other == &r;
    r.vs_one = tool_common::summarise(paired_ratios(r, other));
  }
}

}  // namespace

void derive(std::vector<row>& rows) {
  for (auto& r : rows) {
    tool_common::derive_times(r);
  }
  for (auto& r : rows) {
    for (const auto& other : rows) {
      if (r.ran() && other.ran() && other.size == r.size) {
        pair_with(r, other);
      }
    }
  }
}

std::string format_table(const std::vector<row>& rows, bool with_size) {
  std::vector<std::vector<std::string>> cells = {{"size", "method", "threads", "median s",
                                                  "GOP/s (95% interval)", "vs tipo0", "vs 1 thread",
                                                  "result", "library call"}};
  tool_common::marks used;
  for (const auto& r : rows) {
    cells.push_back(cells_of(r, &used));
  }
  // Right-aligned: the numbers of the size, threads and median columns.
  return tool_common::aligned_table(
      cells, {true, false, true, true, false, false, false, false, false}, with_size ? 0 : 1);
}

std::string table_notes(const std::vector<row>& rows, const tool_common::machine_load& load) {
  tool_common::marks used;
  for (const auto& r : rows) {
    cells_of(r, &used);
  }
  return tool_common::notes(used, load, "thread");
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
    const bool timed = r.ran();
    const bool ranged = timed && r.seconds.size() >= tool_common::kFewestForInterval;
    const bool one = r.vs_one.count > 0 || r.self_one;
    const bool one_ranged = r.vs_one.has_interval() || r.self_one;
    const auto [lo, hi] = std::minmax_element(r.seconds.begin(), r.seconds.end());
    const std::string fields[] = {
        csv_field(m.name),
        csv_field(m.what),
        std::to_string(r.threads),
        std::to_string(r.size.rows),
        std::to_string(r.size.inner),
        std::to_string(r.size.cols),
        std::to_string(r.seconds.size()),
        number(timed, "%.6f", r.median_s),
        number(r.gops > 0.0, "%.4f", r.gops),
        number(r.vs_base.count > 0 || r.self_base, "%.4f", r.self_base ? 1.0 : r.vs_base.median),
        number(one, "%.4f", r.self_one ? 1.0 : r.vs_one.median),
        csv_field(result_word(r, false)),
        number(timed && !r.check_seconds.empty(), "%.6f", r.check_s),
        seed,
        number(timed, "%.6f", timed ? *lo : 0.0),
        number(timed, "%.6f", timed ? *hi : 0.0),
        number(ranged, "%.6f", r.seconds_range.low),
        number(ranged, "%.6f", r.seconds_range.high),
        r.skipped.empty() ? std::to_string(r.shape_rounds) : "",
        number(one_ranged, "%.4f", r.self_one ? 1.0 : r.vs_one.range.low),
        number(one_ranged, "%.4f", r.self_one ? 1.0 : r.vs_one.range.high),
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
    const std::string fields[] = {std::to_string(c.round),     std::to_string(c.position),
                                  csv_field(r.method->name),   std::to_string(r.threads),
                                  std::to_string(r.size.rows), std::to_string(r.size.inner),
                                  std::to_string(r.size.cols), format_number("%.9f", c.seconds)};
    out += csv_line(fields);
  }
  return out;
}

}  // namespace compare_products
