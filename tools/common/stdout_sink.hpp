// Sends what a library call or a product prints on stdout aside, so that it stays out of the table;
// keeps only the first few KiB of it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>
#include <thread>

namespace tool_common {

// begin() points file descriptor 1 at a pipe (after flushing stdout) that a
// thread of ours drains; end() flushes, points descriptor 1 back and returns
// the first kKeptBytes printed in between. Whatever comes after those is read
// and dropped: a product that prints a gigabyte costs neither memory nor
// disk. Without a pipe (no descriptors left) the output is let through and
// end() returns nothing.
class stdout_sink {
 public:
  static constexpr size_t kKeptBytes = 4096;

  stdout_sink() = default;
  stdout_sink(const stdout_sink&) = delete;
  stdout_sink& operator=(const stdout_sink&) = delete;
  ~stdout_sink();

  void begin();
  std::string end();
  bool active() const { return active_; }

 private:
  void drain(int from);

  std::thread reader_;
  std::atomic<bool> ending_{false};
  std::string kept_;  // written by the reader until it is joined
  int saved_fd_ = -1;
  bool active_ = false;
};

// A library message of several lines as one: "a\n\t- b\n\n" -> "a; b".
std::string one_line(const std::string& text);

}  // namespace tool_common
