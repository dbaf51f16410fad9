// What mpi_compare measured, the byte model it is held against, and the table, CSV and raw
// calls made from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/measurement.hpp"

namespace mpi_compare {

// One method on one rank count and one thread count per rank. Its times are
// the slowest rank's, one a round; vs_one is the speedup over the same method
// and threads on one rank, taken within each round.
struct row : tool_common::measured_row {
  method m = method::rows;
  int32_t ranks = 1;
  int grid[2] = {1, 1};     // the process grid (SUMMA), ranks x 1 for row blocks
  double mean_bytes = 0;    // bytes per rank: what all ranks sent, over the ranks
  double max_sent = 0;      // the rank that sent most
  double max_received = 0;  // the rank that received most
  double model_bytes = 0;   // filled by derive()
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

// Median, its interval, GOP/s, the speedup over one rank and the model's bytes of every row.
void derive(std::vector<row>& rows);

// The aligned table, a header line and one line per row; each rate and
// speedup with its 95% interval and the marks of tools/common/report_cells.hpp.
std::string format_table(const std::vector<row>& rows);

// The lines under the table: what its marks mean, and how busy rank 0's host was.
std::string table_notes(const std::vector<row>& rows, const tool_common::machine_load& load);

// CSV with a header line and one line per row: the first twelve columns as
// they always were, then the speedup's interval, the times' spread and
// interval, the rounds, the seed and the busy line's two shares.
std::string format_csv(const std::vector<row>& rows, const options& o,
                       const tool_common::machine_load& load);

// One line per timed call under the header
// "round,position,method,ranks,threads,rows,inner,cols,seconds".
std::string format_raw(const std::vector<tool_common::raw_call>& calls,
                       const std::vector<row>& rows);

}  // namespace mpi_compare
