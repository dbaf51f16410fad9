// What mpi_compare measured, the byte model it is held against, and the table and CSV made from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.hpp"

namespace mpi_compare {

// One method on one rank count and one thread count per rank.
struct row {
  method m = method::rows;
  int32_t ranks = 1;
  int grid[2] = {1, 1};         // the process grid (SUMMA), ranks x 1 for row blocks
  int32_t threads = 1;          // per rank
  std::vector<double> seconds;  // one wall time per repetition (the slowest rank's)
  double mean_bytes = 0;        // bytes per rank: what all ranks sent, over the ranks
  double max_sent = 0;          // the rank that sent most
  double max_received = 0;      // the rank that received most
  bool identical = true;        // every repetition matched the reference
  // Filled by derive():
  double median_s = 0;
  double gops = 0;
  double speedup = 0;  // over the same method and threads on one rank; 0 when not measured
  double model_bytes = 0;
};

// The bytes per rank the model of docs/mpi.md predicts for `m` on a
// grid[0] x grid[1] grid (row blocks: ranks x 1), M x K times K x N of int32:
// the sum of every message's payload, over the ranks. Row blocks: a's rows
// and c's rows of every rank but 0, and all of b to every rank but 0.
// SUMMA: the same dealing and gathering of blocks, plus the panels: each grid
// row passes all of its rows of a to its other (columns - 1) ranks, each grid
// column all of its columns of b to its other (rows - 1) ranks. summa-blocks:
// the panels alone.
double model_bytes_per_rank(method m, const int grid[2], int64_t rows, int64_t inner, int64_t cols);

// Median, GOP/s, speedup over one rank, and the model's bytes of every row.
void derive(std::vector<row>& rows, const options& o);

// The aligned table, a header line and one line per row.
std::string format_table(const std::vector<row>& rows);

// CSV with a header line and one line per row.
std::string format_csv(const std::vector<row>& rows);

}  // namespace mpi_compare
