// A preloadable stand-in for sleep(3), so the scheduling lessons run in no time under test.
//
// Each call returns 0 at once and appends one line "<OpenMP thread number> <seconds>\n" to the
// file named by DENSE_SLEEP_LOG (nothing is recorded when the variable is unset). One write(2)
// per line on an O_APPEND descriptor keeps the lines of concurrent threads whole.
#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern "C" unsigned int sleep(unsigned int seconds) {
  const char* path = std::getenv("DENSE_SLEEP_LOG");
  if (path == nullptr) return 0;
  char line[48];
  const int len = std::snprintf(line, sizeof line, "%d %u\n", omp_get_thread_num(), seconds);
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  if (::write(fd, line, static_cast<size_t>(len)) != len) {
    // A short record shows up as a missing call in the test; nothing more to do here.
  }
  ::close(fd);
  return 0;
}
