// own_copy_demo: private against shared variables.
//
// What it shows: inside the region, tid and private_value are private: every thread gets its
// own uninitialised copies, and main's variables are neither read nor changed. sum is shared:
// there is one of it, and every thread stores its number into it (a plain, unordered store,
// made as one atomic write so the program stays well defined).
// What to watch for: after the region, main's tid is still 999 and its private_value still
// 0.000000, whatever the threads did; sum holds the number of whichever thread stored last,
// which can change from run to run.
#include <omp.h>

#include <cstdio>

int main() {
  int tid = 999;
  float private_value = 0.0f;
  float sum = private_value;

#pragma omp parallel default(none) private(tid, private_value) shared(sum)
  {
    tid = omp_get_thread_num();
    private_value = static_cast<float>(tid);
#pragma omp atomic write
    sum = private_value;
    std::printf("   Private Sum(%d) = %f\n", tid, static_cast<double>(private_value));
  }

  std::printf("   Sum/Private_sum (%d) = %f %f\n", tid, static_cast<double>(sum),
              static_cast<double>(private_value));
  tid = omp_get_thread_num();  // outside any region: 0
  std::printf("   Sum/Private_sum (%d) = %f %f\n", tid, static_cast<double>(sum),
              static_cast<double>(private_value));
  return 0;
}
