// The one rule by which the kit's programs refuse a run that cannot fit: what it needs at its
// peak against the memory this machine can still give.
#pragma once

#include <cstdint>
#include <string>

namespace tool_common {

// Heap bytes of a matrix: the row table and every row with the allocator's
// bookkeeping (a double: sizes near the int32 limit overflow 64-bit counts).
double matrix_bytes(int64_t rows, int64_t cols);

// Bytes this machine can still give (MemAvailable: free memory plus the
// caches it can drop), or 0 when unknown.
uint64_t available_bytes();

// Empty when `need` bytes fit in `available` (or `available` is 0, unknown),
// else the refusal, e.g. "--size: A 9x9 times B 9x9 with one band per thread
// needs about 2.0 GiB of memory; this machine has 1.5 GiB available", where
// `option` fixed the shape and `detail` (" with one band per thread") says
// what makes the run that large.
std::string memory_refusal(const std::string& option, int32_t rows, int32_t inner, int32_t cols,
                           const std::string& detail, double need, double available);

}  // namespace tool_common
