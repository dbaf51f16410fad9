// compare_products' side of a worker process: start it, have it load a product, call the product,
// and stop it (see worker_protocol.hpp for what crosses between the two).
//
// Nothing a worker does can stop compare_products: a crash closes the
// socket and is read from the worker's exit status, a hang is cut off by the
// timeout and the worker killed. A worker runs in a process group of its own
// and is stopped as a group, so what a product forks goes with it (and a
// crash is seen when the worker ends, even while a child of the product still
// holds the socket). Every worker started is reaped: when it is stopped, and
// at the latest when compare_products exits, whether main returns, a refusal
// ends it with exit() or SIGINT/SIGTERM does (kill_every_worker_at_signal); a
// worker also dies by itself when compare_products dies of another signal
// (PR_SET_PDEATHSIG).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <dense/dense_core.hpp>
#include <string>

#include "rounds.hpp"

namespace compare_products {

namespace worker_protocol {
struct request;
struct reply;
}  // namespace worker_protocol

// The worker program beside the running program ("<its folder>/compare_products_worker").
std::string default_worker_program();

// CPU time (user + system) that every worker of this process has used so
// far, those still running and those reaped, in seconds, with every process
// their products forked: a worker's time is compare_products' own when the
// machine's load is told, never another program's.
double workers_cpu_seconds();

// How a worker ended: "crashed (signal 11, SIGSEGV)", "exited (status 3)".
std::string ending_text(int wait_status);

// Every worker alive now, its group killed and the worker waited for: what
// a SIGINT or SIGTERM handler calls before the process ends.
void kill_every_worker_at_signal();

// One worker process and the shared memory it multiplies in. Not copyable:
// it stays where it was made, as the list of live workers points to it.
class worker {
 public:
  // `program`: the worker program to start.
  explicit worker(std::string program);
  worker(const worker&) = delete;
  worker& operator=(const worker&) = delete;
  ~worker();

  // Starts a worker process (if none is running) and has it load `symbol`
  // from the shared object `path`, waiting at most `timeout` seconds. Empty
  // when it is loaded, else why not, after `path` as a refusal would go on:
  // ": cannot open: <dlerror's text>", " has no symbol 'x'".
  std::string load(const std::string& path, const std::string& symbol, double timeout);

  // Calls the loaded product on a x b with `threads`: the result copied into
  // a new heap matrix and the time the worker measured around the call, or a
  // failure ("changed its input B: ..." when the call changed a factor, its
  // result dropped). A crash, an exit and a call that took longer than `timeout`
  // seconds are fatal (the worker is gone; the next load starts a new one).
  call_result multiply(const dense_core::matriz* a, const dense_core::matriz* b, int32_t threads,
                       double timeout);

  // The next multiply copies its factors over, even when they lie where the
  // last ones did: for factors made and released in turn, whose heap places repeat.
  void forget_factors() { shared_a_ = shared_b_ = nullptr; }

  // Kills the worker process, if any, with every process of its group (what
  // the product forked), and reaps them all.
  void stop();
  // Kills the worker's group and waits for the worker, with nothing but
  // kill and waitpid: safe in a signal handler.
  void kill_at_signal() const;

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  std::string start();
  pid_t spawn(int request_fd);
  int finish();
  std::string exchange(const worker_protocol::request& q, worker_protocol::reply* r, double timeout,
                       bool* fatal);
  bool share_factors(const dense_core::matriz* a, const dense_core::matriz* b);

  std::string program_;
  pid_t pid_ = -1;
  int socket_ = -1;  // our end of the request socket
  int pidfd_ = -1;   // readable once the worker ended; -1 on a kernel without pidfds
  int memory_ = -1;  // the memfd, kept across restarts of the worker
  void* mapped_ = nullptr;
  size_t mapped_bytes_ = 0;
  // The factors in the shared memory now, by identity: the run keeps a shape's
  // factors unchanged and alive while its rows are measured.
  const dense_core::matriz* shared_a_ = nullptr;
  const dense_core::matriz* shared_b_ = nullptr;
  int32_t shared_shape_[3] = {0, 0, 0};
};

}  // namespace compare_products
