// Sends what the library prints on stdout to a scratch file, so that it stays out of the table.
#pragma once

#include <cstdio>
#include <string>

namespace compare_products {

// begin() points file descriptor 1 at a scratch file (after flushing
// stdout); end() flushes, points it back and returns every byte printed in
// between. Without a scratch file (tmpfile failed) the output is let through
// and end() returns nothing.
class stdout_sink {
 public:
  stdout_sink() = default;
  stdout_sink(const stdout_sink&) = delete;
  stdout_sink& operator=(const stdout_sink&) = delete;
  ~stdout_sink();

  void begin();
  std::string end();
  bool active() const { return active_; }

 private:
  FILE* scratch_ = nullptr;
  int saved_fd_ = -1;
  bool active_ = false;
};

// A library message of several lines as one: "a\n\t- b\n\n" -> "a; b".
std::string one_line(const std::string& text);

}  // namespace compare_products
