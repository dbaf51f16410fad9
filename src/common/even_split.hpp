// The even split of a run of items over a number of parts: the one rule by which the team
// kernel deals out rows, columns and panels to its threads and the MPI products deal out
// rows and columns to their ranks, with its inverse.
#pragma once

#include <cstdint>

namespace dense_detail {

// A half-open range [begin, end) of items.
struct item_range {
  int32_t begin;
  int32_t end;
};

// Part `index` of `parts` when the items [0, total) are dealt out in
// consecutive whole units of `unit` items (the last unit may be short): the
// parts' unit counts differ by at most one, the first ones take the extra
// units, and the parts past the units are empty. Pure; parts >= 1, index in
// [0, parts), unit >= 1, total >= 0. Computed in 64 bits, so no total up to
// INT32_MAX overflows.
item_range even_part(int32_t total, int32_t parts, int32_t index, int32_t unit = 1);

// The inverse of even_part: the index of the part that holds item `item`
// (in [0, total)) when [0, total) is dealt out as even_part deals it.
int32_t part_holding(int32_t total, int32_t parts, int32_t item, int32_t unit = 1);

}  // namespace dense_detail
