// Output files claimed before the run, written or given back after it.
#include "tools/common/outputs.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/text.hpp"

namespace tool_common {
namespace {

// The claims not yet committed or given back, for give_back_every_claim. A
// fixed table of pointers: a signal handler may walk it, nothing allocates.
// A run claims a handful of outputs; one past these is simply not undone at a signal.
output_file* g_files[32] = {};
output_folder* g_folders[4] = {};

template <typename T, size_t N>
void enlist(T* (&table)[N], T* item) {
  if (std::find(table, table + N, item) != table + N) {
    return;
  }
  const auto free_slot = std::find(table, table + N, nullptr);
  if (free_slot != table + N) {
    *free_slot = item;
  }
}

template <typename T, size_t N>
void delist(T* (&table)[N], T* item) {
  std::replace(table, table + N, item, static_cast<T*>(nullptr));
}

// `path` with the links of its last part followed to the name they lead to,
// whether that exists or not (a link to a file not yet made names that file).
std::string follow_links(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) {
      return path;  // not a link
    }
    std::string next(target, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) {
      next.insert(0, path, 0, slash + 1);
    }
    path = next;
  }
  return path;  // a loop of links: opening it will say so
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A descriptor of ours open for writing on the file `st` describes (1 if
// it is one, else the lowest), or -1.
int open_descriptor_on(const struct stat& st) {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) {
    return -1;
  }
  int found = -1;
  while (const dirent* e = readdir(fds)) {
    const int fd = std::atoi(e->d_name);
    struct stat at {};
    if (e->d_name[0] < '0' || e->d_name[0] > '9' || fd == dirfd(fds) || fstat(fd, &at) != 0 ||
        at.st_dev != st.st_dev || at.st_ino != st.st_ino) {
      continue;
    }
    // Standard output first: a terminal is often open on 0, 1 and 2 alike.
    const int access = fcntl(fd, F_GETFL) & O_ACCMODE;
    if ((access == O_WRONLY || access == O_RDWR) && found != 1 &&
        (found < 0 || fd < found || fd == 1)) {
      found = fd;
    }
  }
  closedir(fds);
  return found;
}

}  // namespace

output_file::~output_file() { abandon(); }

std::string output_file::claim(const std::string& path, bool dash_is_stdout) {
  abandon();
  path_ = path;
  struct stat st {};
  const bool dash = dash_is_stdout && path == "-";
  if (dash ? fstat(1, &st) != 0 : stat(path.c_str(), &st) != 0) {
    if (dash || errno != ENOENT) {
      return errno_text(errno);
    }
    // Nothing there yet: the file is made now, empty, to hold the name (and
    // its inode, so that another output naming it is caught).
    path_ = follow_links(path);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 || fstat(fd, &st) != 0) {
      std::string why = errno_text(errno);
      if (fd >= 0) {
        close(fd);
      }
      return why;
    }
    close(fd);
    created_ = true;
  } else if (S_ISDIR(st.st_mode)) {
    return std::strerror(EISDIR);
  } else if (const int open_fd = dash ? 1 : open_descriptor_on(st);
             open_fd >= 0 || !S_ISREG(st.st_mode)) {
    // Already open here (/dev/stdout, /dev/fd/N), or not a file to replace (a device, a pipe).
    fd_ = open_fd == 1   ? 1
          : open_fd >= 0 ? fcntl(open_fd, F_DUPFD_CLOEXEC, 0)
                         : open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) {
      return errno_text(errno);
    }
    mode_ = mode::streamed;
  } else {
    path_ = follow_links(path);
    // The file itself must take writing, as it would be written in place.
    const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      return errno_text(errno);
    }
    close(fd);
  }
  if (mode_ == mode::none) {
    mode_ = mode::replaced;
  }
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  file_mode_ = st.st_mode & 07777;
  enlist(g_files, this);
  return {};
}

bool output_file::clashes_with(const output_file& other) const {
  return claimed() && other.claimed() && dev_ == other.dev_ && ino_ == other.ino_ &&
         (mode_ == mode::replaced || other.mode_ == mode::replaced);
}

bool output_file::write_through(int fd, const std::function<bool(FILE*)>& write, bool sync) {
  FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    close(fd);
    return false;
  }
  bool ok = write(f);
  ok = std::fflush(f) == 0 && std::ferror(f) == 0 && ok;
  if (sync) {
    ok = fsync(fileno(f)) == 0 && ok;
  }
  return std::fclose(f) == 0 && ok;
}

bool output_file::commit_replaced(const std::function<bool(FILE*)>& write) {
  const std::string base = path_.substr(path_.rfind('/') + 1);
  temp_ = folder_of(path_) + "/." + base + ".XXXXXX";
  const int fd = mkostemp(temp_.data(), O_CLOEXEC);
  bool ok = fd >= 0;
  if (ok) {
    ok = fchmod(fd, file_mode_) == 0;
    ok = write_through(fd, write, true) && ok;
    ok = ok && rename(temp_.c_str(), path_.c_str()) == 0;
    if (!ok) {
      unlink(temp_.c_str());
    }
  } else if (errno == EACCES || errno == EROFS || errno == EPERM) {
    // A folder we may not add to: the file itself, written in place.
    const int in_place = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ok = in_place >= 0 && write_through(in_place, write, false);
  }
  temp_.clear();
  return ok;
}

bool output_file::commit_with(const std::function<bool(FILE*)>& write) {
  if (!claimed()) {
    return false;
  }
  bool ok = false;
  if (mode_ == mode::streamed) {
    // What was printed through stdio first stays first.
    std::fflush(nullptr);
    ok = write_through(fcntl(fd_, F_DUPFD_CLOEXEC, 0), write, false);
  } else {
    ok = commit_replaced(write);
  }
  if (ok) {
    created_ = false;  // it holds the run's contents now
  }
  abandon();
  return ok;
}

bool output_file::commit(const std::string& bytes) {
  return commit_with(
      [&bytes](FILE* f) { return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(); });
}

void output_file::abandon() {
  if (mode_ == mode::streamed && fd_ != 1) {
    close(fd_);
  }
  if (created_) {
    unlink(path_.c_str());
  }
  mode_ = mode::none;
  fd_ = -1;
  created_ = false;
  delist(g_files, this);
}

void output_file::undo_at_signal() const {
  if (!temp_.empty()) {
    unlink(temp_.c_str());
  }
  if (created_) {
    unlink(path_.c_str());
  }
}

output_folder::output_folder() = default;

output_folder::~output_folder() { delist(g_folders, this); }

bool output_folder::claim(const std::string& dir) {
  enlist(g_folders, this);
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
  undo_at_signal();
  made_.clear();
}

void output_folder::undo_at_signal() const {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    rmdir(it->c_str());
  }
}

void give_back_every_claim() {
  // Files first: a folder goes only once it is empty.
  for (const output_file* f : g_files) {
    if (f != nullptr) {
      f->undo_at_signal();
    }
  }
  for (const output_folder* d : g_folders) {
    if (d != nullptr) {
      d->undo_at_signal();
    }
  }
}

}  // namespace tool_common
