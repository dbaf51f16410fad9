// Standard descriptors, PATH search and the gnuplot child process, kept apart from what
// compare_products measures.
#include "process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace compare_products {

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

std::string gnuplot_quoted(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
    }
    // A line break would end the command the string is in.
    out += ch == '\n' || ch == '\r' ? ' ' : ch;
  }
  return out + "\"";
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

bool run_gnuplot(const std::string& gnuplot, const std::string& script, std::string* png) {
  FILE* in = std::tmpfile();
  FILE* out = std::tmpfile();
  if (in == nullptr || out == nullptr) {
    if (in != nullptr) {
      std::fclose(in);
    }
    if (out != nullptr) {
      std::fclose(out);
    }
    return false;
  }
  std::fwrite(script.data(), 1, script.size(), in);
  std::fflush(in);
  std::rewind(in);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(in), 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
  char arg0[] = "gnuplot";
  char* argv[] = {arg0, nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, gnuplot.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  std::fclose(in);
  int status = 0;
  bool ran = rc == 0;
  while (ran && waitpid(pid, &status, 0) < 0) {
    ran = errno == EINTR;
  }
  ran = ran && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  png->clear();
  std::rewind(out);
  char buf[65536];
  for (size_t got; ran && (got = std::fread(buf, 1, sizeof buf, out)) > 0;) {
    png->append(buf, got);
  }
  std::fclose(out);
  return ran;
}

}  // namespace compare_products
