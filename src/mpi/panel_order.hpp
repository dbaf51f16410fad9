// The order in which one rank of SUMMA's look-ahead loop posts and multiplies
// its panels: pure bookkeeping, apart from MPI, so that it can be followed
// step by step.
//
// Every rank posts the panels in the same order, 0, 1, 2, ... (broadcasts on
// one communicator must match), each into the slot that its panel two before
// has left: two slots take turns, so one panel travels while another is
// multiplied, and a panel is posted only once the one two before it is
// multiplied. Of the two posted panels, a rank multiplies the older one first
// unless that one has not come and the newer one is wholly the rank's own
// (multiplied where it lies, waiting for nobody). So on two ranks each starts
// on its own half of the inner index instead of one waiting for the other's
// first panel. Additions of int32 wrap, so the order changes no bit of c.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace mpi_detail {

class panel_order {
 public:
  explicit panel_order(size_t panels) : done_(panels, 0) {}

  // Whether every panel has been multiplied.
  bool finished() const { return first_ == done_.size(); }

  // Whether a panel may be posted now (the next in order, once its slot is
  // free), and which one; the caller posts it before asking again.
  bool may_post() const { return posted_ < done_.size() && posted_ <= first_ + 1; }
  size_t post() { return posted_++; }

  // The posted panel to multiply next. `prefer_own` off keeps the plain
  // order (while a dealt block is still arriving, the waits are placed for
  // that); `own(j)`: the rank holds panel j wholly; `arrived(j)`: the parts of
  // panel j that others send have come (asked only when it matters, since
  // asking lets MPI copy them).
  size_t pick(bool prefer_own, const std::function<bool(size_t)>& own,
              const std::function<bool(size_t)>& arrived) const;

  // Panel j has been multiplied.
  void multiplied(size_t j);

 private:
  std::vector<char> done_;
  size_t first_ = 0;   // the oldest panel not yet multiplied
  size_t posted_ = 0;  // panels [0, posted_) are posted
};

}  // namespace mpi_detail
