// The order of SUMMA's panels on one rank, followed step by step: what is
// posted when, and what is multiplied first.
#include "mpi/panel_order.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct order_case {
  const char* name;
  size_t panels;
  std::set<size_t> own;  // the panels the rank holds wholly
  bool come;             // whether the others' panels have come when asked
  bool prefer_own;
  const char* want;  // p: posted, m: multiplied, in that order
  int asked;         // how often the rank asked whether a panel had come
};

TEST(PanelOrder, OwnPanelsGoFirstOnlyWhenTheOlderOneHasNotCome) {
  const order_case cases[] = {
      {"rank 1 of 2, panel 0 not come", 2, {1}, false, true, "p0 p1 m1 m0", 1},
      {"rank 1 of 2, panel 0 come", 2, {1}, true, true, "p0 p1 m0 m1", 1},
      {"rank 0 of 2", 2, {0}, false, true, "p0 p1 m0 m1", 0},
      {"one rank", 3, {0, 1, 2}, false, true, "p0 p1 m0 p2 m1 m2", 0},
      // A swap holds the slot of the older panel, so the next post waits for it.
      {"three panels each, rank 1",
       6,
       {3, 4, 5},
       false,
       true,
       "p0 p1 m0 p2 m1 p3 m3 m2 p4 p5 m4 m5",
       1},
      {"a dealt block still arriving",
       6,
       {3, 4, 5},
       false,
       false,
       "p0 p1 m0 p2 m1 p3 m2 p4 m3 p5 m4 m5",
       0},
  };
  for (const auto& c : cases) {
    mpi_detail::panel_order order(c.panels);
    std::string log;
    int asked = 0;
    auto post = [&] { log += "p" + std::to_string(order.post()) + " "; };
    post();
    while (!order.finished()) {
      while (order.may_post()) {
        post();
      }
      const size_t i = order.pick(
          c.prefer_own, [&](size_t j) { return c.own.count(j) != 0; },
          [&](size_t) {
            ++asked;
            return c.come;
          });
      log += "m" + std::to_string(i) + " ";
      order.multiplied(i);
    }
    EXPECT_EQ(log, std::string(c.want) + " ") << c.name;
    EXPECT_EQ(asked, c.asked) << c.name;
  }
}

}  // namespace
