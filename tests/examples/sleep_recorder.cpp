// A preloadable stand-in for sleep(3), so the scheduling lessons run in no time under test.
//
// Each call returns 0 at once and appends one line "<OpenMP thread number> <seconds>\n" to the
// file named by DENSE_SLEEP_LOG (nothing is recorded when the variable is unset). One write(2)
// per line on an O_APPEND descriptor keeps the lines of concurrent threads whole.
//
// DENSE_SLEEP_HOLD="<seconds>:<count>" puts the threads in the order real sleeping would: a call
// asking for <seconds> (the long work) returns only once <count> calls asking for any other
// length have been made, by any thread. So the long work outlasts that much short work, as it
// does on the clock, with no waiting and no timing. If the short calls never come (a schedule
// that does not hand the work out on demand), a safety of a few seconds lets every held call
// go, once, so that the program ends and its test fails on what it printed instead of hanging.
#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

void record(unsigned int seconds) {
  const char* path = std::getenv("DENSE_SLEEP_LOG");
  if (path == nullptr) {
    return;
  }
  char line[48];
  const int len = std::snprintf(line, sizeof line, "%d %u\n", omp_get_thread_num(), seconds);
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return;
  }
  if (::write(fd, line, static_cast<size_t>(len)) != len) {
    // A short record shows up as a missing call in the test; nothing more to do here.
  }
  ::close(fd);
}

// The hold shared by every thread of the process.
std::mutex g_mutex;
std::condition_variable g_changed;
unsigned g_short_calls = 0;
bool g_gave_up = false;

void hold(unsigned int seconds) {
  unsigned held = 0;
  unsigned count = 0;
  const char* setting = std::getenv("DENSE_SLEEP_HOLD");
  if (setting == nullptr || std::sscanf(setting, "%u:%u", &held, &count) != 2) {
    return;
  }
  std::unique_lock<std::mutex> lock(g_mutex);
  if (seconds != held) {
    g_short_calls++;
    g_changed.notify_all();
    return;
  }
  const auto enough = [&] { return g_gave_up || g_short_calls >= count; };
  if (!g_changed.wait_for(lock, std::chrono::seconds(5), enough)) {
    g_gave_up = true;
    g_changed.notify_all();
  }
}

}  // namespace

extern "C" unsigned int sleep(unsigned int seconds) {
  record(seconds);
  hold(seconds);
  return 0;
}
