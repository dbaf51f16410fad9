// team_product_demo: the product of serial_product_demo, shared out over an OpenMP team.
//
// What it shows: work-shared loops with schedule(static, 10). The rows of a, b and c are cut
// into chunks of 10 and chunk m goes to thread m mod T, so every row is written by exactly one
// thread and no lock is needed. The barrier at the end of each fill loop makes the whole of a,
// b and the zeroed c visible before any thread starts multiplying.
// What to watch for: the "Thread=... did row=..." lines come in a different order on every
// run, yet each row appears once, and the result block equals serial_product_demo's byte for
// byte. With more than 7 threads, threads 7 and up get no row at all (62 rows make 7 chunks)
// but still say they are starting.
#include <omp.h>

#include <cstdio>

namespace {

constexpr int kRowsA = 62;  // rows of a and c
constexpr int kColsA = 15;  // columns of a, rows of b: the inner dimension
constexpr int kColsB = 7;   // columns of b and c

}  // namespace

int main() {
  double a[kRowsA][kColsA];
  double b[kColsA][kColsB];
  double c[kRowsA][kColsB];
  int nthreads = 0;  // written by thread 0 only
  int chunk = 10;    // set before the region, only read inside it

#pragma omp parallel default(none) shared(a, b, c, nthreads, chunk)
  {
    const int tid = omp_get_thread_num();
    if (tid == 0) {
      nthreads = omp_get_num_threads();
      std::printf("Starting matrix multiple example with %d threads\n", nthreads);
      std::printf("Initializing matrices...\n");
    }
    // No barrier here: the other threads go straight on to their share of the fills.

#pragma omp for schedule(static, chunk)
    for (int i = 0; i < kRowsA; i++) {
      for (int j = 0; j < kColsA; j++) {
        a[i][j] = i + j;
      }
    }
#pragma omp for schedule(static, chunk)
    for (int i = 0; i < kColsA; i++) {
      for (int j = 0; j < kColsB; j++) {
        b[i][j] = i * j;
      }
    }
#pragma omp for schedule(static, chunk)
    for (int i = 0; i < kRowsA; i++) {
      for (int j = 0; j < kColsB; j++) {
        c[i][j] = 0.0;
      }
    }

    std::printf("Thread %d starting matrix multiply...\n", tid);
#pragma omp for schedule(static, chunk)
    for (int i = 0; i < kRowsA; i++) {
      std::printf("Thread=%d did row=%d\n", tid, i);
      for (int j = 0; j < kColsB; j++) {
        for (int k = 0; k < kColsA; k++) {
          c[i][j] += a[i][k] * b[k][j];
        }
      }
    }
  }

  std::printf("******************************************************\n");
  std::printf("Result Matrix:\n");
  for (int i = 0; i < kRowsA; i++) {
    for (int j = 0; j < kColsB; j++) {
      std::printf("%6.2f   ", c[i][j]);
    }
    std::printf("\n");
  }
  std::printf("******************************************************\n");
  std::printf("Done.\n");
  return 0;
}
