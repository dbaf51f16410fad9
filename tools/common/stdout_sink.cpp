// The pipe behind stdout_sink and the thread that empties it.
#include "stdout_sink.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace tool_common {

stdout_sink::~stdout_sink() {
  if (active_) {
    end();
  }
  if (reader_.joinable()) {
    const uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) {
      // The reader cannot be told: leave it, asleep, to the process's end.
      reader_.detach();
    } else {
      reader_.join();
    }
  }
  for (int fd : {read_fd_, write_fd_, wake_fd_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

bool stdout_sink::open_pipe() {
  if (read_fd_ >= 0) {
    return true;
  }
  int ends[2] = {-1, -1};
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return false;
  }
  const int wake = eventfd(0, EFD_CLOEXEC);
  if (wake < 0 || fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
    for (int fd : {ends[0], ends[1], wake}) {
      if (fd >= 0) {
        close(fd);
      }
    }
    return false;
  }
  read_fd_ = ends[0];
  write_fd_ = ends[1];
  wake_fd_ = wake;
  reader_ = std::thread(&stdout_sink::drain, this);
  return true;
}

void stdout_sink::begin() {
  if (active_) {
    return;
  }
  std::fflush(stdout);
  if (!open_pipe()) {
    return;
  }
  saved_fd_ = fcntl(1, F_DUPFD_CLOEXEC, 0);
  if (saved_fd_ < 0 || dup2(write_fd_, 1) < 0) {
    if (saved_fd_ >= 0) {
      close(saved_fd_);
    }
    saved_fd_ = -1;
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  read_available();  // what came between calls is no one's
  kept_.clear();
  collecting_ = true;
  active_ = true;
}

void stdout_sink::read_available() {
  char buf[16384];
  for (;;) {
    const ssize_t got = read(read_fd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return;  // empty for now (EAGAIN), or every writer gone
    }
    if (collecting_ && kept_.size() < kKeptBytes) {
      kept_.append(buf, std::min(static_cast<size_t>(got), kKeptBytes - kept_.size()));
    }
  }
}

// Asleep in poll() until the pipe has bytes or the sink ends.
void stdout_sink::drain() {
  for (;;) {
    pollfd p[2] = {{read_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if ((p[1].revents & POLLIN) != 0) {
      return;
    }
    if ((p[0].revents & (POLLIN | POLLHUP)) != 0) {
      const std::lock_guard<std::mutex> lock(mutex_);
      read_available();
    }
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p[0].revents & POLLIN) == 0) {
      return;  // no writer left, ever: nothing more can come
    }
  }
}

std::string stdout_sink::end() {
  if (!active_) {
    return {};
  }
  std::fflush(stdout);
  dup2(saved_fd_, 1);  // the call's output has all been written into the pipe
  close(saved_fd_);
  saved_fd_ = -1;
  active_ = false;
  const std::lock_guard<std::mutex> lock(mutex_);
  read_available();  // what the reader has not reached yet
  collecting_ = false;
  return std::move(kept_);
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

}  // namespace tool_common
