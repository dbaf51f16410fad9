// Runs a built program as a child process (posix_spawn, never a bare fork:
// libgomp hangs in a forked child of a process that ran OpenMP).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace test_support {

struct child_result {
  std::string out;  // every byte written to stdout
  std::string err;  // every byte written to stderr
  int status = -1;  // exit status, or 128 + signal number when killed
};

// Starts `program` with `args` (not counting argv[0], which is `program`),
// the test's own environment with `env` set on top, and waits for it.
child_result run_program(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {});

}  // namespace test_support
