// Helpers for checking the lesson programs' output.
#include "program_output.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace examples_test {

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    const size_t nl = text.find('\n', from);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(from));
      break;
    }
    lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  return lines;
}

std::map<std::string, std::string> omp_env(const std::string& threads, int active_levels) {
  return {{"OMP_NUM_THREADS", threads},
          {"OMP_DYNAMIC", "false"},
          {"OMP_MAX_ACTIVE_LEVELS", std::to_string(active_levels)},
          {"OMP_THREAD_LIMIT", "1024"}};
}

std::vector<std::string> with_prefix(const std::vector<std::string>& lines,
                                     const std::string& prefix) {
  std::vector<std::string> out;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
               [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char buf[256];
  const int len = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (len < 0 || static_cast<size_t>(len) >= sizeof buf) {
    throw std::length_error("format");
  }
  return std::string(buf, static_cast<size_t>(len));
}

temp_path::temp_path() {
  std::string pattern = testing::TempDir() + "dense_examples_XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    throw std::runtime_error("mkstemp failed");
  }
  ::close(fd);
  ::unlink(pattern.c_str());  // the program under test creates it
  path_ = pattern;
}

temp_path::~temp_path() { ::unlink(path_.c_str()); }

std::string temp_path::contents() const {
  std::ifstream in(path_, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace examples_test
