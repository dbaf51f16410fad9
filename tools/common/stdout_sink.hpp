// Sends what a library call or a product prints on stdout aside, so that it stays out of the table;
// keeps only the first few KiB of it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace tool_common {

// begin() points file descriptor 1 at a pipe (after flushing stdout) that a
// thread of ours drains; end() flushes, points descriptor 1 back, reads what
// is still in the pipe and returns the first kKeptBytes printed in between.
// Whatever comes after those is read and dropped: a product that prints a
// gigabyte costs neither memory nor disk. Without a pipe (no descriptors
// left) the output is let through and end() returns nothing.
//
// The pipe and its reader are made at the first begin() and kept until the
// sink is destroyed, the reader asleep in poll() between calls. A reader
// started for each call was still runnable as the timed call began: the team
// kernel, which counts runnable threads to size a small product's team, took
// it for another program's and ran alone in about a third of the calls.
// Bytes that arrive between two calls (a child a product forked, still
// printing) are dropped; a child still printing during a later call is that
// call's output.
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
  bool open_pipe();
  void drain();
  void read_available();  // with mutex_ held

  std::thread reader_;
  std::mutex mutex_;  // guards kept_, collecting_ and reads of the pipe
  std::string kept_;
  bool collecting_ = false;
  int read_fd_ = -1;  // the pipe, non-blocking on this end
  int write_fd_ = -1;
  int wake_fd_ = -1;  // an eventfd that ends the reader
  int saved_fd_ = -1;
  bool active_ = false;
};

// A library message of several lines as one: "a\n\t- b\n\n" -> "a; b".
std::string one_line(const std::string& text);

}  // namespace tool_common
