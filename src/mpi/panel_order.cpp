// The order of SUMMA's panels on one rank (panel_order.hpp).
#include "mpi/panel_order.hpp"

#include <cassert>

namespace mpi_detail {

size_t panel_order::pick(bool prefer_own, const std::function<bool(size_t)>& own,
                         const std::function<bool(size_t)>& arrived) const {
  assert(!finished() && first_ < posted_);
  const size_t next = first_ + 1;
  if (prefer_own && next < posted_ && done_[next] == 0 && !own(first_) && own(next) &&
      !arrived(first_)) {
    return next;
  }
  return first_;
}

void panel_order::multiplied(size_t j) {
  assert(j < posted_ && done_[j] == 0);
  done_[j] = 1;
  while (first_ < done_.size() && done_[first_] != 0) {
    ++first_;
  }
}

}  // namespace mpi_detail
