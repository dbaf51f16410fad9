// Starting, feeding, timing out and reaping the worker processes of compare_products.
#include "worker.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/matrix_records.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/text.hpp"
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

// Waits for `pid` (a process id, or minus a group's) and returns its wait
// status, adding its CPU time to the reaped total; -1 when there was none to wait for.
int reap(pid_t pid) {
  int status = -1;
  rusage used{};
  pid_t done = -1;
  while ((done = wait4(pid, &status, 0, &used)) < 0 && errno == EINTR) {
  }
  if (done > 0) {
    g_reaped_cpu_seconds += seconds_of(used.ru_utime) + seconds_of(used.ru_stime);
  }
  return done > 0 ? status : -1;
}

// A descriptor that becomes readable when process `pid` ends, or -1 on a kernel without pidfds.
int pidfd_of(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Whether `pid` (our child) has ended, without reaping it.
bool has_ended(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// The CPU time of every live process in the process groups `groups` (each
// a worker and what its product forked), with the time of the children each
// has reaped: what reaping them all would add to the reaped total.
double groups_cpu_seconds(const std::vector<pid_t>& groups) {
  if (groups.empty()) {
    return 0.0;
  }
  uint64_t ticks = 0;
  DIR* proc = opendir("/proc");
  while (const dirent* e = proc != nullptr ? readdir(proc) : nullptr) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') {
      continue;
    }
    std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
    std::string stat;
    std::getline(in, stat);
    // After the name in parentheses: state, ppid, pgrp, ..., utime (the
    // 14th field), stime, cutime, cstime.
    std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 1)));
    std::string f[15];
    for (auto& x : f) {
      fields >> x;
    }
    if (!fields ||
        std::find(groups.begin(), groups.end(), std::atol(f[2].c_str())) == groups.end()) {
      continue;
    }
    for (int i = 11; i < 15; ++i) {
      ticks += std::strtoull(f[i].c_str(), nullptr, 10);
    }
  }
  if (proc != nullptr) {
    closedir(proc);
  }
  return static_cast<double>(ticks) / tool_common::ticks_per_second();
}

double monotonic_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What ended a wait for a reply.
enum class waited { readable, ended, timed_out };

// Waits until `fd` can be read, the process behind `pidfd` (or `pid`, when
// there is no pidfd) ends, or `seconds` pass. A product's child may hold the
// socket open after the worker died, so its end alone would never come.
waited wait_for_reply(int fd, int pidfd, pid_t pid, double seconds) {
  const double until = monotonic_seconds() + seconds;
  for (;;) {
    const double left = until - monotonic_seconds();
    if (left <= 0.0) {
      return waited::timed_out;
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {pidfd, POLLIN, 0}};
    // At most a minute at once (a timeout of a day does not fit poll's int);
    // without a pidfd, a look at the process every 50 ms.
    const double slice = pidfd >= 0 ? 60.0 : 0.05;
    const int ready =
        poll(p, pidfd >= 0 ? 2 : 1, static_cast<int>(std::min(left, slice) * 1000.0) + 1);
    if ((ready > 0 && p[0].revents != 0) || (ready < 0 && errno != EINTR)) {
      return waited::readable;  // a reply, or let the read say what is wrong
    }
    if ((ready > 0 && p[1].revents != 0) || (pidfd < 0 && has_ended(pid))) {
      return waited::ended;
    }
  }
}

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
  std::vector<pid_t> groups;
  for (const worker* w : live_workers()) {
    groups.push_back(w->pid());
  }
  return g_reaped_cpu_seconds + groups_cpu_seconds(groups);
}

void kill_every_worker_at_signal() {
  for (const worker* w : live_workers()) {
    w->kill_at_signal();
  }
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
      return "no shared memory: " + tool_common::errno_text(errno);
    }
  }
  int ends[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    return "no socket: " + tool_common::errno_text(errno);
  }
  const int ours = moved_up(ends[0]);
  const int theirs = moved_up(ends[1]);
  // Processes a product forks and leaves behind become ours when the worker
  // ends, so that stop() can reap every one of them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const pid_t pid = spawn(theirs);
  close(theirs);
  if (pid < 0) {
    close(ours);
    return "cannot start the worker '" + program_ + "': " + tool_common::errno_text(-pid);
  }
  pid_ = pid;
  pidfd_ = moved_up(pidfd_of(pid));
  socket_ = ours;
  watch(this);
  return {};
}

// Starts the worker program with `request_fd` as its socket, in a process
// group of its own (its id is the worker's pid): the product's children are
// stopped with it. The worker's pid, or minus the error.
pid_t worker::spawn(int request_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, request_fd, wp::kRequestFd);
  posix_spawn_file_actions_adddup2(&actions, memory_, wp::kMemoryFd);
  // What the product prints outside its calls goes to our stderr, never into the table or CSV.
  posix_spawn_file_actions_adddup2(&actions, 2, 1);
  // Nothing else of ours: an output file we claimed stays ours alone.
  posix_spawn_file_actions_addclosefrom_np(&actions, wp::kMemoryFd + 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  // The dispositions we changed for ourselves (an ignored SIGXFSZ) are not the worker's.
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    sigaddset(&defaults, sig);
  }
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  const std::string parent = std::to_string(getpid());
  std::vector<char> arg0(program_.begin(), program_.end());
  arg0.push_back('\0');
  std::vector<char> arg1(parent.begin(), parent.end());
  arg1.push_back('\0');
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program_.c_str(), &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -rc;
}

void worker::stop() { finish(); }

int worker::finish() {
  if (pid_ <= 0) {
    return -1;
  }
  // The whole group, while the worker (alive or a zombie) still holds its id.
  kill(-pid_, SIGKILL);
  const int status = reap(pid_);
  // Then whatever of the group is left: children the product forked, ours
  // now, each reaped and its CPU time counted with the worker's.
  while (reap(-pid_) != -1) {
  }
  close(socket_);
  if (pidfd_ >= 0) {
    close(pidfd_);
  }
  socket_ = pidfd_ = -1;
  pid_ = -1;
  unwatch(this);
  return status;
}

void worker::kill_at_signal() const {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

// Sends `q` and waits for its reply. Empty when one came; else the worker
// is gone (reaped, *fatal set) and this says how.
std::string worker::exchange(const wp::request& q, wp::reply* r, double timeout, bool* fatal) {
  *fatal = false;
  const bool sent = send(socket_, &q, sizeof q, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof q);
  const waited w = sent ? wait_for_reply(socket_, pidfd_, pid_, timeout) : waited::ended;
  if (w == waited::timed_out) {
    *fatal = true;
    stop();
    return "timed out";
  }
  if (w == waited::readable && recv(socket_, r, sizeof *r, 0) == static_cast<ssize_t>(sizeof *r)) {
    return {};
  }
  // The worker is ending. Give it a moment to end by itself, so that its
  // own ending is what we report, then make sure.
  *fatal = true;
  for (int tries = 0; tries < 2000 && !has_ended(pid_); ++tries) {
    usleep(1000);
  }
  const int status = finish();
  if (WIFEXITED(status) && WEXITSTATUS(status) == wp::kLostDescriptorsStatus) {
    return "closed the descriptors its worker answers on";
  }
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
  wp::to_flat(b, wp::to_flat(a, to));
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
      wp::from_flat(static_cast<const int32_t*>(mapped_), got.product);
      break;
    }
    case wp::reply_kind::changed_input:
      got.failure = r->text;
      break;
    case wp::reply_kind::no_result:
      got.failure =
          "gave no result" + (r->text[0] != '\0' ? ": " + tool_common::one_line(r->text) : "");
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
