// The two matrix-product lessons: one result block, whoever computes it.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "program_output.hpp"
#include "support/child.hpp"

namespace {

using examples_test::format;
using examples_test::omp_env;
using examples_test::split_lines;
using test_support::run_program;

constexpr int kRows = 62;
constexpr int kCols = 7;

// The result block from the closed form c[i][j] = j * (i * s1 + s2), s1 = sum of k and
// s2 = sum of k^2 over k = 0 .. 14.
std::string closed_form_block() {
  const int s1 = 105;
  const int s2 = 1015;
  std::string block = std::string(54, '*') + "\nResult Matrix:\n";
  for (int i = 0; i < kRows; i++) {
    for (int j = 0; j < kCols; j++) {
      block += format("%6.2f   ", j * (i * s1 + s2) * 1.0);
    }
    block += "\n";
  }
  return block + std::string(54, '*') + "\nDone.\n";
}

TEST(SerialProductDemo, PrintsTheClosedFormResultBlock) {
  const auto r = run_program(SERIAL_PRODUCT_DEMO, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, closed_form_block());
  const auto lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 66u);
  // Zero is right-aligned in six characters; the largest value overflows the field untruncated.
  EXPECT_EQ(lines[2].substr(0, 9), "  0.00   ");
  EXPECT_EQ(lines[63],
            "  0.00   7420.00   14840.00   22260.00   29680.00   37100.00   "
            "44520.00   ");
}

TEST(TeamProductDemo, OneThreadRunsEveryRowInOrder) {
  const auto r = run_program(TEAM_PRODUCT_DEMO, {}, omp_env("1"));
  EXPECT_EQ(r.status, 0);
  std::string expected =
      "Starting matrix multiple example with 1 threads\nInitializing matrices...\n"
      "Thread 0 starting matrix multiply...\n";
  for (int i = 0; i < kRows; i++) {
    expected += format("Thread=0 did row=%d\n", i);
  }
  EXPECT_EQ(r.out, expected + closed_form_block());
}

// With T threads, chunk m of 10 rows belongs to thread m mod T; each thread reports its rows
// in ascending order, after its own "starting" line; every row appears exactly once.
TEST(TeamProductDemo, SharesRowsInChunksOfTenAndPrintsTheSerialBlock) {
  const std::string serial = run_program(SERIAL_PRODUCT_DEMO, {}).out;
  ASSERT_EQ(serial, closed_form_block());
  for (int team : {1, 2, 3, 8}) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(team));
    const auto r = run_program(TEAM_PRODUCT_DEMO, {}, omp_env(std::to_string(team)));
    EXPECT_EQ(r.status, 0);
    ASSERT_GE(r.out.size(), serial.size());
    EXPECT_EQ(r.out.substr(r.out.size() - serial.size()), serial);

    const auto lines = split_lines(r.out.substr(0, r.out.size() - serial.size()));
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 + team + kRows));
    // Thread 0's two lines come first: nobody else prints before the fill loops' barriers.
    EXPECT_EQ(lines[0], format("Starting matrix multiple example with %d threads", team));
    EXPECT_EQ(lines[1], "Initializing matrices...");

    std::map<int, std::vector<int>> rows_of;  // thread -> rows in the order it printed them
    std::set<int> started;
    std::multiset<int> rows_seen;
    for (size_t n = 2; n < lines.size(); n++) {
      int tid = -1;
      int row = -1;
      char tail = 0;
      if (std::sscanf(lines[n].c_str(), "Thread=%d did row=%d%c", &tid, &row, &tail) == 2) {
        EXPECT_EQ(lines[n], format("Thread=%d did row=%d", tid, row));
        EXPECT_TRUE(started.count(tid)) << "row line before its thread started: " << lines[n];
        rows_of[tid].push_back(row);
        rows_seen.insert(row);
      } else {
        ASSERT_EQ(std::sscanf(lines[n].c_str(), "Thread %d starting", &tid), 1) << lines[n];
        EXPECT_EQ(lines[n], format("Thread %d starting matrix multiply...", tid));
        EXPECT_TRUE(started.insert(tid).second) << "started twice: " << tid;
      }
    }
    EXPECT_EQ(started.size(), static_cast<size_t>(team));
    EXPECT_TRUE(started.empty() || (*started.begin() == 0 && *started.rbegin() == team - 1));
    for (int row = 0; row < kRows; row++) {
      EXPECT_EQ(rows_seen.count(row), 1u) << "row " << row;
    }
    for (int tid = 0; tid < team; tid++) {
      std::vector<int> expected;
      for (int row = 0; row < kRows; row++) {
        if ((row / 10) % team == tid) {
          expected.push_back(row);
        }
      }
      EXPECT_EQ(rows_of[tid], expected) << "rows of thread " << tid;
    }
  }
}

}  // namespace
