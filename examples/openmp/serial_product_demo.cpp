// serial_product_demo: a small matrix product on one thread, the yardstick for team_product_demo.
//
// What it shows: c = a x b for fixed 62x15 and 15x7 matrices of doubles, with the plain i-j-k
// loop nest, printed as a result block.
// What to watch for: run team_product_demo with any OMP_NUM_THREADS and compare its last 66
// lines with the 66 lines printed here; they are identical, because every value is a small
// integer and the sum never rounds, whichever thread computes a row.
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

  for (int i = 0; i < kRowsA; i++) {
    for (int j = 0; j < kColsA; j++) {
      a[i][j] = i + j;
    }
  }
  for (int i = 0; i < kColsA; i++) {
    for (int j = 0; j < kColsB; j++) {
      b[i][j] = i * j;
    }
  }
  for (int i = 0; i < kRowsA; i++) {
    for (int j = 0; j < kColsB; j++) {
      c[i][j] = 0.0;
    }
  }

  for (int i = 0; i < kRowsA; i++) {
    for (int j = 0; j < kColsB; j++) {
      for (int k = 0; k < kColsA; k++) {
        c[i][j] += a[i][k] * b[k][j];
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
