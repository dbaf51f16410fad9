// Helpers of the MPI tests: every rank's finding, gathered on rank 0.
#pragma once

#include <mpi.h>

#include <string>
#include <vector>

namespace mpi_test {

inline int rank() {
  int r = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}

inline int ranks() {
  int s = 0;
  MPI_Comm_size(MPI_COMM_WORLD, &s);
  return s;
}

// Every rank's `ok` on rank 0 (empty elsewhere). Collective.
inline std::vector<int> gather_flags(bool ok) {
  const int mine = ok ? 1 : 0;
  std::vector<int> all(rank() == 0 ? static_cast<size_t>(ranks()) : 0);
  MPI_Gather(&mine, 1, MPI_INT, all.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
  return all;
}

// The ranks (as text) whose flag is 0, on rank 0; "" when none.
inline std::string failing_ranks(bool ok) {
  std::string which;
  const auto all = gather_flags(ok);
  for (size_t r = 0; r < all.size(); ++r) {
    if (all[r] == 0) {
      which += (which.empty() ? "" : ", ") + std::to_string(r);
    }
  }
  return which;
}

}  // namespace mpi_test
