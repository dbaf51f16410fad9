// unguarded_total_demo: eight threads add into one shared sum with no protection at all.
//
// What it shows: a lost update. Every iteration reads the shared sum, adds its product and
// writes the sum back. Each read and each write is a single atomic access (so the program is
// well defined), but nothing keeps another thread from writing in between: its update is then
// overwritten and lost.
// What to watch for: the exact answer is the sum of i*i for i < 10000, 333283335000. Float
// rounding alone moves the last digits; a lost update makes the result smaller, by a different
// amount on each run. combined_total_demo shows the cure, a reduction.
#include <omp.h>

#include <cstdio>

namespace {

constexpr int kSize = 10000;

}  // namespace

int main() {
  float a[kSize];
  float b[kSize];
  const int n = kSize;
  for (int i = 0; i < n; i++) {
    a[i] = static_cast<float>(i);
    b[i] = a[i];
  }
  float sum = 0.0f;

#pragma omp parallel num_threads(8) default(none) shared(a, b, n, sum)
  {
#pragma omp for schedule(static)
    for (int i = 0; i < n; i++) {
      const float product = a[i] * b[i];
      // Read, add, write back: three steps another thread can interleave with.
      float seen;
#pragma omp atomic read
      seen = sum;
#pragma omp atomic write
      sum = seen + product;
    }
  }

  std::printf("   Sum = %f\n", static_cast<double>(sum));
  return 0;
}
