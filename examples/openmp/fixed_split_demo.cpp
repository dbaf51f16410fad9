// fixed_split_demo: a static schedule hands out iterations before anyone knows how long they take.
//
// What it shows: schedule(static) gives each thread one contiguous block of the 10 iterations,
// fixed in advance (with 4 threads: 0-2, 3-5, 6-7, 8-9). Odd-numbered threads do small work
// (1 second per iteration), even-numbered threads big work (5 seconds): the kind of work
// depends on who runs an iteration, never on the iteration itself.
// What to watch for: with 2 threads, thread 0 sleeps through 5 big iterations (25 seconds)
// while thread 1 is done after 5; the run lasts as long as the slowest block. Compare with
// on_demand_split_demo. With more than 10 threads, threads 10 and up only say hello.
#include <omp.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr unsigned kSmallWorkSeconds = 1;
constexpr unsigned kBigWorkSeconds = 5;

}  // namespace

int main() {
  const int n = 10;

#pragma omp parallel default(none) shared(n)
  {
    const int tid = omp_get_thread_num();
    std::printf("Hello World from thread = %d\n", tid);

#pragma omp for schedule(static)
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
