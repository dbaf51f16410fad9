// Starting, feeding, timing out and reaping the worker processes of compare_products.
#include "worker.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "common/matrix_records.hpp"
#include "tools/common/machine.hpp"
#include "worker_protocol.hpp"

extern char** environ;

namespace compare_products {
namespace {

namespace wp = worker_protocol;

// The workers alive now, and the CPU time of those already reaped. One
// process-wide list, so that exit() reaps every worker whoever owns it; it
// is only touched from the thread that runs the rounds.
std::vector<worker*>& live_workers() {
  static std::vector<worker*> workers;
  return workers;
}
double g_reaped_cpu_seconds = 0.0;

void stop_every_worker() {
  // stop() takes each worker off the list.
  while (!live_workers().empty()) {
    live_workers().back()->stop();
  }
}

void watch(worker* w) {
  // The list is made before the handler is registered, so it outlives the handler's run at exit.
  auto& all = live_workers();
  static const bool registered = std::atexit(stop_every_worker) == 0;
  (void)registered;
  all.push_back(w);
}

void unwatch(worker* w) {
  auto& all = live_workers();
  all.erase(std::remove(all.begin(), all.end(), w), all.end());
}

double seconds_of(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Waits for `pid` and returns its wait status, adding its CPU time to the reaped total.
int reap(pid_t pid) {
  int status = 0;
  rusage used{};
  while (wait4(pid, &status, 0, &used) < 0 && errno == EINTR) {
  }
  g_reaped_cpu_seconds += seconds_of(used.ru_utime) + seconds_of(used.ru_stime);
  return status;
}

double monotonic_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Waits until `fd` can be read or `seconds` have passed; false on the time.
bool wait_readable(int fd, double seconds) {
  const double until = monotonic_seconds() + seconds;
  for (;;) {
    const double left = until - monotonic_seconds();
    if (left <= 0.0) {
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    // At most a minute at once: a timeout of a day does not fit poll's int.
    const int ms = static_cast<int>(std::min(left, 60.0) * 1000.0) + 1;
    const int ready = poll(&p, 1, ms);
    if (ready > 0) {
      return true;
    }
    if (ready < 0 && errno != EINTR) {
      return true;  // let the read say what is wrong
    }
  }
}

std::string errno_text(int error) { return std::strerror(error); }

// Descriptors of our own, high enough that none of them is 3 or 4 in the
// child before the dup2 that puts it there.
int moved_up(int fd) {
  if (fd < 0) {
    return fd;
  }
  const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return high;
}

}  // namespace

std::string default_worker_program() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    return "compare_products_worker";
  }
  const std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "compare_products_worker";
}

double workers_cpu_seconds() {
  double seconds = g_reaped_cpu_seconds;
  for (const worker* w : live_workers()) {
    seconds += tool_common::process_cpu_seconds(w->pid());
  }
  return seconds;
}

std::string ending_text(int wait_status) {
  if (WIFSIGNALED(wait_status)) {
    const int sig = WTERMSIG(wait_status);
    const char* abbrev = sigabbrev_np(sig);
    return "crashed (signal " + std::to_string(sig) +
           (abbrev != nullptr ? std::string(", SIG") + abbrev : std::string()) + ")";
  }
  return "exited (status " + std::to_string(WEXITSTATUS(wait_status)) + ")";
}

worker::worker(std::string program) : program_(std::move(program)) {}

worker::~worker() {
  stop();
  if (mapped_ != nullptr) {
    munmap(mapped_, mapped_bytes_);
  }
  if (memory_ >= 0) {
    close(memory_);
  }
}

std::string worker::start() {
  if (memory_ < 0) {
    memory_ = moved_up(memfd_create("compare_products_worker", MFD_CLOEXEC));
    if (memory_ < 0) {
      return "no shared memory: " + errno_text(errno);
    }
  }
  int ends[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    return "no socket: " + errno_text(errno);
  }
  const int ours = moved_up(ends[0]);
  const int theirs = moved_up(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs, wp::kRequestFd);
  posix_spawn_file_actions_adddup2(&actions, memory_, wp::kMemoryFd);
  // What the product prints outside its calls goes to our stderr, never into the table or CSV.
  posix_spawn_file_actions_adddup2(&actions, 2, 1);
  // Nothing else of ours: an output file we claimed stays ours alone.
  posix_spawn_file_actions_addclosefrom_np(&actions, wp::kMemoryFd + 1);
  const std::string parent = std::to_string(getpid());
  std::vector<char> arg0(program_.begin(), program_.end());
  arg0.push_back('\0');
  std::vector<char> arg1(parent.begin(), parent.end());
  arg1.push_back('\0');
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(theirs);
  if (rc != 0) {
    close(ours);
    return "cannot start the worker '" + program_ + "': " + errno_text(rc);
  }
  pid_ = pid;
  socket_ = ours;
  watch(this);
  return {};
}

void worker::stop() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGKILL);
  reap(pid_);
  close(socket_);
  socket_ = -1;
  pid_ = -1;
  unwatch(this);
}

// Sends `q` and waits for its reply. Empty when one came; else the worker
// is gone (reaped, *fatal set) and this says how.
std::string worker::exchange(const wp::request& q, wp::reply* r, double timeout, bool* fatal) {
  *fatal = false;
  const bool sent = send(socket_, &q, sizeof q, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof q);
  if (sent && !wait_readable(socket_, timeout)) {
    *fatal = true;
    stop();
    return "timed out";
  }
  if (sent && recv(socket_, r, sizeof *r, 0) == static_cast<ssize_t>(sizeof *r)) {
    return {};
  }
  // The socket closed: the worker is ending. Give it a moment to become a
  // zombie so that its own ending is what we report, then make sure.
  *fatal = true;
  int status = 0;
  pid_t done = 0;
  for (int tries = 0; tries < 2000 && done == 0; ++tries) {
    rusage used{};
    done = wait4(pid_, &status, WNOHANG, &used);
    if (done == pid_) {
      g_reaped_cpu_seconds += seconds_of(used.ru_utime) + seconds_of(used.ru_stime);
    } else if (done == 0) {
      usleep(1000);
    }
  }
  if (done != pid_) {
    kill(pid_, SIGKILL);
    status = reap(pid_);
  }
  close(socket_);
  socket_ = -1;
  pid_ = -1;
  unwatch(this);
  return ending_text(status);
}

std::string worker::load(const std::string& path, const std::string& symbol, double timeout) {
  if (pid_ <= 0) {
    const std::string why = start();
    if (!why.empty()) {
      return ": " + why;
    }
  }
  auto q = std::make_unique<wp::request>();
  q->kind = wp::request_kind::load;
  // A name without a slash would be looked for on the library path, not here.
  const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
  if (where.size() >= sizeof q->path || symbol.size() >= sizeof q->symbol) {
    return ": cannot open: the name is too long";
  }
  std::memcpy(q->path, where.c_str(), where.size() + 1);
  std::memcpy(q->symbol, symbol.c_str(), symbol.size() + 1);
  auto r = std::make_unique<wp::reply>();
  bool fatal = false;
  const std::string ended = exchange(*q, r.get(), timeout, &fatal);
  if (!ended.empty()) {
    return ": cannot open: loading it " + ended;
  }
  r->text[sizeof r->text - 1] = '\0';
  std::string text = r->text;
  switch (r->kind) {
    case wp::reply_kind::loaded:
      return {};
    case wp::reply_kind::cannot_open: {
      // dlerror starts with the path, which the refusal has already named.
      const std::string named = where + ": ";
      if (text.rfind(named, 0) == 0) {
        text.erase(0, named.size());
      }
      return ": cannot open: " + text;
    }
    default:
      return " has no symbol '" + symbol + "'";
  }
}

bool worker::share_factors(const dense_core::matriz* a, const dense_core::matriz* b) {
  const int32_t shape[3] = {a->lin, a->col, b->col};
  if (a == shared_a_ && b == shared_b_ && std::equal(shape, shape + 3, shared_shape_)) {
    return true;
  }
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const wp::memory_layout l = wp::layout_for(shape[0], shape[1], shape[2], page);
  if (mapped_ != nullptr) {
    munmap(mapped_, mapped_bytes_);
    mapped_ = nullptr;
  }
  shared_a_ = shared_b_ = nullptr;
  if (ftruncate(memory_, static_cast<off_t>(l.total)) != 0) {
    return false;
  }
  void* at = mmap(nullptr, l.total, PROT_READ | PROT_WRITE, MAP_SHARED, memory_, 0);
  if (at == MAP_FAILED) {
    return false;
  }
  mapped_ = at;
  mapped_bytes_ = l.total;
  auto* to = reinterpret_cast<int32_t*>(static_cast<char*>(at) + l.factors_offset);
  for (const dense_core::matriz* m : {a, b}) {
    const size_t row_bytes = static_cast<size_t>(m->col) * sizeof(int32_t);
    for (int32_t i = 0; i < m->lin; ++i) {
      std::memcpy(to, m->mat[i], row_bytes);
      to += m->col;
    }
  }
  shared_a_ = a;
  shared_b_ = b;
  std::copy(shape, shape + 3, shared_shape_);
  return true;
}

call_result worker::multiply(const dense_core::matriz* a, const dense_core::matriz* b,
                             int32_t threads, double timeout) {
  call_result got;
  if (pid_ <= 0 || !share_factors(a, b)) {
    got.failure = pid_ <= 0 ? "gave no result: its worker is not running"
                            : "gave no result: no shared memory for the factors";
    got.fatal = pid_ <= 0;
    return got;
  }
  auto q = std::make_unique<wp::request>();
  q->kind = wp::request_kind::multiply;
  q->rows = a->lin;
  q->inner = a->col;
  q->cols = b->col;
  q->threads = threads;
  auto r = std::make_unique<wp::reply>();
  const std::string ended = exchange(*q, r.get(), timeout, &got.fatal);
  if (!ended.empty()) {
    got.failure = ended;
    return got;
  }
  r->text[sizeof r->text - 1] = '\0';
  got.seconds = r->seconds;
  const std::string shape = std::to_string(r->lin) + "x" + std::to_string(r->col);
  switch (r->kind) {
    case wp::reply_kind::product: {
      got.product = dense_detail::new_zeroed_matrix(q->rows, q->cols);
      if (got.product == nullptr) {
        got.failure = "could not be checked: no memory for a copy of its result";
        break;
      }
      const auto* from = static_cast<const int32_t*>(mapped_);
      const size_t row_bytes = static_cast<size_t>(q->cols) * sizeof(int32_t);
      for (int32_t i = 0; i < q->rows; ++i) {
        std::memcpy(got.product->mat[i], from + static_cast<size_t>(i) * q->cols, row_bytes);
      }
      break;
    }
    case wp::reply_kind::no_result:
      got.failure = "gave no result" + (r->text[0] != '\0' ? ": " + one_line(r->text) : "");
      break;
    case wp::reply_kind::no_storage:
      got.failure = "gave a " + shape + " matrix record without storage (mat is null)";
      break;
    case wp::reply_kind::wrong_shape:
      got.failure = "gave a " + shape + " result; the product is " + std::to_string(q->rows) + "x" +
                    std::to_string(q->cols);
      break;
    default:
      got.failure = "gave no result: its library is not loaded";
      got.fatal = true;
      break;
  }
  return got;
}

}  // namespace compare_products
