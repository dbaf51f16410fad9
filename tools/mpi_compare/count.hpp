// Bytes this rank sent and received inside the products, counted at the MPI calls themselves.
//
// mpi_compare defines the MPI calls the products make (MPI_Bcast,
// MPI_Scatterv, MPI_Gatherv, MPI_Send, MPI_Recv, MPI_Allreduce) and hands
// each on to its PMPI_ twin, MPI's profiling interface: the products are
// measured as they are, with no counter inside the library.
//
// What counts: the payload of each call, once from the side of the rank it
// leaves and once from the side of the rank it reaches; never a rank's data
// to itself. A broadcast's root sends its buffer to each other rank and each
// other rank receives it once, whatever tree MPI uses underneath; an
// allreduce counts each rank's buffer once sent and once received. What MPI
// exchanges on its own (creating communicators, its protocol headers) is not
// counted.
#pragma once

#include <cstdint>

namespace mpi_compare {

struct traffic {
  uint64_t sent = 0;
  uint64_t received = 0;
};

// Starts counting from zero.
void start_counting();

// Stops counting and returns what was counted since start_counting.
traffic stop_counting();

}  // namespace mpi_compare
