// The shared test main.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // libgomp hangs in a plainly forked child once the parent has run an
  // OpenMP region: death tests re-execute the test binary instead.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
