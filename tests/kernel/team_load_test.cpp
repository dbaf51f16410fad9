// How many threads a product's team gets under load: the pure rule.
#include "kernel/team_load.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using team_kernel::detail::kSmallWork;
using team_kernel::detail::kTinyWork;
using team_kernel::detail::team_for_load;

TEST(TeamLoad, ASmallProductTakesOnlyTheCpusOthersLeaveFreeALargeOneItsWholeTeam) {
  struct row {
    int32_t team;
    int64_t work;
    int32_t cpus, others;
    int32_t want;
  };
  for (const row& r : std::vector<row>{
           {2, kSmallWork, 2, 0, 2},      // quiet: the whole team
           {2, kSmallWork, 2, 1, 1},      // one busy process on two CPUs: the caller alone
           {2, kSmallWork, 2, 2, 1},      // never below one
           {4, kSmallWork, 8, 5, 3},      // three CPUs free
           {8, kSmallWork, 4, 0, 4},      // never more than the CPUs
           {2, kSmallWork, 2, -3, 2},     // a count read mid-change
           {2, kSmallWork + 1, 2, 2, 2},  // large: self-balancing pays for a late member
           {2, kTinyWork, 2, 0, 1},       // tiny: waking a helper costs more than it does
           {4, kTinyWork + 1, 4, 0, 4},   // just past tiny, quiet: the whole team
           {1, 1000, 2, 0, 1}}) {
    SCOPED_TRACE(testing::Message() << r.team << " threads, " << r.work << " multiply-adds, "
                                    << r.others << " others on " << r.cpus << " CPUs");
    EXPECT_EQ(team_for_load(r.team, r.work, r.cpus, r.others), r.want);
  }
}

}  // namespace
