// mpi_compare's table: medians and their intervals, paired speedups, bytes beside their model.
#include "report.hpp"

#include <algorithm>
#include <cstdio>

#include "tools/common/report_cells.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/statistics.hpp"
#include "tools/common/text.hpp"

namespace mpi_compare {

double model_bytes_per_rank(method m, const int grid[2], int64_t rows, int64_t inner,
                            int64_t cols) {
  const double p = static_cast<double>(grid[0]) * grid[1];
  const double a = static_cast<double>(rows) * static_cast<double>(inner);
  const double b = static_cast<double>(inner) * static_cast<double>(cols);
  const double c = static_cast<double>(rows) * static_cast<double>(cols);
  const double elsewhere = (p - 1) / p;  // the share of a whole matrix not on rank 0
  double elements = 0;
  if (m == method::rows) {
    elements = a * elsewhere + b * (p - 1) + c * elsewhere;
  } else {
    const double panels = a * (grid[1] - 1) + b * (grid[0] - 1);
    elements = panels + (m == method::summa ? (a + b + c) * elsewhere : 0);
  }
  return 4.0 * elements / p;
}

void derive(std::vector<row>& rows) {
  for (auto& r : rows) {
    tool_common::derive_times(r);
    r.model_bytes = model_bytes_per_rank(r.m, r.grid, r.size.rows, r.size.inner, r.size.cols);
  }
  for (auto& r : rows) {
    for (const auto& one : rows) {
      if (one.m == r.m && one.threads == r.threads && one.ranks == 1 && r.ran() && one.ran()) {
        r.self_one = &one == &r;
        r.vs_one = tool_common::summarise(tool_common::paired_ratios(r, one));
      }
    }
  }
}

namespace {

using tool_common::format_number;

const char* name_of(const row& r) { return methods()[static_cast<size_t>(r.m)].name; }

std::string grid_text(const row& r) {
  return std::to_string(r.grid[0]) + "x" + std::to_string(r.grid[1]);
}

std::vector<std::string> cells_of(const row& r, tool_common::marks* used) {
  return {name_of(r),
          std::to_string(r.ranks),
          grid_text(r),
          std::to_string(r.threads),
          r.ran() ? format_number("%.6f", r.median_s) : "-",
          tool_common::rate_cell(r, used),
          tool_common::speedup_cell(r.vs_one, r.self_one, static_cast<double>(r.ranks), used),
          format_number("%.2f", r.mean_bytes / 1e6),
          format_number("%.2f", r.model_bytes / 1e6),
          format_number("%.2f", r.max_sent / 1e6),
          format_number("%.2f", r.max_received / 1e6),
          r.identical ? "identical" : "DIFFERS"};
}

}  // namespace

std::string format_table(const std::vector<row>& rows) {
  std::vector<std::vector<std::string>> cells = {{"method", "ranks", "grid", "threads", "median s",
                                                  "GOP/s (95% interval)", "speedup", "MB/rank",
                                                  "model MB", "max sent", "max recv", "result"}};
  tool_common::marks used;
  for (const auto& r : rows) {
    cells.push_back(cells_of(r, &used));
  }
  return tool_common::aligned_table(
      cells, {false, true, true, true, true, false, false, true, true, true, true, false}, 0);
}

std::string table_notes(const std::vector<row>& rows, const tool_common::machine_load& load) {
  tool_common::marks used;
  for (const auto& r : rows) {
    cells_of(r, &used);
  }
  return tool_common::notes(used, load, "rank");
}

std::string format_csv(const std::vector<row>& rows, const options& o,
                       const tool_common::machine_load& load) {
  std::string out =
      "method,ranks,grid,threads_per_rank,median_s,gops,speedup_vs_one_rank,bytes_per_rank,"
      "model_bytes_per_rank,max_sent_bytes,max_received_bytes,result,speedup_vs_one_rank_low,"
      "speedup_vs_one_rank_high,repetitions,min_seconds,max_seconds,median_low_seconds,"
      "median_high_seconds,rounds,seed,others_cpu_percent,steal_percent,overlap\n";
  const std::string busy = load.known ? format_number("%.1f", load.others_percent) + "," +
                                            format_number("%.1f", load.steal_percent)
                                      : ",";
  auto number = [](bool known, const char* format, double v) {
    return known ? format_number(format, v) : std::string();
  };
  for (const auto& r : rows) {
    const bool timed = r.ran();
    const bool ranged = timed && r.seconds.size() >= tool_common::kFewestForInterval;
    const bool one = r.vs_one.count > 0 || r.self_one;
    const bool one_ranged = r.vs_one.has_interval() || r.self_one;
    const auto [lo, hi] = std::minmax_element(r.seconds.begin(), r.seconds.end());
    const std::string fields[] = {
        name_of(r),
        std::to_string(r.ranks),
        grid_text(r),
        std::to_string(r.threads),
        format_number("%.6f", r.median_s),
        format_number("%.4f", r.gops),
        number(one, "%.4f", r.self_one ? 1.0 : r.vs_one.median),
        format_number("%.0f", r.mean_bytes),
        format_number("%.0f", r.model_bytes),
        format_number("%.0f", r.max_sent),
        format_number("%.0f", r.max_received),
        r.identical ? "identical" : "differs",
        number(one_ranged, "%.4f", r.self_one ? 1.0 : r.vs_one.range.low),
        number(one_ranged, "%.4f", r.self_one ? 1.0 : r.vs_one.range.high),
        std::to_string(r.seconds.size()),
        number(timed, "%.6f", timed ? *lo : 0.0),
        number(timed, "%.6f", timed ? *hi : 0.0),
        number(ranged, "%.6f", r.seconds_range.low),
        number(ranged, "%.6f", r.seconds_range.high),
        std::to_string(r.shape_rounds),
        std::to_string(o.seed),
        busy,
        o.no_overlap ? "off" : "on",
    };
    out += tool_common::csv_line(fields);
  }
  return out;
}

std::string format_raw(const std::vector<tool_common::raw_call>& calls,
                       const std::vector<row>& rows) {
  std::string out = "round,position,method,ranks,threads,rows,inner,cols,seconds\n";
  for (const auto& c : calls) {
    const row& r = rows[c.row];
    const std::string fields[] = {std::to_string(c.round),
                                  std::to_string(c.position),
                                  name_of(r),
                                  std::to_string(r.ranks),
                                  std::to_string(r.threads),
                                  std::to_string(r.size.rows),
                                  std::to_string(r.size.inner),
                                  std::to_string(r.size.cols),
                                  format_number("%.9f", c.seconds)};
    out += tool_common::csv_line(fields);
  }
  return out;
}

}  // namespace mpi_compare
