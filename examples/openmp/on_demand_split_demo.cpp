// on_demand_split_demo: a dynamic schedule hands out iterations to whoever is free.
//
// What it shows: schedule(dynamic, 2) cuts the 10 iterations into 5 chunks of 2 and gives the
// next chunk to the next thread that asks. Odd-numbered threads do small work (1 second per
// iteration), even-numbered threads big work (10 seconds).
// What to watch for: an odd thread finishes a chunk in 2 seconds and comes back for more while
// an even thread spends 20 seconds on one chunk, so the odd threads end up with most chunks
// (with 2 threads, 4 of the 5). Compare with fixed_split_demo, whose blocks are fixed in
// advance.
#include <omp.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr unsigned kSmallWorkSeconds = 1;
constexpr unsigned kBigWorkSeconds = 10;

}  // namespace

int main() {
  const int n = 10;

#pragma omp parallel default(none) shared(n)
  {
    const int tid = omp_get_thread_num();
    std::printf("Hello World from thread = %d\n", tid);

#pragma omp for schedule(dynamic, 2)
    for (int i = 0; i < n; i++) {
      const int parity = tid % 2;
      if (parity == 1) {
        std::printf("TID (%d) ->Inside smallWork function(%d)(i=%d)\n", tid, parity, i);
        sleep(kSmallWorkSeconds);
        std::printf("TID (%d) ->Out of smallWork function(%d)\n", tid, parity);
      } else {
        std::printf("TID (%d) ->Inside bigWork function(%d)(i=%d)\n", tid, parity, i);
        sleep(kBigWorkSeconds);
        std::printf("TID (%d) ->Out of bigWork function(%d)\n", tid, parity);
      }
    }
  }
  return 0;
}
