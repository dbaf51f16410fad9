// mpi_compare's table: medians, speedups, bytes beside their model.
#include "report.hpp"

#include <algorithm>
#include <cstdio>

#include "tools/common/statistics.hpp"

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

void derive(std::vector<row>& rows, const options& o) {
  const double ops = 2.0 * o.rows * static_cast<double>(o.inner) * o.cols;
  for (auto& r : rows) {
    r.median_s = tool_common::median(r.seconds);
    r.gops = r.median_s > 0 ? ops / r.median_s / 1e9 : 0;
    r.model_bytes = model_bytes_per_rank(r.m, r.grid, o.rows, o.inner, o.cols);
  }
  for (auto& r : rows) {
    for (const auto& one : rows) {
      if (one.m == r.m && one.threads == r.threads && one.ranks == 1 && r.median_s > 0) {
        r.speedup = one.median_s / r.median_s;
      }
    }
  }
}

namespace {

std::string grid_text(const row& r) {
  return std::to_string(r.grid[0]) + "x" + std::to_string(r.grid[1]);
}

const char* result_text(const row& r) { return r.identical ? "identical" : "DIFFERS"; }

}  // namespace

std::string format_table(const std::vector<row>& rows) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "%-13s %5s %5s %7s %10s %8s %7s %10s %10s %10s %10s  %s\n",
                "method", "ranks", "grid", "threads", "median s", "GOP/s", "speedup", "MB/rank",
                "model MB", "max sent", "max recv", "result");
  out += line;
  for (const auto& r : rows) {
    char speedup[16] = "-";
    if (r.speedup > 0) {
      std::snprintf(speedup, sizeof speedup, "%.2fx", r.speedup);
    }
    std::snprintf(line, sizeof line,
                  "%-13s %5d %5s %7d %10.4f %8.2f %7s %10.2f %10.2f %10.2f %10.2f  %s\n",
                  methods()[static_cast<size_t>(r.m)].name, r.ranks, grid_text(r).c_str(),
                  r.threads, r.median_s, r.gops, speedup, r.mean_bytes / 1e6, r.model_bytes / 1e6,
                  r.max_sent / 1e6, r.max_received / 1e6, result_text(r));
    out += line;
  }
  return out;
}

std::string format_csv(const std::vector<row>& rows) {
  std::string out =
      "method,ranks,grid,threads_per_rank,median_s,gops,speedup_vs_one_rank,bytes_per_rank,"
      "model_bytes_per_rank,max_sent_bytes,max_received_bytes,result\n";
  char line[320];
  for (const auto& r : rows) {
    char speedup[32] = "";
    if (r.speedup > 0) {
      std::snprintf(speedup, sizeof speedup, "%.4f", r.speedup);
    }
    std::snprintf(line, sizeof line, "%s,%d,%s,%d,%.6f,%.4f,%s,%.0f,%.0f,%.0f,%.0f,%s\n",
                  methods()[static_cast<size_t>(r.m)].name, r.ranks, grid_text(r).c_str(),
                  r.threads, r.median_s, r.gops, speedup, r.mean_bytes, r.model_bytes, r.max_sent,
                  r.max_received, r.identical ? "identical" : "differs");
    out += line;
  }
  return out;
}

}  // namespace mpi_compare
