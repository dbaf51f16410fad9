// The main of the MPI test programs: every rank runs every test; rank 0 reports.
//
// The tests call collective operations, so every rank must run the same tests
// in the same order and never leave one early (EXPECT, never ASSERT, around a
// collective). Each test gathers the ranks' findings and checks them on rank
// 0; a failure on any rank still fails that rank's exit status, and mpirun
// passes it on.
#include <gtest/gtest.h>
#include <mpi.h>

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::InitGoogleTest(&argc, argv);
  if (rank != 0) {
    // One report, not one per rank.
    auto& listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  const int failed = RUN_ALL_TESTS();
  MPI_Finalize();
  return failed;
}
