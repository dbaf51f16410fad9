// The exit guard and the reference readers shared by the fuzz targets.
#include "fuzz_support.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DENSE_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define DENSE_FUZZ_ASAN 1
#endif
#if defined(DENSE_FUZZ_ASAN)
// The sanitizer allocator's own interface (declared here: not every
// toolchain installs its header), under the runtime's reserved names.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" int __sanitizer_get_ownership(const volatile void* p);
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
// NOLINTEND(bugprone-reserved-identifier)
#endif

namespace {

// The innermost active guard of this thread, and the status its exit carried.
struct guard_state {
  std::jmp_buf* active = nullptr;
  int status = 0;
};

guard_state& state() {
  thread_local guard_state s;
  return s;
}

}  // namespace

// -Wl,--wrap=exit sends every call of exit() in the binary here. Outside a
// guarded call (libFuzzer's own exits, the end of main) it exits for real.
// The names are the ones --wrap gives: reserved on purpose.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" [[noreturn]] void __real_exit(int status);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" [[noreturn]] void __wrap_exit(int status) {
  guard_state& s = state();
  if (s.active) {
    s.status = status;
    std::longjmp(*s.active, 1);
  }
  __real_exit(status);
}

namespace fuzz_support {

exit_record run_guarded_impl(void (*fn)(void*), void* ctx) {
  guard_state& s = state();
  std::jmp_buf* const outer = s.active;
  std::jmp_buf here;
  if (setjmp(here) == 0) {
    s.active = &here;
    fn(ctx);
    s.active = outer;
    return {};
  }
  s.active = outer;
  return {true, s.status};
}

void fail(const char* what) {
  std::fflush(stdout);
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

FILE* open_bytes(std::string_view bytes) {
  FILE* f = open_scratch();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    fail("cannot fill the in-memory file");
  }
  std::fflush(f);
  std::rewind(f);
  return f;
}

FILE* open_scratch() {
  const int fd = ::memfd_create("dense-fuzz", 0);
  if (fd < 0) {
    fail("memfd_create failed");
  }
  FILE* f = ::fdopen(fd, "w+");
  if (!f) {
    fail("fdopen failed");
  }
  return f;
}

std::string read_all(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) {
    out.append(buf, got);
  }
  return out;
}

int32_t convert_word(std::string_view word) {
  const std::string copy(word);
  const long v = std::strtol(copy.c_str(), nullptr, 10);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(v)));
}

split_result reference_split(std::string_view text, char delim, int32_t maximo) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) {
    text = text.substr(0, nul);
  }
  split_result r;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != delim) {
      continue;
    }
    if (static_cast<int64_t>(r.values.size()) >= maximo) {
      r.over_limit = true;
      return r;
    }
    r.values.push_back(convert_word(text.substr(start, i - start)));
    start = i + 1;
  }
  return r;
}

file_lines reference_lines(std::string_view bytes) {
  file_lines out;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') {
      continue;
    }
    const size_t len = i - start;
    out.lines.push_back(bytes.substr(start, len));
    out.table.push_back(static_cast<int32_t>(out.lines.size() == 1 ? len : len + 1));
    start = i + 1;
  }
  return out;
}

size_line reference_size_line(std::string_view bytes) {
  size_line r;
  if (bytes.size() <= 15) {
    return r;
  }
  const std::string_view tail = bytes.substr(15, 20);
  const size_t nl = tail.find('\n');
  if (nl == std::string_view::npos) {
    return r;
  }
  r.ok = true;
  const std::string_view line = tail.substr(0, nl);
  const split_result s = reference_split(line, '#', static_cast<int32_t>(line.size()));
  r.rows = s.values.empty() ? 0 : s.values[0];
  return r;
}

std::string reference_file(int32_t lin, int32_t col, const std::vector<int32_t>& values) {
  std::string out = "#Linha#Coluna#\n";
  out += std::to_string(lin) + "#" + std::to_string(col) + "#\n";
  size_t at = 0;
  for (int32_t i = 0; i < lin; ++i) {
    for (int32_t j = 0; j < col; ++j) {
      out += std::to_string(values[at++]) + ",";
    }
    out += "\n";
  }
  return out;
}

size_t allocated_size(const void* p) {
#if defined(DENSE_FUZZ_ASAN)
  if (p && __sanitizer_get_ownership(p)) {
    return __sanitizer_get_allocated_size(p);
  }
#endif
  (void)p;
  return 0;
}

}  // namespace fuzz_support
