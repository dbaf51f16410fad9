// The wall clock that callers time their products with.
#include <sys/time.h>

#include <dense/textio.hpp>

namespace textio {

double wtime() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_usec) / 1000000.0 + static_cast<double>(tv.tv_sec);
}

}  // namespace textio
