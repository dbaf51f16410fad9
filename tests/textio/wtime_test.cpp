// The wall clock: what it reads and what it measures.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <dense/textio.hpp>

TEST(Wtime, ReadsTheWallClockWithMicroseconds) {
  timeval before{};
  timeval after{};
  gettimeofday(&before, nullptr);
  const double now = textio::wtime();
  gettimeofday(&after, nullptr);
  EXPECT_GE(now,
            static_cast<double>(before.tv_sec) + static_cast<double>(before.tv_usec) / 1e6 - 1e-6);
  EXPECT_LE(now,
            static_cast<double>(after.tv_sec) + static_cast<double>(after.tv_usec) / 1e6 + 1e-6);

  // The fraction carries microseconds: some reading is not a whole second.
  bool fractional = false;
  for (int i = 0; i < 100 && !fractional; ++i) {
    const double t = textio::wtime();
    fractional = t != std::floor(t);
    usleep(7);
  }
  EXPECT_TRUE(fractional);
}

TEST(Wtime, MeasuresASleep) {
  const double start = textio::wtime();
  usleep(200000);
  const double elapsed = textio::wtime() - start;
  EXPECT_GE(elapsed, 0.195);
  EXPECT_LT(elapsed, 1.0);
}
