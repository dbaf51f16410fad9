// Output files claimed before the run, written or given back after it.
#include "outputs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace compare_products {

output_file::~output_file() { abandon(); }

std::string output_file::claim(const std::string& path, bool dash_is_stdout) {
  abandon();
  path_ = path;
  if (dash_is_stdout && path == "-") {
    fd_ = 1;
    return {};
  }
  // O_EXCL first, so that we know whether the file is ours to remove.
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ >= 0) {
    created_ = true;
    return {};
  }
  if (errno == EEXIST) {
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  }
  if (fd_ < 0) {
    return std::strerror(errno);
  }
  return {};
}

bool output_file::commit(const std::string& bytes) {
  if (fd_ < 0) {
    return false;
  }
  bool ok = true;
  if (fd_ == 1) {
    std::fflush(stdout);
  }
  struct stat st {};
  if (fd_ != 1 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    ok = ftruncate(fd_, 0) == 0;
  }
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t wrote = write(fd_, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    ok = wrote > 0;
    done += ok ? static_cast<size_t>(wrote) : 0;
  }
  if (fd_ != 1) {
    ok = close(fd_) == 0 && ok;
  }
  fd_ = -1;
  created_ = false;
  return ok;
}

void output_file::abandon() {
  if (fd_ < 0) {
    return;
  }
  if (fd_ != 1) {
    close(fd_);
    if (created_) {
      unlink(path_.c_str());
    }
  }
  fd_ = -1;
  created_ = false;
}

bool output_folder::claim(const std::string& dir) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at == dir.size() || dir[at] == '/') {
      const std::string part = dir.substr(0, at);
      if (mkdir(part.c_str(), 0777) == 0) {
        made_.push_back(part);
      } else if (errno != EEXIST) {
        return false;
      }
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return access(dir.c_str(), W_OK | X_OK) == 0;
}

void output_folder::abandon() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    rmdir(it->c_str());
  }
  made_.clear();
}

}  // namespace compare_products
