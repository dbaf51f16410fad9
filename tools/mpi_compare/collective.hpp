// mpi_compare's timed call: one collective product on the first ranks of the world, the same
// call on every rank, its result checked on rank 0 and its bytes counted on every rank.
//
// Every rank makes its own blocks of the factors from the seed, so no rank
// waits on another to start. Each rank count works on a communicator of the
// first ranks; the ranks left out of a call wait in a barrier (wait_idle).
#pragma once

#include <mpi.h>

#include <cstdint>
#include <dense/dense_core.hpp>
#include <vector>

#include "count.hpp"
#include "options.hpp"
#include "report.hpp"
#include "tools/common/measurement.hpp"

namespace mpi_compare {

// The program's own MPI calls: an error ends the job in one line, never a hang.
void need(int rc);
int world_rank();
int world_size();

// A barrier for ranks with nothing to do. With `poll`, a rank asks again and
// again, as Open MPI's own blocking calls do; without it, it sleeps a
// millisecond between asks, leaving its core to the ranks that work.
void wait_idle(MPI_Comm comm, bool poll);

// Whether idle ranks should poll: when this host has a CPU for every thread
// of every rank on it, a polling rank takes nobody's core, and a core left
// to sleep between calls runs the next call slower. On a 2-vCPU KVM guest,
// summa-blocks on two ranks (n = 2048) took 62.8-66.0 ms by median with the
// idle rank polling against 66.3-70.3 ms with it sleeping, in four alternated
// runs of 31 rounds, the one-rank row alike (114.9-117.5 ms). Collective.
bool idle_ranks_poll(const options& o);

// What rank 0 holds for checking: the whole factors and the team kernel's product.
struct whole_factors {
  dense_core::matriz* a = nullptr;
  dense_core::matriz* b = nullptr;
  dense_core::matriz* reference = nullptr;
};

// Rank 0's factors and reference, made from the seed; ends the job when the
// team kernel gives no product.
whole_factors make_whole_factors(const options& o);
void release(whole_factors& w);

// One row as this rank takes part in it.
struct row_setup {
  method m = method::rows;
  int32_t threads = 1;
  int32_t ranks = 1;
  int grid[2] = {1, 1};
  MPI_Comm comm = MPI_COMM_NULL;       // its first `ranks` ranks; null on the others
  MPI_Comm grid_comm = MPI_COMM_NULL;  // summa-blocks: the process grid
  dense_core::matriz* my_a = nullptr;  // summa-blocks: this rank's blocks
  dense_core::matriz* my_b = nullptr;
  dense_core::matriz* my_c = nullptr;
  traffic last;                 // the bytes its last call moved on this rank
  bool poll_when_idle = false;  // idle_ranks_poll, the same for every row
};

// The rows, in the table's order (rank counts, methods, threads), set up on
// every rank: each rank count's communicator, and summa-blocks' grid and
// blocks. A collective call: every rank makes it with the same options.
std::vector<row_setup> set_up_rows(const options& o);

// One call of row `r` on every rank: its ranks compute the product, rank 0
// checks it, the others wait. On rank 0, the slowest rank's time and, for a
// wrong result, the failure.
tool_common::call_result collective_call(const options& o, row_setup& r, const whole_factors& w);

// One more call of row `r`, for a trace: like collective_call but neither
// timed, counted nor checked; on the row's ranks, *start and *end bound the
// product on this rank's trace clock (left alone on the others). Collective.
void traced_call(const options& o, row_setup& r, const whole_factors& w, double* start,
                 double* end);

// The rows of the table, one per setup, not yet measured.
std::vector<row> rows_of(const options& o, const std::vector<row_setup>& setups);

// Each row's bytes gathered from its ranks into `rows` on rank 0 (the last
// call's: every call moves the same bytes). Collective.
void gather_traffic(const std::vector<row_setup>& setups, std::vector<row>& rows);

// Frees every row's communicators and blocks.
void release(std::vector<row_setup>& setups);

// The CPU seconds every rank on rank 0's host has used so far, summed on rank 0. Collective.
double host_cpu_seconds(MPI_Comm host);

}  // namespace mpi_compare
