// Folders, PATH search and the gnuplot child process, kept apart from what compare_products
// measures.
#include "compare_process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace compare_tool {

void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    // open() takes the lowest free descriptor, which is this one.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

bool make_directory(const std::string& dir) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at == dir.size() || dir[at] == '/') {
      const std::string part = dir.substr(0, at);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
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

std::string find_on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const size_t length = (end == std::string::npos ? dirs.size() : end) - start;
    // An empty entry means the current directory.
    std::string candidate = length == 0 ? std::string(".") : dirs.substr(start, length);
    candidate.append("/").append(program);
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (end == std::string::npos) {
      return {};
    }
    start = end + 1;
  }
}

bool run_gnuplot(const std::string& gnuplot, const std::string& script, int png_fd) {
  FILE* in = std::tmpfile();
  if (in == nullptr) {
    return false;
  }
  std::fwrite(script.data(), 1, script.size(), in);
  std::fflush(in);
  std::rewind(in);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(in), 0);
  posix_spawn_file_actions_adddup2(&actions, png_fd, 1);
  char arg0[] = "gnuplot";
  char* argv[] = {arg0, nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, gnuplot.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  std::fclose(in);
  if (rc != 0) {
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace compare_tool
