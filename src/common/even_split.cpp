// The even split and its inverse.
#include "common/even_split.hpp"

namespace dense_detail {
namespace {

// How units of `unit` items fall on `parts` parts: every part takes `base`
// units and the first `extra` parts one more.
struct unit_split {
  int64_t base;
  int64_t extra;
};

unit_split units_over(int32_t total, int32_t parts, int32_t unit) {
  const int64_t units = (int64_t{total} + unit - 1) / unit;
  return {units / parts, units % parts};
}

int64_t min64(int64_t x, int64_t y) { return x < y ? x : y; }

}  // namespace

item_range even_part(int32_t total, int32_t parts, int32_t index, int32_t unit) {
  const unit_split s = units_over(total, parts, unit);
  const int64_t first = index * s.base + min64(index, s.extra);
  const int64_t count = s.base + (index < s.extra ? 1 : 0);
  // Only the last unit can be short: clamp both ends to the items.
  return {static_cast<int32_t>(min64(first * unit, total)),
          static_cast<int32_t>(min64((first + count) * unit, total))};
}

int32_t part_holding(int32_t total, int32_t parts, int32_t item, int32_t unit) {
  const unit_split s = units_over(total, parts, unit);
  const int64_t at = item / unit;
  // The first `extra` parts hold base + 1 units each, the rest base each
  // (base > 0 whenever a unit lies past the longer parts).
  const int64_t long_end = s.extra * (s.base + 1);
  if (at < long_end) {
    return static_cast<int32_t>(at / (s.base + 1));
  }
  return static_cast<int32_t>(s.extra + (at - long_end) / s.base);
}

}  // namespace dense_detail
