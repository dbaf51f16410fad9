// The products' overlap switch (overlap.hpp).
#include "mpi/overlap.hpp"

#include <atomic>

namespace mpi_detail {

namespace {

// Read by every product call, set by a program before its products run.
std::atomic<bool> overlapping{true};

}  // namespace

void set_overlap(bool on) { overlapping.store(on, std::memory_order_relaxed); }

bool overlap() { return overlapping.load(std::memory_order_relaxed); }

}  // namespace mpi_detail
