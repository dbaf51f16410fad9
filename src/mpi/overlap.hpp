// Whether the MPI products overlap their messages with computation: on, unless a program turns it
// off to show what the overlap hides (mpi_compare --no-overlap).
//
// On: rank 0 computes while the blocks it dealt are still being copied out of
// its memory, the other ranks of multiplicarSUMMA start on their panels before
// all their blocks have come, and SUMMA posts the next panel's broadcasts
// before it multiplies the current one (look-ahead).
// Off: each rank waits where a blocking call would. Rank 0 waits until every
// block it dealt has been received before it goes on; the other ranks wait for
// all their blocks before the first panel; each panel's broadcasts end on
// every rank of its grid row and column before anyone multiplies it. The same
// messages travel in the same order and the kernel makes the same calls, so
// the results are bit-identical: only where each rank waits changes.
#pragma once

namespace mpi_detail {

// For the whole process; set it before a product, on every rank alike.
void set_overlap(bool on);
bool overlap();

}  // namespace mpi_detail
