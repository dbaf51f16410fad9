// combined_total_demo: the sum of unguarded_total_demo done right, with a reduction.
//
// What it shows: reduction(+ : sum). Each thread adds its block of products into a private
// partial sum that starts at 0, and the runtime adds the partial sums into the shared sum once
// per thread, atomically, at the end of the loop. The loop itself touches no shared variable.
// What to watch for: the line is the same for every OMP_NUM_THREADS: the sum of the squares of
// 1 to 10000, 333383335000. Every partial sum is an integer below 2^53, so doubles hold it
// exactly and the order of the additions cannot show.
#include <cstdio>

namespace {

constexpr int kSize = 10000;

}  // namespace

int main() {
  double a[kSize];
  double b[kSize];
  const int n = kSize;
  for (int i = 0; i < n; i++) {
    a[i] = i + 1.0;
    b[i] = a[i];
  }
  double sum = 0.0;

#pragma omp parallel default(none) shared(a, b, n, sum)
  {
#pragma omp for schedule(static) reduction(+ : sum)
    for (int i = 0; i < n; i++) {
      sum += a[i] * b[i];
    }
  }

  std::printf("   Sum = %lf\n", sum);
  return 0;
}
