// The even split of items over parts, and its inverse.
#include "common/even_split.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

using dense_detail::even_part;
using dense_detail::part_holding;

TEST(EvenSplit, PartsDifferByAtMostOneUnitAndTheFirstTakeTheExtra) {
  struct row {
    int32_t total, unit, parts, index, begin, end;
  };
  for (const row& r : std::vector<row>{{10, 1, 4, 0, 0, 3},  // 3 3 2 2
                                       {10, 1, 4, 2, 6, 8},
                                       {10, 1, 4, 3, 8, 10},
                                       {100, 12, 2, 0, 0, 60},    // 9 units: 5 + 4
                                       {100, 12, 2, 1, 60, 100},  // the short unit last
                                       {5, 12, 3, 0, 0, 5},       // one unit for three parts
                                       {5, 12, 3, 1, 5, 5},       // ... the others are empty
                                       {5, 12, 3, 2, 5, 5},
                                       {2147483647, 32, 2, 1, 1073741824, 2147483647}}) {
    SCOPED_TRACE(testing::Message()
                 << r.total << "/" << r.unit << " part " << r.index << " of " << r.parts);
    const auto got = even_part(r.total, r.parts, r.index, r.unit);
    EXPECT_EQ(got.begin, r.begin);
    EXPECT_EQ(got.end, r.end);
  }
}

// The items of a part to look up: all of them in a small split, the first
// two and the last two in a huge one.
std::vector<int32_t> items_of(dense_detail::item_range part) {
  std::vector<int32_t> items;
  for (int64_t i = part.begin; i < part.end; ++i) {
    if (i == int64_t{part.begin} + 2 && part.end - i > 1000) {
      i = int64_t{part.end} - 2;
    }
    items.push_back(static_cast<int32_t>(i));
  }
  return items;
}

TEST(EvenSplit, EveryItemLiesInThePartTheInverseNames) {
  struct row {
    int32_t total, parts, unit;
  };
  for (const row& r : std::vector<row>{{10, 4, 1},
                                       {10, 10, 1},
                                       {3, 7, 1},     // more parts than items
                                       {100, 3, 12},  // a short last unit
                                       {5, 3, 12},    // one unit, two empty parts
                                       {96, 4, 12},   // units that divide evenly
                                       {1, 1, 1},
                                       {37, 1, 5},
                                       {INT32_MAX, 3, 1},
                                       {INT32_MAX, 5, 32}}) {
    SCOPED_TRACE(testing::Message() << r.total << " over " << r.parts << " in units of " << r.unit);
    int32_t expected_begin = 0;
    int64_t fewest = INT64_MAX;
    int64_t most = 0;
    for (int32_t p = 0; p < r.parts; ++p) {
      const auto got = even_part(r.total, r.parts, p, r.unit);
      ASSERT_EQ(got.begin, expected_begin) << "part " << p;  // consecutive, no gap, no overlap
      ASSERT_LE(got.begin, got.end) << "part " << p;
      expected_begin = got.end;
      const int64_t units = (int64_t{got.end} - got.begin + r.unit - 1) / r.unit;
      fewest = std::min(fewest, units);
      most = std::max(most, units);
      for (const int32_t i : items_of(got)) {
        ASSERT_EQ(part_holding(r.total, r.parts, i, r.unit), p) << "item " << i << " of " << p;
      }
    }
    EXPECT_EQ(expected_begin, r.total);  // the parts cover every item
    EXPECT_LE(most - fewest, 1);
  }
}

}  // namespace
