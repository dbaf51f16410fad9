// The pipe behind stdout_sink and the thread that empties it.
#include "stdout_sink.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tool_common {

stdout_sink::~stdout_sink() {
  if (active_) {
    end();
  }
}

void stdout_sink::begin() {
  if (active_) {
    return;
  }
  std::fflush(stdout);
  int ends[2] = {-1, -1};
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return;
  }
  saved_fd_ = fcntl(1, F_DUPFD_CLOEXEC, 0);
  if (saved_fd_ < 0 || dup2(ends[1], 1) < 0) {
    for (int fd : {ends[0], ends[1], saved_fd_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
    saved_fd_ = -1;
    return;
  }
  close(ends[1]);  // descriptor 1 is now the pipe's only writing end
  kept_.clear();
  ending_ = false;
  reader_ = std::thread(&stdout_sink::drain, this, ends[0]);
  active_ = true;
}

// Reads until every writer closed the pipe, which end() does for ours. A
// writer that lingers (a child the product forked, holding descriptor 1) is
// not waited for: once end() asks, a look every 50 ms ends the wait.
void stdout_sink::drain(int from) {
  char buf[16384];
  int late_reads = 0;
  for (;;) {
    const bool ending = ending_;
    pollfd p{from, POLLIN, 0};
    const int ready = poll(&p, 1, ending ? 0 : 50);
    // Once end() asks: what is in the pipe now, and at most 1 MiB more.
    if (ending && (ready <= 0 || ++late_reads > 64)) {
      break;
    }
    if (ready <= 0) {
      continue;
    }
    const ssize_t got = read(from, buf, sizeof buf);
    if (got <= 0 && !(got < 0 && errno == EINTR)) {
      break;  // every writer gone (or the descriptor closed under us)
    }
    if (got > 0 && kept_.size() < kKeptBytes) {
      kept_.append(buf, std::min(static_cast<size_t>(got), kKeptBytes - kept_.size()));
    }
  }
  close(from);
}

std::string stdout_sink::end() {
  if (!active_) {
    return {};
  }
  std::fflush(stdout);
  dup2(saved_fd_, 1);  // drops our writing end: the reader sees the end of the output
  close(saved_fd_);
  saved_fd_ = -1;
  ending_ = true;
  reader_.join();
  active_ = false;
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
