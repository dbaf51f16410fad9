// race_counter: POSIX threads counting on one shared integer without a lock.
//
// What it shows: threads with an even index subtract 1 from the global `total`, threads with
// an odd index add 1, each `nloop` times. Every step reads `total`, changes the value and
// writes it back; each read and each write is a single relaxed atomic access, so the program
// is well defined, but nothing keeps another thread from writing in between, and that update
// is then lost.
// What to watch for: the exact answer is minus the loop count when the thread count is odd and
// 0 when it is even (each even/odd pair cancels). With one thread it always is; with several
// threads and a large loop count (try `race_counter 4 10000000`) the final total wanders away
// from it, differently on every run. The start and end lines show `total` as it happened to be
// at that moment.
//
// Usage: race_counter <thread count> <loop count>
// Both counts are whole decimal numbers in the 32-bit range (an optional sign, then digits);
// anything else gets the usage line and status 1 rather than a run with a count the user did
// not ask for. Zero and negative counts are accepted: they start no thread or change nothing.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/textio.hpp>

namespace {

// One per thread, filled by main before the thread starts and only read by that thread.
struct counter_arg {
  int32_t id;        // the thread's index, 0 .. thread count - 1
  int32_t nthreads;  // the number of threads started (not read by the thread)
  int32_t nloop;     // how many times the thread changes `total`
  char sign;         // '-' for an even index, '+' for an odd one
};

int32_t total = 0;

int32_t read_total() { return std::atomic_ref<int32_t>(total).load(std::memory_order_relaxed); }

void write_total(int32_t value) {
  std::atomic_ref<int32_t>(total).store(value, std::memory_order_relaxed);
}

void* exec_thread(void* arg) {
  const auto* me = static_cast<const counter_arg*>(arg);
  std::printf("(exec_thread) (%c) thread_init(%d); loop/total = %d/%d\n", me->sign, me->id,
              me->nloop, read_total());
  for (int32_t k = 0; k < me->nloop; k++) {
    // Read, change by one, write back: the window in which another thread's step is lost.
    // The arithmetic wraps at 32 bits, so even a huge loop count stays well defined.
    const auto seen = static_cast<uint32_t>(read_total());
    write_total(static_cast<int32_t>(me->sign == '-' ? seen - 1u : seen + 1u));
  }
  std::printf("(exec_thread) (%c) thread_end(%d); loop/total = %d/%d\n", me->sign, me->id,
              me->nloop, read_total());
  return nullptr;
}

// Reads a whole decimal number in the int32 range: an optional sign, then only digits.
bool parse_count(const char* text, int32_t* value) {
  const char* digits = text + (*text == '+' || *text == '-' ? 1 : 0);
  if (*digits == '\0') {
    return false;
  }
  for (const char* p = digits; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') {
      return false;
    }
  }
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  *value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t nthreads = 0;
  int32_t nloop = 0;
  if (argc != 3 || !parse_count(argv[1], &nthreads) || !parse_count(argv[2], &nloop)) {
    std::printf("Uso: %s <nro processos> <n do loop>\n", argc > 0 ? argv[0] : "race_counter");
    return 1;
  }

  // A count of 0 or below starts no thread and needs no arrays.
  const size_t count = nthreads > 0 ? static_cast<size_t>(nthreads) : 0;
  pthread_t* threads = nullptr;
  counter_arg* args = nullptr;
  if (count > 0) {
    threads = static_cast<pthread_t*>(std::malloc(count * sizeof(pthread_t)));
    args = static_cast<counter_arg*>(std::malloc(count * sizeof(counter_arg)));
    if (threads == nullptr || args == nullptr) {
      std::printf("ERROR: Out of memory\n");
      std::free(threads);
      std::free(args);
      return 1;
    }
  }

  const double start = textio::wtime();
  size_t created = 0;
  bool all_created = true;
  for (size_t i = 0; i < count; i++) {
    args[i] = counter_arg{static_cast<int32_t>(i), nthreads, nloop, i % 2 == 1 ? '+' : '-'};
    const int rc = pthread_create(&threads[i], nullptr, exec_thread, &args[i]);
    if (rc != 0) {
      // Out of threads or memory for stacks: later threads would fail too. Only the threads
      // that exist are joined; the run is reported as failed.
      std::fflush(stdout);
      std::fprintf(stderr, "race_counter: cannot create thread %zu of %d: %s\n", i, nthreads,
                   std::strerror(rc));
      all_created = false;
      break;
    }
    created++;
  }
  for (size_t i = 0; i < created; i++) {
    pthread_join(threads[i], nullptr);
  }
  const double end = textio::wtime();

  std::printf("%d %f / total = %d\n", nthreads, end - start, total);
  std::fflush(stdout);
  std::free(threads);
  std::free(args);
  return all_created ? 0 : 1;
}
