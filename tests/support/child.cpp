// posix_spawn runner: output goes to temporary files, so a large output never blocks.
#include "support/child.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace test_support {
namespace {

std::string slurp(FILE* f) {
  std::string bytes;
  std::rewind(f);
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) {
    bytes.append(buf, got);
  }
  return bytes;
}

}  // namespace

child_result run_program(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
  std::vector<std::string> argv_s{program};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_s.size());
  for (auto& s : argv_s) {
    argv.push_back(s.data());
  }
  argv.push_back(nullptr);

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) {
      merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
  }
  for (const auto& [k, v] : env) {
    merged[k] = v;
  }
  std::vector<std::string> env_s;
  env_s.reserve(merged.size());
  for (const auto& [k, v] : merged) {
    env_s.push_back(k);
    env_s.back() += "=";
    env_s.back() += v;
  }
  std::vector<char*> envp;
  envp.reserve(env_s.size());
  for (auto& s : env_s) {
    envp.push_back(s.data());
  }
  envp.push_back(nullptr);

  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (!out || !err) {
    throw std::runtime_error("tmpfile failed");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ::fileno(out), 1);
  posix_spawn_file_actions_adddup2(&actions, ::fileno(err), 2);
  pid_t pid;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    std::fclose(out);
    std::fclose(err);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }

  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  child_result r;
  r.out = slurp(out);
  r.err = slurp(err);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  std::fclose(out);
  std::fclose(err);
  return r;
}

}  // namespace test_support
