// nested_sum_demo: a work-shared loop with private partial sums, inside another parallel region.
//
// What it shows: every outer thread opens an inner region of its own. The inner team splits the
// 100 elements (schedule(static)) and each inner thread sums its share into a private partial
// sum. Only the inner thread that runs the last iteration adds its partial sum into the one
// shared sum, by a read, an add and a write back: the other partial sums are simply dropped,
// and the outer threads' closing additions can overwrite each other.
// What to watch for: with nesting inactive (the runtime's default) each inner team has one
// thread, which sums all 100 elements: every line shows a partial sum of 100.000000 and the
// final sum is 100 times the number of outer threads, unless two closing additions collided.
// Turn nesting on (OMP_MAX_ACTIVE_LEVELS=2) and the inner teams split the elements, so only
// the last share of each team reaches the sum.
#include <omp.h>

#include <cstdio>

namespace {

constexpr int kSize = 100;

}  // namespace

int main() {
  double a[kSize];
  double b[kSize];
  const int n = kSize;
  for (int i = 0; i < n; i++) {
    a[i] = 1.0;
    b[i] = a[i];
  }
  double sum = 0.0;
  double partial = 0.0;  // each inner thread gets its own copy; this one stays untouched

#pragma omp parallel default(none) shared(a, b, n, sum, partial)
  {
    const int outer_tid = omp_get_thread_num();

#pragma omp parallel default(none) shared(a, b, n, sum, outer_tid) private(partial)
    {
      partial = 0.0;
#pragma omp for schedule(static)
      for (int i = 0; i < n; i++) {
        partial += a[i] * b[i];
        if (i == n - 1) {
          // Closing step, on the thread holding the last iteration, after its own products:
          // read the shared sum, add, write back. Nothing stops another team in between.
          double seen;
#pragma omp atomic read
          seen = sum;
#pragma omp atomic write
          sum = seen + partial;
#pragma omp atomic read
          seen = sum;
          std::printf("   Private Sum(%d)(%lf) = %lf\n", outer_tid, seen, partial);
        }
      }
    }
  }

  std::printf("   Private Sum = %f\n", sum);
  return 0;
}
