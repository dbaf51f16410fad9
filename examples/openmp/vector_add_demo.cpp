// vector_add_demo: a vector addition whose iterations are handed out one at a time.
//
// What it shows: schedule(dynamic, 1): each of the 20 iterations goes to whichever thread asks
// next, through the runtime's shared iteration counter, so every c[i] is written exactly once
// by one thread and no lock is needed.
// What to watch for: which thread computes which c[i] changes from run to run, and the lines
// come in any order, but there are always exactly 20 of them and c[i] is always 2*i.
#include <omp.h>

#include <cstdio>

namespace {

constexpr int kSize = 20;

}  // namespace

int main() {
  float a[kSize];
  float b[kSize];
  float c[kSize];
  for (int i = 0; i < kSize; i++) {
    a[i] = static_cast<float>(i);
    b[i] = a[i];
  }
  int nthreads = 0;  // written by thread 0 only

#pragma omp parallel default(none) shared(a, b, c, nthreads)
  {
    const int tid = omp_get_thread_num();
    if (tid == 0) {
      nthreads = omp_get_num_threads();
      std::printf("Number of threads = %d\n", nthreads);
    }
    // No barrier: every thread, thread 0 included, goes straight on.
    std::printf("Thread %d starting...\n", tid);

#pragma omp for schedule(dynamic, 1)
    for (int i = 0; i < kSize; i++) {
      c[i] = a[i] + b[i];
      std::printf("Thread %d: c[%d]= %f\n", tid, i, static_cast<double>(c[i]));
    }
  }
  return 0;
}
