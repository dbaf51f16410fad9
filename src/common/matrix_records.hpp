// Matrix records on the heap: the new zeroed result a product returns, and
// the release of such a result.
//
// These only allocate and free; what a failure means is the caller's policy
// (end the process, return null, or go on with a record without storage), so
// none of them prints "out of memory" itself.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>

namespace dense_detail {

// A heap record {nullptr, lin, col} without storage, or null when the heap
// is exhausted. Free it with std::free (or release_matrix).
dense_core::matriz* new_matrix_record(int32_t lin, int32_t col);

// A heap record for a lin x col matrix with zeroed storage (malocar, then
// mzerar), or null. The storage is asked for before the record, so a count
// below 1 is always explained by malocar's own message, and a null result
// with both counts positive always means the heap is exhausted (nothing
// printed). Release it with release_matrix.
dense_core::matriz* new_zeroed_matrix(int32_t lin, int32_t col);

// Releases a matrix a product returned: its storage through mliberar (when
// it has any, so nothing is printed), then the record. Accepts null.
void release_matrix(dense_core::matriz* m);

}  // namespace dense_detail
