// The team kernel on 1 and 2 threads beside busy processes that this program starts itself:
// what a second thread gains when other programs keep the machine's cores busy.
//
// For each load (a number of busy processes: plain spinning loops at normal priority, not
// pinned, started before the load's rows and killed after them) and each size, it measures
// the product on 1 and on 2 threads through the kit's rounds (tools/common/rounds.hpp): one
// untimed call of each, then rounds, each timing both in a shuffled order, each timing at
// least --seconds of repeated calls, and takes the ratio of the two speeds within the round:
// both saw the same load at nearly the same moment. Before each timing it sleeps a little,
// so that the OpenMP runtime's idle threads, which spin for a few milliseconds after a
// parallel region (see docs/team-kernel.md), are asleep and take nothing from the single
// thread.
//
// Rows: the team kernel (team_kernel::mmsubmatrizOMP) at every --sizes, and the rows
// team (team_rows::multiplicarOMP, static schedule) at --rows-size. What else the
// machine was doing is printed beside each load: the share of the CPUs that programs
// other than this one and its busy processes used meanwhile.
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/team_kernel.hpp>
#include <dense/team_rows.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernel/dispatch.hpp"
#include "kernel/testing.hpp"
#include "tools/common/cli.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/report_cells.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/statistics.hpp"

extern char** environ;

namespace {

constexpr char kProgram[] = "team_kernel_under_load";
// The hidden first argument that turns this program into one busy process.
constexpr char kBusyLoop[] = "--busy-loop";
// How long the runtime's idle threads are given to fall asleep before a timing.
constexpr auto kSettle = std::chrono::milliseconds(30);
// How long new busy processes are given to spread over the CPUs.
constexpr auto kBusyStart = std::chrono::milliseconds(300);

// A busy process: spins until its parent ends it, and dies with its parent
// even if the parent is killed without a chance to end it.
[[noreturn]] void busy_loop(const char* parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (std::to_string(getppid()) != parent) {
    _exit(0);  // the parent is already gone
  }
  volatile uint64_t spins = 0;
  for (;;) {
    spins = spins + 1;
  }
}

// Busy processes for as long as this object lives.
class busy_processes {
 public:
  explicit busy_processes(int32_t count) {
    const std::string parent = std::to_string(getpid());
    for (int32_t i = 0; i < count; ++i) {
      char self[] = "/proc/self/exe";
      char mode[sizeof kBusyLoop];
      std::memcpy(mode, kBusyLoop, sizeof kBusyLoop);
      std::vector<char> parent_arg(parent.begin(), parent.end());
      parent_arg.push_back('\0');
      char* argv[] = {self, mode, parent_arg.data(), nullptr};
      pid_t pid = 0;
      if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "%s: could not start a busy process\n", kProgram);
        std::exit(tool_common::kExitDiffers);
      }
      pids_.push_back(pid);
    }
    if (count > 0) {
      std::this_thread::sleep_for(kBusyStart);
    }
  }
  ~busy_processes() {
    for (const pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  busy_processes(const busy_processes&) = delete;
  busy_processes& operator=(const busy_processes&) = delete;

 private:
  std::vector<pid_t> pids_;
};

// CPU time of this process's children that have been waited for, in seconds.
double children_cpu_seconds() {
  rusage r{};
  getrusage(RUSAGE_CHILDREN, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// A square matrix of random values, owned.
class square {
 public:
  square(int32_t n, uint32_t seed, bool small) : m_{nullptr, n, n} {
    dense_core::malocar(&m_);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> full(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<int32_t> narrow(1, 100);
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t j = 0; j < n; ++j) {
        m_.mat[i][j] = small ? narrow(gen) : full(gen);
      }
    }
  }
  ~square() { dense_core::mliberar(&m_); }
  square(const square&) = delete;
  square& operator=(const square&) = delete;
  dense_core::matriz* get() { return &m_; }

 private:
  dense_core::matriz m_;
};

// One product of the table: a name, and a call on `threads` threads that adds
// a x b into c.
struct product {
  const char* name;
  void (*call)(dense_core::matriz* a, dense_core::matriz* b, dense_core::matriz* c,
               int32_t threads);
};

void team_kernel_call(dense_core::matriz* a, dense_core::matriz* b, dense_core::matriz* c,
                      int32_t threads) {
  dense_arith::bloco ab{0, a->lin, 0, a->col};
  dense_arith::bloco bb{0, b->lin, 0, b->col};
  dense_arith::bloco cb{0, c->lin, 0, c->col};
  const dense_arith::submatriz da{a, &ab};
  const dense_arith::submatriz db{b, &bb};
  const dense_arith::submatriz dc{c, &cb};
  team_kernel::mmsubmatrizOMP(&da, &db, &dc, threads);
}

void rows_team_call(dense_core::matriz* a, dense_core::matriz* b, dense_core::matriz* c,
                    int32_t threads) {
  team_rows::multiplicarOMP(a, b, c, threads);
}

constexpr product kTeamKernel{"team kernel", team_kernel_call};
constexpr product kRowsTeam{"rows team", rows_team_call};

// The time of one call of `p` on `threads` threads: calls repeated for at least `seconds`.
double seconds_per_call(const product& p, square& a, square& b, square& c, int32_t threads,
                        double seconds) {
  std::this_thread::sleep_for(kSettle);
  const auto start = std::chrono::steady_clock::now();
  int64_t calls = 0;
  double elapsed = 0.0;
  do {
    p.call(a.get(), b.get(), c.get(), threads);
    ++calls;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < seconds);
  return elapsed / static_cast<double>(calls);
}

struct settings {
  std::vector<int32_t> sizes{1024, 2048};
  std::vector<int32_t> loads;  // busy processes per block of rows
  int32_t rows_size = 1024;    // 0: no rows-team rows
  // Enough rounds for a 95% interval of the ratio.
  int32_t rounds = static_cast<int32_t>(tool_common::kFewestForInterval);
  double seconds = 0.2;
  bool small = false;
  bool help = false;
};

// One line of the table: both speeds' medians and the ratio's median and interval.
void measure_row(const product& p, int32_t busy, int32_t n, const settings& s,
                 tool_common::marks* used) {
  square a(n, 1, s.small);
  square b(n, 2, s.small);
  square c(n, 3, true);
  std::vector<tool_common::measured_row> rows(2);
  std::vector<tool_common::candidate> candidates;
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].threads = static_cast<int32_t>(i) + 1;
    rows[i].size = {n, n, n};
    auto call = [&](const dense_core::matriz*, const dense_core::matriz*, int32_t threads) {
      tool_common::call_result got;
      got.seconds = seconds_per_call(p, a, b, c, threads, s.seconds);
      return got;
    };
    candidates.push_back({&rows[i], i, call, i == 0 ? nullptr : &rows[0]});
  }
  tool_common::round_rules rules;
  rules.exact_rounds = s.rounds;
  tool_common::splitmix64 order{static_cast<uint64_t>(n) * 1000 + static_cast<uint64_t>(busy)};
  tool_common::round_context ctx;
  ctx.order = &order;
  std::vector<tool_common::row_verdict> differences;
  tool_common::run_rounds(candidates, rules, ctx, &differences);
  for (auto& r : rows) {
    tool_common::derive_times(r);
  }
  const tool_common::summary ratio =
      tool_common::summarise(tool_common::paired_ratios(rows[1], rows[0]));
  std::printf("%4d  %-11s %5d  %9.1f  %9.1f  %s\n", busy, p.name, n, rows[0].gops, rows[1].gops,
              tool_common::speedup_cell(ratio, false, 0.0, used).c_str());
  std::fflush(stdout);
}

std::string read_loads(const std::string& text, std::vector<int32_t>* out) {
  std::vector<int32_t> loads;
  for (const auto& part : tool_common::split(text, ',')) {
    int64_t v = 0;
    if (!tool_common::parse_whole(part, 0, 64, &v)) {
      return "--busy: expected counts of busy processes from 0 to 64 separated by commas, got '" +
             text + "'";
    }
    loads.push_back(static_cast<int32_t>(v));
  }
  *out = loads;
  return "";
}

void print_help() {
  std::printf(
      "Usage: %s [--sizes LIST] [--busy LIST] [--rows-size N] [--rounds R] [--seconds S] "
      "[--small]\n"
      "The team kernel and the rows team on 1 and 2 threads, beside busy processes that this\n"
      "program starts (plain spinning loops at normal priority, not pinned).\n"
      "  --sizes LIST    sizes n of the team kernel's n x n products (default 1024,2048)\n"
      "  --busy LIST     busy processes beside each block of rows (default 0,1,CPUs)\n"
      "  --rows-size N   size of the rows team's product, 0 for none (default 1024)\n"
      "  --rounds R      rounds per row, each timing 1 and 2 threads (default 6, the fewest\n"
      "                  that give a 95%% interval)\n"
      "  --seconds S     least time of repeated calls per timing (default 0.2)\n"
      "  --small         values 1..100 (the kernel's 16-bit-range path) instead of the whole\n"
      "                  int32 range\n",
      kProgram);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], kBusyLoop) == 0) {
    busy_loop(argv[2]);
  }
  settings s;
  const int32_t cpus = tool_common::online_cpus();
  s.loads = cpus > 1 ? std::vector<int32_t>{0, 1, cpus} : std::vector<int32_t>{0, 1};
  const std::vector<tool_common::option> table = {
      tool_common::flag_entry("--help", &s.help),
      {"--sizes", 1,
       [&](const std::vector<std::string>& v) {
         return tool_common::read_count_list("--sizes", "sizes", v[0], 16384, &s.sizes);
       }},
      {"--busy", 1, [&](const std::vector<std::string>& v) { return read_loads(v[0], &s.loads); }},
      {"--rows-size", 1,
       [&](const std::vector<std::string>& v) {
         return tool_common::read_count("--rows-size", v[0], 0, 16384, &s.rows_size);
       }},
      {"--rounds", 1,
       [&](const std::vector<std::string>& v) {
         return tool_common::read_count("--rounds", v[0], 1, 1000, &s.rounds);
       }},
      {"--seconds", 1,
       [&](const std::vector<std::string>& v) {
         return tool_common::read_seconds("--seconds", v[0], 0.01, 60, &s.seconds);
       }},
      tool_common::flag_entry("--small", &s.small),
  };
  const std::string refusal = tool_common::read_options(argc, argv, table);
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, refusal.c_str());
    return tool_common::kExitRefused;
  }
  if (s.help) {
    print_help();
    return tool_common::kExitOk;
  }
  const auto features = block_kernel::host_features();
  std::printf(
      "%s: the team kernel (team_kernel::mmsubmatrizOMP) and the rows team\n"
      "(team_rows::multiplicarOMP) on 1 and 2 threads, beside busy processes that this program\n"
      "starts: plain spinning loops at normal priority, not pinned.\n"
      "%s; kernel path %s, values %s; %d rounds per row, each timing 1 and 2 threads\n"
      "(in a shuffled order) for at least %.2f s of calls; ratio = 2-thread speed over\n"
      "1-thread speed within a round: its median and the 95%% interval of the median.\n\n",
      kProgram, tool_common::machine_label().c_str(),
      block_kernel::path_name(s.small ? block_kernel::select_narrow_path(features)
                                      : block_kernel::select_path(features)),
      s.small ? "1..100" : "over the whole int32 range", s.rounds, s.seconds);
  std::printf("busy  product         n   1 thread  2 threads  2 / 1 (95%% interval)\n");
  std::printf("                           GOP/s      GOP/s\n");
  tool_common::marks used;
  for (const int32_t busy : s.loads) {
    // Our busy processes' CPU time is counted once they are reaped, before the meter stops.
    tool_common::load_meter meter;
    meter.start(tool_common::own_cpu_seconds() + children_cpu_seconds());
    {
      const busy_processes others(busy);
      for (const int32_t n : s.sizes) {
        measure_row(kTeamKernel, busy, n, s, &used);
      }
      if (s.rows_size > 0) {
        measure_row(kRowsTeam, busy, s.rows_size, s, &used);
      }
    }
    meter.stop(tool_common::own_cpu_seconds() + children_cpu_seconds());
    const tool_common::machine_load load = meter.load();
    if (load.known) {
      std::printf("      (other programs meanwhile: %.0f%% of the CPUs, steal %.0f%%)\n",
                  load.others_percent, load.steal_percent);
    }
  }
  std::fputs(tool_common::mark_notes(used, "thread").c_str(), stdout);
  return tool_common::kExitOk;
}
