// The scratch file behind stdout_sink, reused and emptied for every call.
#include "stdout_sink.hpp"

#include <unistd.h>

namespace compare_products {

stdout_sink::~stdout_sink() {
  if (active_) {
    end();
  }
  if (scratch_ != nullptr) {
    std::fclose(scratch_);
  }
}

void stdout_sink::begin() {
  if (active_) {
    return;
  }
  std::fflush(stdout);
  if (scratch_ == nullptr) {
    scratch_ = std::tmpfile();
  }
  if (scratch_ == nullptr) {
    return;
  }
  const int fd = fileno(scratch_);
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) {
    return;
  }
  saved_fd_ = dup(1);
  if (saved_fd_ < 0) {
    return;
  }
  if (dup2(fd, 1) < 0) {
    close(saved_fd_);
    saved_fd_ = -1;
    return;
  }
  active_ = true;
}

std::string stdout_sink::end() {
  if (!active_) {
    return {};
  }
  std::fflush(stdout);
  dup2(saved_fd_, 1);
  close(saved_fd_);
  saved_fd_ = -1;
  active_ = false;
  std::string text;
  const int fd = fileno(scratch_);
  if (lseek(fd, 0, SEEK_SET) != 0) {
    return text;
  }
  char buf[4096];
  ssize_t got;
  while ((got = read(fd, buf, sizeof buf)) > 0) {
    text.append(buf, static_cast<size_t>(got));
  }
  return text;
}

std::string one_line(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') {
      out += text[i];
      continue;
    }
    // Skip the line break and the "\t- " that starts a detail line.
    while (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\t' ||
                                   text[i + 1] == '-' || text[i + 1] == ' ')) {
      ++i;
    }
    if (i + 1 < text.size()) {
      out += "; ";
    }
  }
  return out;
}

}  // namespace compare_products
