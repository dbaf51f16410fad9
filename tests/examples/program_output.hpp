// Helpers for checking the lesson programs' output: lines, OpenMP environments, temporary files.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace examples_test {

// The lines of `text` without their newlines; a last line without a newline is kept as it is
// and flagged by `text` not ending in '\n' (checked separately by the tests).
std::vector<std::string> split_lines(const std::string& text);

// An environment that pins the OpenMP team: OMP_NUM_THREADS (a number or a per-level list),
// no dynamic adjustment, nesting off unless `active_levels` says otherwise.
std::map<std::string, std::string> omp_env(const std::string& threads, int active_levels = 1);

// The lines of `lines` that start with `prefix`, in their order.
std::vector<std::string> with_prefix(const std::vector<std::string>& lines,
                                     const std::string& prefix);

// `v` sorted.
std::vector<std::string> sorted(std::vector<std::string> v);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A fresh empty file name in the test's temporary directory, removed when this goes away.
class temp_path {
 public:
  temp_path();
  temp_path(const temp_path&) = delete;
  temp_path& operator=(const temp_path&) = delete;
  ~temp_path();
  const std::string& str() const { return path_; }
  std::string contents() const;  // empty when the file does not exist

 private:
  std::string path_;
};

// True when this test binary was built with a sanitizer that cannot run under a small
// address-space limit.
constexpr bool built_with_sanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

}  // namespace examples_test
