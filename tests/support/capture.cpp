// Byte-exact stdout capture through a temporary file.
#include "support/capture.hpp"

#include <cstdio>
#include <stdexcept>

namespace test_support {

std::string capture_stdout(const std::function<void()>& body) {
  std::fflush(stdout);
  FILE* sink = std::tmpfile();
  if (!sink) {
    throw std::runtime_error("tmpfile failed");
  }
  const int saved = ::dup(1);
  ::dup2(::fileno(sink), 1);
  body();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);

  std::string bytes;
  std::rewind(sink);
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, sink)) > 0) {
    bytes.append(buf, got);
  }
  std::fclose(sink);
  return bytes;
}

}  // namespace test_support
